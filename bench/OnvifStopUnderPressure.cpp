// Stop under pressure, ONVIF: a camera whose GetStatus answers only after
// 10 s; a host thread reads the position (its GetStatus in flight), and
// stops are made meanwhile: how long from CameraStop until the camera has
// the Stop request, beside the same stop with nothing in flight.
#include "Cameras.h"
#include "Sections.h"
#include "sim/OnvifCamera.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

namespace korvane::bench {

namespace {

constexpr int kStops = 20;
constexpr auto kHang = std::chrono::seconds(10);

// From each CameraStop until its Stop arrived at the camera, ms, sorted.
std::vector<double> StopMillis(sim::COnvifCamera& camera, CKorvane& host)
{
    std::vector<double> runs;
    for (int i = 0; i < kStops; ++i) {
        const auto start = Clock::now();
        host.CameraStop();
        const auto stop = camera.NextOf("Stop", std::chrono::seconds(2));
        if (!stop) throw std::runtime_error("the stop never reached the ONVIF camera");
        runs.push_back(std::chrono::duration<double, std::milli>(stop->arrived - start).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs;
}

}  // namespace

void OnvifStopUnderPressure(CReport& report)
{
    report.Section("10. stop under pressure: ONVIF (a position read hangs 10 s, stops meanwhile)");
    auto camera = std::make_unique<sim::COnvifCamera>();
    auto host = OpenOnvifCamera(camera->Port());
    if (!host) throw std::runtime_error("ONVIF camera for the stop under pressure");
    while (camera->NextRequest(std::chrono::milliseconds(100))) {
    }
    const std::vector<double> idle = StopMillis(*camera, *host);
    camera->SetPace("GetStatus", {kHang, std::chrono::milliseconds(0)});
    std::atomic<bool> read{false};
    std::thread reader([&] {
        float pan = 0, tilt = 0, zoom = 0;
        int moving = 0;
        host->GetPosition(pan, tilt, zoom, moving);
        read = true;
    });
    const bool asked = camera->NextOf("GetStatus", std::chrono::seconds(2)).has_value();
    std::vector<double> pressed;
    if (asked) pressed = StopMillis(*camera, *host);
    const bool hung = !read;
    camera.reset();  // the hanging read ends with its connection
    reader.join();
    if (!asked || !hung) throw std::runtime_error("the position read was not in flight through the stops");
    const double median = pressed[kStops / 2], worst = pressed.back();
    report.Add(Figure{"stop reaches the camera, GetStatus in flight, median of " + std::to_string(kStops), median,
                      idle[kStops / 2], "ms", "<= 50ms", median <= 50.0,
                      "baseline: the same stop with nothing in flight"});
    report.Add(Figure{"stop reaches the camera, GetStatus in flight, worst", worst, idle.back(), "ms", "<= 50ms",
                      worst <= 50.0, ""});
}

}  // namespace korvane::bench
