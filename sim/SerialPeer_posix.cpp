// POSIX: a pseudo-terminal; the camera opens its slave side.
#include "sim/SerialPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korvane::sim {

struct CSerialPeer::Line {
    int master = -1;
    int slave = -1;  // held so that the line stays up between camera opens
};

CSerialPeer::CSerialPeer() : m_pLine(std::make_unique<Line>())
{
    char name[128] = {};
    if (::openpty(&m_pLine->master, &m_pLine->slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    // Raw from the start: no echo of what we send before the camera opens it.
    termios raw{};
    ::tcgetattr(m_pLine->slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_pLine->slave, TCSANOW, &raw);
    ::fcntl(m_pLine->master, F_SETFL, ::fcntl(m_pLine->master, F_GETFL) | O_NONBLOCK);
    m_strDevice = name;
}

CSerialPeer::~CSerialPeer() { Hangup(); }

void CSerialPeer::Hangup()
{
    if (m_pLine->master >= 0) ::close(m_pLine->master);
    if (m_pLine->slave >= 0) ::close(m_pLine->slave);
    m_pLine->master = m_pLine->slave = -1;
}

bool CSerialPeer::HangupReachesTheCamera() { return true; }

bool CSerialPeer::Send(const Bytes& bytes)
{
    // A line that nobody reads fills up: give up rather than wait for ever.
    constexpr auto kStalledLimit = std::chrono::seconds(1);
    auto stalledSince = std::chrono::steady_clock::now();
    std::size_t done = 0;
    while (m_pLine->master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_pLine->master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalledSince = std::chrono::steady_clock::now();
        } else if (n < 0 && errno == EAGAIN) {
            if (std::chrono::steady_clock::now() - stalledSince > kStalledLimit) return false;
            pollfd p{m_pLine->master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return done == bytes.size();
}

long CSerialPeer::ReadSome(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout)
{
    if (m_pLine->master < 0) return -1;
    pollfd p{m_pLine->master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    const ssize_t n = ::read(m_pLine->master, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;  // EIO: the camera side closed
}

struct CDeviceHolder::Handle {
    int fd = -1;
};

CDeviceHolder::CDeviceHolder(const std::string& device) : m_pHandle(std::make_unique<Handle>())
{
    m_pHandle->fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    m_bHolds = m_pHandle->fd >= 0 && ::flock(m_pHandle->fd, LOCK_EX | LOCK_NB) == 0;
}

CDeviceHolder::~CDeviceHolder()
{
    if (m_pHandle->fd >= 0) ::close(m_pHandle->fd);
}

}  // namespace korvane::sim
