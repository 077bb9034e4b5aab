#include "sim/ViscaIpPeer.h"

#include <boost/asio/post.hpp>

#include <algorithm>

namespace korvane::sim {

using boost::asio::ip::udp;

namespace {

const Bytes kAck{0x90, 0x41, 0xFF};
const Bytes kCompletion{0x90, 0x51, 0xFF};

Bytes ErrorReply(std::uint8_t code) { return {0x90, 0x61, code, 0xFF}; }

// 81 ... FF with no FF inside: a VISCA packet for address 1.
bool IsPacket(const Bytes& p)
{
    if (p.size() < 3 || p.front() != 0x81 || p.back() != 0xFF) return false;
    return std::find(p.begin(), p.end() - 1, 0xFF) == p.end() - 1;
}

bool IsMove(const Bytes& p)
{
    return p.size() == 9 && p[1] == 0x01 && p[2] == 0x06 && p[3] == 0x01 && !(p[6] == 0x03 && p[7] == 0x03);
}

std::int16_t Step(std::int16_t value, int by)
{
    return static_cast<std::int16_t>(std::clamp(value + by, -0x8000, 0x7FFF));
}

std::string DescribeInquiry(const Bytes& p)
{
    if (p == ViscaPanTiltPositionInquiry(1)) return "pan-tilt position";
    if (p == ViscaZoomPositionInquiry(1)) return "zoom position";
    return HexBytes(p);
}

std::string Hex4(std::uint32_t value)
{
    static const char* const kDigits = "0123456789abcdef";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[value >> shift & 0xF];
    return text;
}

}  // namespace

CViscaIpPeer::CViscaIpPeer(std::uint16_t port, ViscaIpPeerOptions options)
    : m_options(options), m_socket(m_io, udp::endpoint(boost::asio::ip::address_v4::loopback(), port))
{
    m_nPort = m_socket.local_endpoint().port();
    Receive();
    m_thread = std::thread([this] { m_io.run(); });
}

CViscaIpPeer::~CViscaIpPeer()
{
    boost::asio::post(m_io, [this] {
        boost::system::error_code ignored;
        m_socket.close(ignored);
    });
    m_thread.join();
}

void CViscaIpPeer::Receive()
{
    m_socket.async_receive_from(
        boost::asio::buffer(m_buffer), m_sender, [this](const boost::system::error_code& error, std::size_t bytes) {
            if (error == boost::asio::error::operation_aborted || !m_socket.is_open()) return;
            if (!error) {
                const Bytes datagram(m_buffer.begin(), m_buffer.begin() + static_cast<long>(bytes));
                m_lines.Push(Handle(datagram) + "   (" + HexBytes(datagram) + ")");
            }
            Receive();
        });
}

void CViscaIpPeer::Reply(std::uint16_t type, std::uint32_t sequence, const Bytes& payload)
{
    boost::system::error_code ignored;
    const Bytes datagram = ViscaIpDatagram(type, sequence, payload);
    for (int copies = m_options.duplicate ? 2 : 1; copies > 0; --copies)
        m_socket.send_to(boost::asio::buffer(datagram), m_sender, 0, ignored);
}

std::string CViscaIpPeer::Handle(const Bytes& datagram)
{
    std::string line = "#" + std::to_string(++m_nArrivals) + " ";
    const auto message = ParseViscaIpMessage(datagram.data(), datagram.size());
    if (!message) {
        std::uint32_t sequence = 0;
        for (std::size_t i = 4; i < 8 && i < datagram.size(); ++i) sequence = sequence << 8 | datagram[i];
        Reply(viscaip::kControl, sequence, {0x0F, kControlErrorMessage});
        return line + "bad framing: " + std::to_string(datagram.size()) + " bytes -> message error";
    }
    const std::uint32_t sequence = message->sequence;
    line += "seq " + std::to_string(sequence) + " ";
    if (message->type == viscaip::kControl) {
        if (message->payload != Bytes{0x01}) {
            Reply(viscaip::kControl, sequence, {0x0F, kControlErrorMessage});
            return line + "control: unknown -> message error";
        }
        m_lastSequence = 0;
        m_lastDatagram.clear();
        m_bLastAnswered = false;
        Reply(viscaip::kControlReply, sequence, {0x01});
        return line + "control: RESET -> reset reply";
    }
    if (message->type != viscaip::kCommand && message->type != viscaip::kInquiry) {
        Reply(viscaip::kControl, sequence, {0x0F, kControlErrorMessage});
        return line + "type " + Hex4(message->type) + " -> message error";
    }
    line += message->type == viscaip::kCommand ? "command: " : "inquiry: ";
    line += message->type == viscaip::kCommand ? DescribeFrame(message->payload) : DescribeInquiry(message->payload);
    // A resend carries the sequence number and bytes of the message before it.
    const bool again = m_lastSequence && sequence == *m_lastSequence && datagram == m_lastDatagram;
    if (!again && m_lastSequence && sequence != *m_lastSequence + 1) {
        Reply(viscaip::kControl, sequence, {0x0F, kControlErrorSequence});
        return line + " -> sequence error (expected " + std::to_string(*m_lastSequence + 1) + ")";
    }
    if (again) line += " (again)";
    if (!again) {
        m_lastSequence = sequence;
        m_lastDatagram = datagram;
        m_bLastAnswered = false;
        m_lastReplies.clear();
    }
    if (m_bLastAnswered) {
        for (const Bytes& reply : m_lastReplies) Reply(viscaip::kReply, sequence, reply);
        return line + " -> answered again";
    }
    if (!again && m_options.loseEvery && ++m_nMessages % m_options.loseEvery == 0) return line + " -> lost";
    if (m_options.ignoreMoves && message->type == viscaip::kCommand && IsMove(message->payload))
        return line + " -> not answered";
    Outcome outcome = Execute(message->type, message->payload);
    for (const Bytes& reply : outcome.replies) Reply(viscaip::kReply, sequence, reply);
    m_lastReplies = std::move(outcome.replies);
    m_bLastAnswered = true;
    return line + " -> " + outcome.text;
}

CViscaIpPeer::Outcome CViscaIpPeer::Execute(std::uint16_t type, const Bytes& payload)
{
    if (!IsPacket(payload)) return {{ErrorReply(kViscaErrorSyntax)}, "syntax error"};
    return type == viscaip::kCommand ? Command(payload) : Inquiry(payload);
}

CViscaIpPeer::Outcome CViscaIpPeer::Command(const Bytes& p)
{
    const Outcome done{{kAck, kCompletion}, "ack, completion"};
    const Outcome syntax{{ErrorReply(kViscaErrorSyntax)}, "syntax error"};
    if (p[1] != 0x01) return syntax;
    if (p.size() == 9 && p[2] == 0x06 && p[3] == 0x01) {  // pan-tilt drive
        const std::uint8_t vv = p[4], ww = p[5], pan = p[6], tilt = p[7];
        if (pan < 1 || pan > 3 || tilt < 1 || tilt > 3) return syntax;
        // Speeds outside the camera's range are refused, except on an axis held.
        if ((pan != 3 && (vv < 1 || vv > kViscaPanSpeedMax)) || (tilt != 3 && (ww < 1 || ww > kViscaTiltSpeedMax)))
            return syntax;
        m_position.pan = Step(m_position.pan, pan == 1 ? -vv : pan == 2 ? vv : 0);
        m_position.tilt = Step(m_position.tilt, tilt == 1 ? ww : tilt == 2 ? -ww : 0);
        return done;
    }
    if (p.size() == 5 && p[2] == 0x06 && p[3] == 0x04) {  // home
        m_position = {};
        return done;
    }
    if (p.size() == 6 && p[2] == 0x04) {
        const std::uint8_t what = p[3], how = p[4];
        if (what == 0x07) {  // zoom: stop, tele, wide, tele or wide at speed 0-7
            int by = 0;
            if (how == 0x02 || how == 0x03) by = 0x100;
            else if ((how & 0xF0) == 0x20 || (how & 0xF0) == 0x30) by = ((how & 0x07) + 1) * 0x40;
            else if (how != 0x00) return syntax;
            if (how == 0x03 || (how & 0xF0) == 0x30) by = -by;
            m_nZoom = static_cast<std::uint16_t>(std::clamp(m_nZoom + by, 0, 0x4000));
            return done;
        }
        if (what == 0x08 || what == 0x0B || what == 0x38 || what == 0x39) return done;  // focus, iris, modes
    }
    if (p.size() == 7 && p[2] == 0x04 && p[3] == 0x3F) {  // memory: reset, set, recall
        const std::uint8_t op = p[4], memory = p[5];
        if (op == 0) m_presets.erase(memory);
        else if (op == 1) m_presets[memory] = {m_position, m_nZoom};
        else if (op == 2) {
            const auto found = m_presets.find(memory);
            if (found == m_presets.end())
                return {{kAck, ErrorReply(kViscaErrorNotExecutable)}, "memory " + std::to_string(memory) + " not set"};
            m_position = found->second.first;
            m_nZoom = found->second.second;
        } else {
            return syntax;
        }
        return done;
    }
    return {{ErrorReply(kViscaErrorNotExecutable)}, "not executable (unknown command)"};
}

CViscaIpPeer::Outcome CViscaIpPeer::Inquiry(const Bytes& p)
{
    if (p[1] != 0x09) return {{ErrorReply(kViscaErrorSyntax)}, "syntax error"};
    Bytes answer{0x90, 0x50};
    std::string text;
    if (p.size() == 5 && p[2] == 0x06 && p[3] == 0x12) {
        const Bytes data = PanTiltPositionData(m_position);
        answer.insert(answer.end(), data.begin(), data.end());
        text = "pan " + std::to_string(m_position.pan) + " tilt " + std::to_string(m_position.tilt);
    } else if (p.size() == 5 && p[2] == 0x04 && p[3] == 0x47) {
        const Bytes data = ZoomPositionData(m_nZoom);
        answer.insert(answer.end(), data.begin(), data.end());
        text = "zoom " + std::to_string(m_nZoom);
    } else {
        return {{ErrorReply(kViscaErrorNotExecutable)}, "not executable (unknown inquiry)"};
    }
    answer.push_back(0xFF);
    return {{answer}, text};
}

}  // namespace korvane::sim
