// A simulated tracking system: listens on a UDP port of 127.0.0.1, records
// every datagram the cameras send it, and sends reports to the library's
// tracking port as the real system does.
#pragma once

#include "sim/FrameDecoder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <cstdint>
#include <optional>

namespace korvane::sim {

class CTrackingPeer {
public:
    // Listens on 127.0.0.1:listenPort (0: any free port); reports go to
    // 127.0.0.1:reportPort.
    explicit CTrackingPeer(std::uint16_t listenPort = 0, std::uint16_t reportPort = 10000);

    std::uint16_t Port() const;

    // The next datagram a camera sent, or nothing within the time.
    std::optional<Bytes> NextDatagram(std::chrono::milliseconds timeout);
    bool Silent(std::chrono::milliseconds timeout) { return !NextDatagram(timeout); }

    // AA 50 02 <address in packed decimal> <state>: 1 appeared, 0 disappeared.
    void SendReport(int cameraAddress, std::uint8_t state);
    void SendRaw(const Bytes& datagram);

    static Bytes Report(int cameraAddress, std::uint8_t state);

private:
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
    boost::asio::ip::udp::endpoint m_reportTo;
};

}  // namespace korvane::sim
