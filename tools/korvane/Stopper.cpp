#include "Stopper.h"

#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace korvane::tool {

namespace {

// Lock-free, so safe to set in a handler, on whichever thread the signal came.
std::atomic<int> g_nStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int number)
{
    g_nStopSignal.store(number);
    std::signal(number, OnStopSignal);  // Windows' C runtime resets a handler once it ran
}

// How often a wait looks at the flag: well under what a user notices.
constexpr std::chrono::milliseconds kLook{10};

}  // namespace

CStopper::CStopper(std::optional<std::chrono::milliseconds> limit)
{
    // Cleared before the handlers go in: a signal from then on is kept.
    g_nStopSignal.store(0);
    for (const int signal : platform::StopSignals()) m_previous.emplace_back(signal, std::signal(signal, OnStopSignal));
    if (limit) m_deadline = std::chrono::steady_clock::now() + *limit;
}

CStopper::~CStopper()
{
    for (const auto& [signal, previous] : m_previous)
        if (previous != SIG_ERR) std::signal(signal, previous);
}

bool CStopper::Stopped() const { return m_bTimeUp || g_nStopSignal.load() != 0; }

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
    if (m_deadline && std::chrono::steady_clock::now() >= *m_deadline) m_bTimeUp = true;
    return Stopped();
}

void CStopper::Wait()
{
    while (!Poll()) WaitFor(std::chrono::milliseconds(500));
}

}  // namespace korvane::tool
