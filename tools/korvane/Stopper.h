// Waiting until a stop signal (platform::StopSignals: Ctrl-C, SIGTERM, a
// closed terminal, Ctrl-\, ...) or a time limit. While one lives, those
// signals no longer end the process at once: the tool stops its cameras
// first. The signals are kept for it by the platform (platform::
// WatchStopSignals); it looks for one every few milliseconds.
#pragma once

#include <chrono>
#include <optional>

namespace korvane::tool {

class CStopper {
public:
    explicit CStopper(std::optional<std::chrono::milliseconds> limit = std::nullopt);
    ~CStopper();  // the signals have their earlier effect again
    CStopper(const CStopper&) = delete;
    CStopper& operator=(const CStopper&) = delete;
    // True once a stop signal came or the time is up (as last looked).
    bool Stopped() const { return m_bStopped; }
    // Waits at most slice (or less, when stopped meanwhile).
    void WaitFor(std::chrono::milliseconds slice);
    // Takes in a signal that came meanwhile, without waiting; true once stopped.
    bool Poll();
    // Waits until stopped.
    void Wait();

private:
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_bStopped = false;
};

}  // namespace korvane::tool
