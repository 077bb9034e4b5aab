// The raw system the library is measured against: a pseudo-terminal read and
// written with plain read()/write(), and UDP sockets with sendto()/recvfrom().
#pragma once

#include "Measure.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace korvane::bench {

// A pseudo-terminal pair in raw mode.
struct CRawPty {
    CRawPty();
    ~CRawPty();
    int master = -1;
    int slave = -1;
    std::string name;
};

// One thread that reads 7-byte frames from any of the descriptors (one poll()
// over all) and marks each whole frame.
class CRawFrameReader {
public:
    CRawFrameReader(std::vector<int> fds, CArrival& arrival);
    ~CRawFrameReader();

private:
    void Run();
    std::vector<int> m_fds;
    CArrival& m_arrival;
    int m_stop[2] = {-1, -1};  // a pipe that ends the poll
    std::thread m_thread;
};

// A UDP socket on 127.0.0.1 that marks each datagram it receives.
class CRawUdpReceiver {
public:
    explicit CRawUdpReceiver(CArrival& arrival);
    ~CRawUdpReceiver();
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
    CArrival& m_arrival;
    std::thread m_thread;
};

// Sends datagrams to 127.0.0.1:port.
class CRawUdpSender {
public:
    CRawUdpSender();
    ~CRawUdpSender();
    void Send(std::uint16_t port, const void* data, std::size_t length);

private:
    int m_fd = -1;
};

}  // namespace korvane::bench
