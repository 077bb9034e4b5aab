// Waiting until a stop signal (platform::StopSignals: Ctrl-C, SIGTERM, a
// closed terminal, Ctrl-\, ...) or a time limit. While one lives, those
// signals no longer end the process at once: the tool stops its cameras
// first. The handler only sets a flag the waiting thread reads, so a signal
// taken on any thread is seen; nothing (a descriptor, an event loop) stands
// between the signal and the wait.
#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <utility>
#include <vector>

namespace korvane::tool {

class CStopper {
public:
    explicit CStopper(std::optional<std::chrono::milliseconds> limit = std::nullopt);
    ~CStopper();  // the signals' earlier handling again
    CStopper(const CStopper&) = delete;
    CStopper& operator=(const CStopper&) = delete;
    // True once a stop signal came or the time is up.
    bool Stopped() const;
    // Waits at most slice (or less, when stopped meanwhile).
    void WaitFor(std::chrono::milliseconds slice);
    // Takes in a signal that came meanwhile, without waiting; true once stopped.
    bool Poll();
    // Waits until stopped.
    void Wait();

private:
    using Handler = void (*)(int);
    std::vector<std::pair<int, Handler>> m_previous;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_bTimeUp = false;
};

}  // namespace korvane::tool
