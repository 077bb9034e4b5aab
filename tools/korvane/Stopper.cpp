#include "Stopper.h"

#include "platform/Process.h"

#include <algorithm>
#include <thread>

namespace korvane::tool {

namespace {
// How often a wait looks for a signal: well under what a user notices.
constexpr std::chrono::milliseconds kLook{10};
}  // namespace

CStopper::CStopper(std::optional<std::chrono::milliseconds> limit)
{
    platform::WatchStopSignals(true);
    if (limit) m_deadline = std::chrono::steady_clock::now() + *limit;
}

CStopper::~CStopper() { platform::WatchStopSignals(false); }

void CStopper::WaitFor(std::chrono::milliseconds slice)
{
    const auto end = std::chrono::steady_clock::now() + slice;
    for (;;) {
        if (Poll()) return;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return;
        auto until = std::min(end, now + kLook);
        if (m_deadline) until = std::min(until, *m_deadline);
        std::this_thread::sleep_until(until);
    }
}

bool CStopper::Poll()
{
    if (platform::TakeStopSignal() != 0) m_bStopped = true;
    if (m_deadline && std::chrono::steady_clock::now() >= *m_deadline) m_bStopped = true;
    return m_bStopped;
}

void CStopper::Wait()
{
    while (!Poll()) WaitFor(std::chrono::milliseconds(500));
}

}  // namespace korvane::tool
