#include "sim/TrackingPeer.h"

#include <array>

namespace korvane::sim {

using boost::asio::ip::udp;

CTrackingPeer::CTrackingPeer(std::uint16_t listenPort, std::uint16_t reportPort)
    : m_socket(m_io, udp::endpoint(boost::asio::ip::address_v4::loopback(), listenPort)),
      m_reportTo(boost::asio::ip::address_v4::loopback(), reportPort)
{
}

std::uint16_t CTrackingPeer::Port() const { return m_socket.local_endpoint().port(); }

std::optional<Bytes> CTrackingPeer::NextDatagram(std::chrono::milliseconds timeout)
{
    std::array<std::uint8_t, 4096> buffer;
    udp::endpoint from;
    std::optional<Bytes> got;
    m_socket.async_receive_from(boost::asio::buffer(buffer), from,
                                [&](const boost::system::error_code& error, std::size_t bytes) {
                                    if (!error) got = Bytes(buffer.begin(), buffer.begin() + static_cast<long>(bytes));
                                });
    m_io.restart();
    m_io.run_for(timeout);
    if (!m_io.stopped()) {
        m_socket.cancel();
        m_io.run();  // let the cancelled receive finish before the buffer goes
    }
    return got;
}

Bytes CTrackingPeer::Report(int cameraAddress, std::uint8_t state)
{
    const auto packed = static_cast<std::uint8_t>(((cameraAddress / 10) % 10) << 4 | (cameraAddress % 10));
    return Bytes{0xAA, 0x50, 0x02, packed, state};
}

void CTrackingPeer::SendReport(int cameraAddress, std::uint8_t state) { SendRaw(Report(cameraAddress, state)); }

void CTrackingPeer::SendRaw(const Bytes& datagram)
{
    boost::system::error_code ignored;
    m_socket.send_to(boost::asio::buffer(datagram), m_reportTo, 0, ignored);
}

}  // namespace korvane::sim
