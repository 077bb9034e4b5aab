// Frames out of the bytes that arrive; the line itself is per system
// (SerialPeer_posix.cpp, SerialPeer_win32.cpp).
#include "sim/SerialPeer.h"

namespace korvane::sim {

bool CSerialPeer::FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline)
{
    while (m_pending.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        std::uint8_t buffer[512];
        const long n = ReadSome(buffer, sizeof buffer, left);
        if (n < 0) return false;  // the camera side closed the line; the wait is over
        m_pending.insert(m_pending.end(), buffer, buffer + n);
    }
    return true;
}

std::optional<Bytes> CSerialPeer::NextFrame(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t length = FrameLengthAt(m_pending, 0);
        if (length > 0) {
            Bytes frame(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(length));
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(length));
            return frame;
        }
        if (!FillAtLeast(m_pending.size() + 1, deadline)) return std::nullopt;
    }
}

Bytes CSerialPeer::ReadBytes(std::size_t count, std::chrono::milliseconds timeout)
{
    FillAtLeast(count, std::chrono::steady_clock::now() + timeout);
    const std::size_t n = std::min(count, m_pending.size());
    Bytes bytes(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
    return bytes;
}

bool CSerialPeer::Silent(std::chrono::milliseconds timeout)
{
    return !FillAtLeast(m_pending.size() + 1, std::chrono::steady_clock::now() + timeout) && m_pending.empty();
}

}  // namespace korvane::sim
