#include "RawLinks.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace korvane::bench {

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

CRawPty::CRawPty()
{
    char device[128];
    if (::openpty(&master, &slave, device, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    name = device;
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
}

CRawPty::~CRawPty()
{
    ::close(master);
    ::close(slave);
}

CRawFrameReader::CRawFrameReader(std::vector<int> fds, CArrival& arrival) : m_fds(std::move(fds)), m_arrival(arrival)
{
    if (::pipe(m_stop) != 0) throw std::runtime_error("pipe failed");
    m_thread = std::thread([this] { Run(); });
}

CRawFrameReader::~CRawFrameReader()
{
    const char stop = 1;
    (void)::write(m_stop[1], &stop, 1);
    m_thread.join();
    ::close(m_stop[0]);
    ::close(m_stop[1]);
}

void CRawFrameReader::Run()
{
    std::vector<pollfd> watched;
    for (const int fd : m_fds) watched.push_back(pollfd{fd, POLLIN, 0});
    watched.push_back(pollfd{m_stop[0], POLLIN, 0});
    std::vector<std::size_t> partial(m_fds.size(), 0);
    char buffer[4096];
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) <= 0) continue;
        if (watched.back().revents) return;
        for (std::size_t i = 0; i < m_fds.size(); ++i) {
            if (!(watched[i].revents & POLLIN)) continue;
            const ssize_t n = ::read(m_fds[i], buffer, sizeof buffer);
            if (n <= 0) continue;
            partial[i] += static_cast<std::size_t>(n);
            for (; partial[i] >= 7; partial[i] -= 7) m_arrival.Mark();
        }
    }
}

CRawUdpReceiver::CRawUdpReceiver(CArrival& arrival) : m_arrival(arrival)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        char buffer[2048];
        for (;;) {
            const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, nullptr, nullptr);
            if (n == 1 && buffer[0] == 'Q') return;  // the stop datagram
            if (n > 0) m_arrival.Mark();
        }
    });
}

CRawUdpReceiver::~CRawUdpReceiver()
{
    CRawUdpSender stopper;
    stopper.Send(m_port, "Q", 1);
    m_thread.join();
    ::close(m_fd);
}

CRawUdpSender::CRawUdpSender() { m_fd = ::socket(AF_INET, SOCK_DGRAM, 0); }

CRawUdpSender::~CRawUdpSender() { ::close(m_fd); }

void CRawUdpSender::Send(std::uint16_t port, const void* data, std::size_t length)
{
    const sockaddr_in address = Loopback(port);
    ::sendto(m_fd, data, length, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

}  // namespace korvane::bench
