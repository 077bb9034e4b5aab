// Waiting until a stop signal (platform::StopSignals: Ctrl-C, SIGTERM, a
// closed terminal, Ctrl-\, ...) or a time limit, without spinning. While one
// lives, those signals no longer end the process at once: the tool stops its
// cameras first.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <atomic>
#include <chrono>
#include <optional>

namespace korvane::tool {

class CStopper {
public:
    explicit CStopper(std::optional<std::chrono::milliseconds> limit = std::nullopt);
    ~CStopper();
    // True once Ctrl-C came or the time is up.
    bool Stopped() const { return m_bStopped; }
    // Waits at most slice (or less, when stopped meanwhile).
    void WaitFor(std::chrono::milliseconds slice);
    // Takes in a signal that came meanwhile, without waiting; true once stopped.
    bool Poll();
    // Waits until stopped.
    void Wait();

private:
    boost::asio::io_context m_io;
    boost::asio::signal_set m_signals;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    std::atomic<bool> m_bStopped{false};
};

}  // namespace korvane::tool
