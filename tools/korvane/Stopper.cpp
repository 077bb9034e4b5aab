#include "Stopper.h"

#include <csignal>

namespace korvane::tool {

CStopper::CStopper(std::optional<std::chrono::milliseconds> limit) : m_signals(m_io, SIGINT, SIGTERM)
{
    if (limit) m_deadline = std::chrono::steady_clock::now() + *limit;
    m_signals.async_wait([this](const boost::system::error_code& error, int) {
        if (!error) m_bStopped = true;
    });
}

CStopper::~CStopper()
{
    boost::system::error_code ignored;
    m_signals.cancel(ignored);
    m_io.restart();
    m_io.poll();
}

void CStopper::WaitFor(std::chrono::milliseconds slice)
{
    if (m_bStopped) return;
    if (m_deadline) {
        const auto left = *m_deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            m_bStopped = true;
            return;
        }
        if (left < slice) slice = std::chrono::duration_cast<std::chrono::milliseconds>(left);
    }
    m_io.restart();
    // run_for with no time left runs nothing: a loop that only polls would
    // never see the signal.
    if (slice.count() <= 0)
        m_io.poll();
    else
        m_io.run_for(slice);
}

void CStopper::Wait()
{
    while (!Stopped()) WaitFor(std::chrono::milliseconds(500));
}

}  // namespace korvane::tool
