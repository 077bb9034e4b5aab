// Scale: memory, threads and descriptors of a process with 1, 100 and 1000
// open cameras of each kind; CPU of an idle process with 100 open cameras.
#include "Cameras.h"
#include "Sections.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"

#include <cstdio>
#include <functional>
#include <thread>

namespace korvane::bench {

namespace {

constexpr unsigned kCamerasPerLine = 100;

// The peers the cameras talk to, made before the baseline is taken.
struct Peers {
    explicit Peers(std::size_t serialLines)
    {
        for (std::size_t i = 0; i < serialLines; ++i) lines.push_back(std::make_unique<sim::CSerialPeer>());
    }
    std::vector<std::unique_ptr<sim::CSerialPeer>> lines;
    sim::CTrackingPeer tracking;
    sim::CRelayPeer relay;
    sim::COnvifCamera onvif;
};

using Opener = std::function<std::unique_ptr<CKorvane>(Peers&, unsigned index)>;

struct Kind {
    const char* name;
    Opener open;
};

const std::vector<Kind>& Kinds()
{
    static const std::vector<Kind> kinds = {
        {"serial", [](Peers& p, unsigned i) {
             return OpenSerialCamera(p.lines[i / kCamerasPerLine]->DeviceName(), i % kCamerasPerLine + 1, nullptr);
         }},
        {"tracking", [](Peers& p, unsigned i) { return OpenTrackingCamera(p.tracking.Port(), i + 1, nullptr); }},
        {"relay (type 4)", [](Peers&, unsigned i) { return OpenRelayCamera(i + 1, nullptr); }},
        {"onvif", [](Peers& p, unsigned) { return OpenOnvifCamera(p.onvif.Port()); }},
    };
    return kinds;
}

}  // namespace

void Scale(CReport& report)
{
    report.Section("4. scale (what the open cameras add to the process)");
    RaiseFileLimit();
    for (const Kind& kind : Kinds()) {
        for (const unsigned count : {1u, 100u, 1000u}) {
            Peers peers((count + kCamerasPerLine - 1) / kCamerasPerLine);
            const ProcessUsage before = CurrentUsage();
            std::vector<std::unique_ptr<CKorvane>> cameras;
            const auto start = Clock::now();
            for (unsigned i = 0; i < count; ++i)
                if (auto camera = kind.open(peers, i)) cameras.push_back(std::move(camera));
            const double openSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            const ProcessUsage after = CurrentUsage();
            const std::string label = std::string(kind.name) + " x" + std::to_string(count);
            char note[160];
            std::snprintf(note, sizeof note, "%zu open in %d ms, RSS %+.1f MiB, threads %d -> %d, descriptors %+d",
                          cameras.size(), static_cast<int>(openSeconds * 1000), after.rssMiB - before.rssMiB,
                          before.threads, after.threads, after.openFiles - before.openFiles);
            report.Add(Figure{label + " heap per camera", (after.heapKiB - before.heapKiB) / count, 0, "KiB", "",
                              cameras.size() == count, note});
        }
        // Everything is released again: threads back to where they were.
    }
}

void IdleCpu(CReport& report)
{
    report.Section("5. idle (100 open cameras, nothing happening, 10 s)");
    Peers peers(1);
    std::vector<std::unique_ptr<CKorvane>> cameras;
    for (const Kind& kind : Kinds())
        for (unsigned i = 0; i < 25; ++i)
            if (auto camera = kind.open(peers, i)) cameras.push_back(std::move(camera));
    // Let the opening traffic settle before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const ProcessUsage before = CurrentUsage();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const ProcessUsage after = CurrentUsage();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double percent = 100.0 * (after.cpuSeconds - before.cpuSeconds) / wall;
    report.Add(Figure{"CPU of a core, " + std::to_string(cameras.size()) + " open cameras (with the peers)", percent,
                      0, "%", "< 1 %", percent < 1.0, std::to_string(after.threads) + " threads"});
}

}  // namespace korvane::bench
