// korvane_bench: how fast and how light the library is, each figure beside
// the raw system call it stands on. Runs in about a minute.
#include "Report.h"
#include "Sections.h"

#include <korvane/Korvane.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

void QuietMessageBox(const char*, const char*, void*) {}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: korvane_bench\n"
                    "Measures command cost, report latency, report throughput, scale, idle CPU and\n"
                    "the ONVIF round trip, each against its raw baseline (write, sendto, read,\n"
                    "recvfrom, a raw HTTP post), ONVIF set-up over HTTPS against HTTP, the\n"
                    "VISCA-over-IP round trip against raw send/recv and,\n"
                    "inside tests/in_netns.sh, discovery's time to its first answer; and prints\n"
                    "a table with ratios and targets; and how soon a stop behind 2,000 queued\n"
                    "moves reaches a 9600-baud line, and an ONVIF stop while a position\n"
                    "read hangs; ONVIF Open against the npm onvif client's connect (node,\n"
                    "installed by scripts/install-deps.sh test).\n"
                    "Needs UDP ports 10000 and 20715 free; progress goes to standard error.\n");
        return 0;
    }
    int benchmarkArgc = 1;
    benchmark::Initialize(&benchmarkArgc, argv);
    KorvaneSetMessageHandler(&QuietMessageBox, nullptr);
    korvane::bench::CReport report;
    using Section = void (*)(korvane::bench::CReport&);
    int failures = 0;
    for (const Section section : {&korvane::bench::CommandCost, &korvane::bench::ReportLatency,
                                  &korvane::bench::ReportThroughput, &korvane::bench::Scale,
                                  &korvane::bench::IdleCpu, &korvane::bench::OnvifRoundTrip,
                                  &korvane::bench::OnvifSetUp, &korvane::bench::ViscaIpRoundTrip,
                                  &korvane::bench::StopUnderPressure, &korvane::bench::OnvifStopUnderPressure,
                                  &korvane::bench::NpmClientOpen}) {
        try {
            section(report);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "section failed: %s\n", error.what());
            ++failures;
        }
    }
    report.Print();
    return failures == 0 ? 0 : 1;
}
