// Stop under pressure: 2,000 moves queued on a 9600-baud line (15 s of line
// time), then a stop: how long from CameraStop until the stop's bytes reach
// the far end, beside the stop frame's own time on the line.
#include "Sections.h"
#include "sim/SerialPeer.h"

#include <korvane/Korvane.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace korvane::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMoves = 2000;
constexpr int kRuns = 5;
// 7 bytes of 10 bits at 9600 baud.
constexpr auto kFrameTime = std::chrono::microseconds(7 * 10 * 1000000 / 9600);
const sim::Bytes kStop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};

// One run: the far end takes frames no faster than a 9600-baud UART delivers
// them; the time the stop frame was delivered, or none within the limit.
double StopMillis()
{
    sim::CSerialPeer peer;
    CKorvane camera(MODE_SERIAL);
    camera.SetDeviceAddress(1);
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    if (!camera.SetCommDevice(peer.DeviceName().c_str(), dcb) || !camera.Open())
        throw std::runtime_error("serial camera for the stop under pressure");
    std::atomic<bool> done{false};
    std::atomic<Clock::rep> stopAt{0};
    std::thread line([&] {
        auto free = Clock::now();
        while (!done) {
            const sim::Bytes frame = peer.ReadBytes(7, std::chrono::milliseconds(50));
            if (frame.size() < 7) continue;
            free = std::max(free, Clock::now()) + kFrameTime;
            std::this_thread::sleep_until(free);  // the line's own rate
            if (frame == kStop) {
                stopAt = free.time_since_epoch().count();
                done = true;
            }
        }
    });
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (int i = 0; i < kMoves; ++i) (i % 2 ? camera.MoveLeft() : camera.MoveRight());
    const auto stopped = Clock::now();
    camera.CameraStop();
    while (!done && Clock::now() < deadline) std::this_thread::yield();
    done = true;
    line.join();
    if (!stopAt) throw std::runtime_error("the stop never reached the far end");
    return std::chrono::duration<double, std::milli>(Clock::time_point(Clock::duration(stopAt.load())) - stopped)
        .count();
}

}  // namespace

void StopUnderPressure(CReport& report)
{
    report.Section("9. stop under pressure (2,000 moves queued at 9600 baud, then stop)");
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(StopMillis());
    std::sort(runs.begin(), runs.end());
    const double frame = std::chrono::duration<double, std::milli>(kFrameTime).count();
    report.Add(Figure{"stop reaches the far end, median of " + std::to_string(kRuns), runs[kRuns / 2], frame, "ms",
                      "<= 50ms", runs[kRuns / 2] <= 50.0,
                      "baseline: the stop frame's own line time; the moves would take " +
                          std::to_string(kMoves * 7 * 10 / 9600) + " s"});
    report.Add(Figure{"stop reaches the far end, worst", runs.back(), frame, "ms", "", true, ""});
}

}  // namespace korvane::bench
