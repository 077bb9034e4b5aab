#include "sim/SerialPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korvane::sim {

CSerialPeer::CSerialPeer()
{
    char name[128] = {};
    if (::openpty(&m_nMaster, &m_nSlave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    // Raw from the start: no echo of what we send before the camera opens it.
    termios raw{};
    ::tcgetattr(m_nSlave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_nSlave, TCSANOW, &raw);
    ::fcntl(m_nMaster, F_SETFL, ::fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);
    m_strDevice = name;
}

CSerialPeer::~CSerialPeer() { Hangup(); }

void CSerialPeer::Hangup()
{
    if (m_nMaster >= 0) ::close(m_nMaster);
    if (m_nSlave >= 0) ::close(m_nSlave);
    m_nMaster = m_nSlave = -1;
}

bool CSerialPeer::Send(const Bytes& bytes)
{
    // A line that nobody reads fills up: give up rather than wait for ever.
    constexpr auto kStalledLimit = std::chrono::seconds(1);
    auto stalledSince = std::chrono::steady_clock::now();
    std::size_t done = 0;
    while (m_nMaster >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_nMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalledSince = std::chrono::steady_clock::now();
        } else if (n < 0 && errno == EAGAIN) {
            if (std::chrono::steady_clock::now() - stalledSince > kStalledLimit) return false;
            pollfd p{m_nMaster, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return done == bytes.size();
}

bool CSerialPeer::FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline)
{
    while (m_pending.size() < count && m_nMaster >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{m_nMaster, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t buffer[512];
        const ssize_t n = ::read(m_nMaster, buffer, sizeof buffer);
        if (n > 0)
            m_pending.insert(m_pending.end(), buffer, buffer + n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;  // the camera side closed the line (EIO); wait is over
    }
    return m_pending.size() >= count;
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
