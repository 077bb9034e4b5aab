// What a command costs the host: a facade call against a raw write() of the
// same 7 bytes to the same pseudo-terminal, and a tracking command against a
// raw sendto() of the same datagram.
#include "Cameras.h"
#include "RawLinks.h"
#include "Sections.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>

namespace korvane::bench {

namespace {

constexpr std::int64_t kCalls = 100000;
const std::uint8_t kPanLeft[7] = {0xFF, 0x01, 0x00, 0x04, 0x20, 0x1E, 0x43};  // MoveLeft at speed 32

class CCollector : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) nanos = run.GetAdjustedRealTime();
    }
    double nanos = 0;
};

// Nanoseconds per call of fn, by Google Benchmark.
double NanosPerCall(const char* name, std::function<void()> fn)
{
    benchmark::RegisterBenchmark(name, [fn](benchmark::State& state) {
        for (auto _ : state) fn();
    })->Iterations(kCalls)->UseRealTime()->Unit(benchmark::kNanosecond);
    CCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::ClearRegisteredBenchmarks();
    return collector.nanos;
}

void AddCost(CReport& report, const std::string& name, double facade, double raw)
{
    report.Add(Figure{name, facade / 1000.0, raw / 1000.0, "us/call", "<= 2x raw", facade <= 2 * raw, ""});
}

}  // namespace

void CommandCost(CReport& report)
{
    report.Section("1. command cost (host side, per call)");
    {
        sim::CSerialPeer peer;
        // Opened before the camera takes the line for itself.
        const int raw = ::open(peer.DeviceName().c_str(), O_WRONLY | O_NOCTTY);
        auto camera = OpenSerialCamera(peer.DeviceName(), 1, nullptr);
        if (raw < 0 || !camera) throw std::runtime_error("serial camera for the command cost");
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> drained{0};
        std::thread drainer([&] {
            while (!stop) drained += peer.ReadBytes(1 << 16, std::chrono::milliseconds(20)).size();
        });
        const double rawNanos = NanosPerCall("serial raw write", [&] { (void)::write(raw, kPanLeft, sizeof kPanLeft); });
        WaitQuiet([&] { return drained.load(); });
        const double facadeNanos = NanosPerCall("serial facade MoveLeft", [&] { camera->MoveLeft(); });
        WaitQuiet([&] { return drained.load(); });
        AddCost(report, "serial MoveLeft vs write() of 7 bytes", facadeNanos, rawNanos);
        camera.reset();
        stop = true;
        drainer.join();
        ::close(raw);
    }
    {
        sim::CTrackingPeer peer;
        auto camera = OpenTrackingCamera(peer.Port(), 1, nullptr);
        if (!camera) throw std::runtime_error("tracking camera for the command cost (is UDP port 10000 free?)");
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> received{0};
        std::thread drainer([&] {
            while (!stop)
                if (peer.NextDatagram(std::chrono::milliseconds(20))) ++received;
        });
        CRawUdpSender sender;
        const double rawNanos =
            NanosPerCall("tracking raw sendto", [&] { sender.Send(peer.Port(), kPanLeft, sizeof kPanLeft); });
        WaitQuiet([&] { return received.load(); });
        const double facadeNanos = NanosPerCall("tracking facade MoveLeft", [&] { camera->MoveLeft(); });
        WaitQuiet([&] { return received.load(); });
        AddCost(report, "tracking MoveLeft vs sendto() of 7 bytes", facadeNanos, rawNanos);
        camera.reset();
        stop = true;
        drainer.join();
    }
}

}  // namespace korvane::bench
