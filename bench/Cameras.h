// Opened cameras of each mode for the benchmark, their reports marked on an
// arrival.
#pragma once

#include "Measure.h"

#include <korvane/Korvane.h>

#include <memory>
#include <string>

namespace korvane::bench {

void MarkArrival(const unsigned char* data, int length, unsigned int message, void* context);

// Null when the camera could not be opened. With an arrival its reports mark it.
std::unique_ptr<CKorvane> OpenSerialCamera(const std::string& device, unsigned address, CArrival* arrival);
std::unique_ptr<CKorvane> OpenTrackingCamera(std::uint16_t peerPort, unsigned address, CArrival* arrival);
std::unique_ptr<CKorvane> OpenRelayCamera(unsigned address, CArrival* arrival);  // device type 4
std::unique_ptr<CKorvane> OpenOnvifCamera(std::uint16_t port);

// Waits until a counter has stopped moving (what a link still had queued has
// gone out), at most limit.
template <typename Count>
void WaitQuiet(Count count, std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace korvane::bench

#include <thread>

template <typename Count>
void korvane::bench::WaitQuiet(Count count, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    auto last = count();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = count();
        if (now == last) return;
        last = now;
    }
}
