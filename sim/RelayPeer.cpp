#include "sim/RelayPeer.h"

#include "netcam/RelayDatagrams.h"

#include <boost/asio/post.hpp>

#include <cstring>
#include <sstream>

namespace korvane::sim {

using boost::asio::ip::udp;

CRelayPeer::CRelayPeer(std::uint16_t port)
    : m_socket(m_io, udp::endpoint(boost::asio::ip::address_v4::loopback(), port))
{
    Receive();
    m_thread = std::thread([this] { m_io.run(); });
}

CRelayPeer::~CRelayPeer()
{
    boost::asio::post(m_io, [this] {
        boost::system::error_code ignored;
        m_socket.close(ignored);
    });
    m_thread.join();
}

void CRelayPeer::SetAnswer(std::optional<Bytes> answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

void CRelayPeer::Receive()
{
    m_socket.async_receive_from(
        boost::asio::buffer(m_buffer), m_sender, [this](const boost::system::error_code& error, std::size_t bytes) {
            if (error == boost::asio::error::operation_aborted || !m_socket.is_open()) return;
            if (!error) {
                RelayDatagram datagram{Bytes(m_buffer.begin(), m_buffer.begin() + static_cast<long>(bytes)),
                                       m_sender.port()};
                std::optional<Bytes> answer;
                if (bytes >= 4 && GetLe32(datagram.bytes.data()) == 1) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    answer = m_answer;
                }
                m_received.Push(std::move(datagram));
                boost::system::error_code ignored;
                if (answer) m_socket.send_to(boost::asio::buffer(*answer), m_sender, 0, ignored);
            }
            Receive();
        });
}

std::optional<RelayDatagram> CRelayPeer::NextDatagram(std::chrono::milliseconds timeout)
{
    return m_received.Next(timeout);
}

std::optional<RelayDatagram> CRelayPeer::NextOfKind(std::uint32_t kind, std::chrono::milliseconds timeout)
{
    return m_received.NextMatching(
        [kind](const RelayDatagram& next) { return next.bytes.size() >= 4 && GetLe32(next.bytes.data()) == kind; },
        timeout);
}

void CRelayPeer::SendEvent(std::uint16_t eventPort, const std::string& text)
{
    SendRaw(eventPort, Bytes(text.begin(), text.end()));
}

void CRelayPeer::SendRaw(std::uint16_t eventPort, const Bytes& datagram)
{
    // A socket of its own: this may run on any thread, beside the receiver.
    boost::asio::io_context io;
    udp::socket sender(io, udp::v4());
    boost::system::error_code ignored;
    sender.send_to(boost::asio::buffer(datagram), udp::endpoint(boost::asio::ip::address_v4::loopback(), eventPort),
                   0, ignored);
}

std::uint16_t CRelayPeer::EventPortOf(const Bytes& datagram)
{
    if (datagram.size() < 8) return 0;
    const std::uint32_t kind = GetLe32(datagram.data());
    const std::size_t at = kind == 1 ? 8 : kind == 2 ? 12 : 4;
    if (datagram.size() < at + 4) return 0;
    return EventPortFromField(GetLe32(&datagram[at]));
}

Bytes CRelayPeer::FrameOf(const Bytes& datagram)
{
    if (datagram.size() != kCommandDatagramSize || GetLe32(datagram.data()) != 2) return {};
    const std::size_t length = std::min<std::size_t>(GetLe32(&datagram[16]), kCommandFrameRoom);
    return Bytes(datagram.begin() + 20, datagram.begin() + 20 + static_cast<long>(length));
}

namespace {

std::string TextField(const Bytes& datagram, std::size_t at, std::size_t size)
{
    if (datagram.size() < at) return {};
    size = std::min(size, datagram.size() - at);
    const auto* begin = reinterpret_cast<const char*>(&datagram[at]);
    return std::string(begin, ::strnlen(begin, size));
}

}  // namespace

std::string CRelayPeer::Describe(const Bytes& datagram)
{
    std::ostringstream out;
    if (datagram.size() < 8) {
        out << "short datagram: " << HexBytes(datagram);
        return out.str();
    }
    switch (GetLe32(datagram.data())) {
    case 1:
        out << "open: device type " << GetLe32(&datagram[4]) << ", event port " << EventPortOf(datagram);
        if (datagram.size() >= COpenRequest::kDatagramSize) {
            out << ", device port " << GetLe32(&datagram[12]) << ", value " << GetLe32(&datagram[16]) << ", ip \""
                << TextField(datagram, COpenRequest::kIpAt, COpenRequest::kTextField) << "\", user \""
                << TextField(datagram, COpenRequest::kUserAt, COpenRequest::kTextField) << "\", text7 \""
                << TextField(datagram, COpenRequest::kText7At, COpenRequest::kTextField) << "\"";
        }
        break;
    case 2:
        if (datagram.size() != kCommandDatagramSize) {
            out << "command of " << datagram.size() << " bytes (not 40): " << HexBytes(datagram);
            break;
        }
        out << "command: device kind " << GetLe32(&datagram[4]) << ", device port " << GetLe32(&datagram[8])
            << ", event port " << EventPortOf(datagram) << ": " << DescribeFrame(FrameOf(datagram));
        break;
    case 3: out << "close: event port " << EventPortOf(datagram); break;
    default: out << "unknown datagram: " << HexBytes(datagram);
    }
    return out.str();
}

}  // namespace korvane::sim
