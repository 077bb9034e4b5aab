#include "frames/ViscaIpDatagram.h"

#include "frames/Frame.h"

namespace korvane {

namespace {

constexpr std::uint8_t kEnd = 0xFF;

std::uint16_t GetBe16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

std::uint32_t GetBe32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

// A VISCA reply packet: y0 (y = 9 to F) ... FF, with FF only at the end.
bool IsReplyPacket(const Frame& p)
{
    if (p.size() < 3 || p[0] < 0x90 || (p[0] & 0x0F) != 0 || p.back() != kEnd) return false;
    for (std::size_t i = 1; i + 1 < p.size(); ++i)
        if (p[i] == kEnd) return false;
    return true;
}

// Nibbles 0x00-0x0F, most significant first.
std::optional<std::uint32_t> Nibbles(const Frame& data, std::size_t from, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (data[i] > 0x0F) return std::nullopt;
        value = value << 4 | data[i];
    }
    return value;
}

void PutNibbles(Frame& out, std::uint16_t value)
{
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<std::uint8_t>(value >> shift & 0x0F));
}

std::uint8_t MapSpeed(std::int32_t speed, std::uint8_t top)
{
    const unsigned capped = CapSpeed(speed);
    return static_cast<std::uint8_t>(1 + (capped * (top - 1u) + 31u) / 63u);
}

}  // namespace

Frame ViscaIpDatagram(std::uint16_t type, std::uint32_t sequence, const Frame& payload)
{
    if (payload.empty() || payload.size() > kViscaIpPayloadLimit) return {};
    const auto length = static_cast<std::uint16_t>(payload.size());
    Frame out{static_cast<std::uint8_t>(type >> 8),      static_cast<std::uint8_t>(type),
              static_cast<std::uint8_t>(length >> 8),    static_cast<std::uint8_t>(length),
              static_cast<std::uint8_t>(sequence >> 24), static_cast<std::uint8_t>(sequence >> 16),
              static_cast<std::uint8_t>(sequence >> 8),  static_cast<std::uint8_t>(sequence)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Frame ViscaIpReset(std::uint32_t sequence) { return ViscaIpDatagram(viscaip::kControl, sequence, {0x01}); }

std::optional<ViscaIpMessage> ParseViscaIpMessage(const std::uint8_t* data, std::size_t size)
{
    if (!data || size <= kViscaIpHeaderSize || size > kViscaIpDatagramLimit) return std::nullopt;
    if (GetBe16(data + 2) != size - kViscaIpHeaderSize) return std::nullopt;
    ViscaIpMessage message;
    message.type = GetBe16(data);
    message.sequence = GetBe32(data + 4);
    message.payload.assign(data + kViscaIpHeaderSize, data + size);
    return message;
}

std::optional<ViscaIpReply> ParseViscaIpReply(const std::uint8_t* data, std::size_t size)
{
    const std::optional<ViscaIpMessage> message = ParseViscaIpMessage(data, size);
    if (!message) return std::nullopt;
    const Frame& p = message->payload;
    ViscaIpReply reply;
    reply.sequence = message->sequence;
    switch (message->type) {
    case viscaip::kControlReply:
        if (p.size() != 1 || p[0] != 0x01) return std::nullopt;
        reply.kind = ViscaReplyKind::ControlAck;
        return reply;
    case viscaip::kControl:
        if (p.size() != 2 || p[0] != 0x0F) return std::nullopt;
        reply.kind = ViscaReplyKind::ControlError;
        reply.error = p[1];
        return reply;
    case viscaip::kReply: break;
    default: return std::nullopt;
    }
    if (!IsReplyPacket(p)) return std::nullopt;
    reply.socket = p[1] & 0x0F;
    switch (p[1] & 0xF0) {
    case 0x40:
        if (p.size() != 3) return std::nullopt;
        reply.kind = ViscaReplyKind::Ack;
        return reply;
    case 0x50:
        reply.kind = ViscaReplyKind::Completion;
        reply.data.assign(p.begin() + 2, p.end() - 1);
        return reply;
    case 0x60:
        if (p.size() != 4) return std::nullopt;
        reply.kind = ViscaReplyKind::Error;
        reply.error = p[2];
        return reply;
    default: return std::nullopt;
    }
}

const char* ViscaErrorMeaning(std::uint8_t code)
{
    switch (code) {
    case kViscaErrorLength: return "message length error";
    case kViscaErrorSyntax: return "syntax error";
    case kViscaErrorBufferFull: return "command buffer full";
    case kViscaErrorCancelled: return "command cancelled";
    case kViscaErrorNoSocket: return "no socket";
    case kViscaErrorNotExecutable: return "command not executable";
    default: return "unknown error";
    }
}

const char* ControlErrorMeaning(std::uint8_t code)
{
    switch (code) {
    case kControlErrorSequence: return "sequence number out of order";
    case kControlErrorMessage: return "message type not accepted";
    default: return "unknown control error";
    }
}

Frame ViscaPanTiltPositionInquiry(std::uint8_t address)
{
    return {static_cast<std::uint8_t>(0x80u + address), 0x09, 0x06, 0x12, kEnd};
}

Frame ViscaZoomPositionInquiry(std::uint8_t address)
{
    return {static_cast<std::uint8_t>(0x80u + address), 0x09, 0x04, 0x47, kEnd};
}

std::optional<PanTiltPosition> ParsePanTiltPosition(const Frame& data)
{
    if (data.size() != 8) return std::nullopt;
    const auto pan = Nibbles(data, 0, 4), tilt = Nibbles(data, 4, 4);
    if (!pan || !tilt) return std::nullopt;
    return PanTiltPosition{static_cast<std::int16_t>(static_cast<std::uint16_t>(*pan)),
                           static_cast<std::int16_t>(static_cast<std::uint16_t>(*tilt))};
}

std::optional<std::uint16_t> ParseZoomPosition(const Frame& data)
{
    if (data.size() != 4) return std::nullopt;
    const auto zoom = Nibbles(data, 0, 4);
    if (!zoom) return std::nullopt;
    return static_cast<std::uint16_t>(*zoom);
}

Frame PanTiltPositionData(PanTiltPosition position)
{
    Frame out;
    PutNibbles(out, static_cast<std::uint16_t>(position.pan));
    PutNibbles(out, static_cast<std::uint16_t>(position.tilt));
    return out;
}

Frame ZoomPositionData(std::uint16_t zoom)
{
    Frame out;
    PutNibbles(out, zoom);
    return out;
}

std::uint8_t ViscaIpPanSpeed(std::int32_t speed) { return MapSpeed(speed, kViscaPanSpeedMax); }
std::uint8_t ViscaIpTiltSpeed(std::int32_t speed) { return MapSpeed(speed, kViscaTiltSpeedMax); }

}  // namespace korvane
