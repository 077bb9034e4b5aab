// ONVIF Open against a third-party client's connect: CKorvane's set-up + Open
// and the npm onvif client's `new Cam(...)` connect (a node process this
// section starts, which times itself and prints JSON), medians over the same
// number of runs on the same simulated camera. The node client comes from
// scripts/install-deps.sh test; without it the figure says why it is missing.
#include "Sections.h"
#include "Measure.h"
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <cstdio>
#include <regex>
#include <stdexcept>

namespace korvane::bench {

namespace {

constexpr int kRuns = 40;

double MedianOpenMillis(std::uint16_t port)
{
    Samples samples;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        CKorvane camera(MODE_NETWORK);
        camera.SetDeviceType(DEVICE_ONVIF);
        camera.SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", port, 0, "admin", "secret", "");
        if (!camera.Open()) throw std::runtime_error("the simulated ONVIF camera did not open");
        samples.micros.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        camera.Close();
    }
    return samples.Median();
}

// The node script's one line of output, or why there is none.
std::string RunNode(std::uint16_t port, int& status)
{
    const std::string command = "NODE_PATH=\"${KORVANE_NPM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane/npm}/"
                                "node_modules\" node '" KORVANE_BENCH_NPM_SCRIPT "' " +
                                std::to_string(port) + " " + std::to_string(kRuns) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot start node");
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    status = pclose(pipe);
    return output;
}

}  // namespace

void NpmClientOpen(CReport& report)
{
    report.Section("11. ONVIF Open against the npm onvif client's connect");
    sim::COnvifCamera camera;
    const double open = MedianOpenMillis(camera.Port());
    int status = 0;
    const std::string output = RunNode(camera.Port(), status);
    std::smatch list;
    if (status != 0 || !std::regex_search(output, list, std::regex("\"connect_ms\":\\[([^\\]]*)\\]"))) {
        report.Add(Figure{"set-up + Open (npm client not measured)", open, 0, "ms", "", true,
                          "node or its onvif client failed (scripts/install-deps.sh test installs them): " +
                              output.substr(0, 160)});
        return;
    }
    Samples connect;
    const std::string numbers = list[1];
    const std::regex number("[0-9.eE+-]+");
    for (std::sregex_iterator it(numbers.begin(), numbers.end(), number), end; it != end; ++it)
        connect.micros.push_back(std::stod(it->str()));
    if (connect.micros.size() != static_cast<std::size_t>(kRuns))
        throw std::runtime_error("the node client timed " + std::to_string(connect.micros.size()) + " connects, not " +
                                 std::to_string(kRuns));
    report.Add(Figure{"set-up + Open, against npm onvif connect", open, connect.Median(), "ms", "", true,
                      "medians of " + std::to_string(kRuns) + " on one simulated camera; raw: npm onvif 0.8.3 in node"});
}

}  // namespace korvane::bench
