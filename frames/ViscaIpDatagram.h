// VISCA over IP (UDP, port 52381): every message is an 8-byte header (payload
// type, payload length, sequence number; big-endian) and a payload of 1 to
// 16 bytes. Shared by the link, the simulated camera and the fuzz target, so
// nothing here touches a socket.
#pragma once

#include "frames/Frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace korvane {

constexpr std::uint16_t kViscaIpPort = 52381;
constexpr std::size_t kViscaIpHeaderSize = 8;
constexpr std::size_t kViscaIpPayloadLimit = 16;
constexpr std::size_t kViscaIpDatagramLimit = kViscaIpHeaderSize + kViscaIpPayloadLimit;

namespace viscaip {
constexpr std::uint16_t kCommand = 0x0100;
constexpr std::uint16_t kInquiry = 0x0110;
constexpr std::uint16_t kReply = 0x0111;
constexpr std::uint16_t kDeviceSetting = 0x0120;
constexpr std::uint16_t kControl = 0x0200;
constexpr std::uint16_t kControlReply = 0x0201;
}  // namespace viscaip

// VISCA error codes (y0 6z EE FF) and the control errors (0F EE).
constexpr std::uint8_t kViscaErrorLength = 0x01;
constexpr std::uint8_t kViscaErrorSyntax = 0x02;
constexpr std::uint8_t kViscaErrorBufferFull = 0x03;
constexpr std::uint8_t kViscaErrorCancelled = 0x04;
constexpr std::uint8_t kViscaErrorNoSocket = 0x05;
constexpr std::uint8_t kViscaErrorNotExecutable = 0x41;
constexpr std::uint8_t kControlErrorSequence = 0x01;
constexpr std::uint8_t kControlErrorMessage = 0x02;

// Header and payload; empty when the payload is empty or longer than 16 bytes.
Frame ViscaIpDatagram(std::uint16_t type, std::uint32_t sequence, const Frame& payload);
// The control command RESET (payload 01): the camera sets its sequence to 0.
Frame ViscaIpReset(std::uint32_t sequence);

struct ViscaIpMessage {
    std::uint16_t type = 0;
    std::uint32_t sequence = 0;
    Frame payload;
};
// A datagram whose length field matches what arrived (1 to 16 bytes of
// payload); anything else is no message.
std::optional<ViscaIpMessage> ParseViscaIpMessage(const std::uint8_t* data, std::size_t size);

enum class ViscaReplyKind {
    Ack,           // y0 4z FF
    Completion,    // y0 5z ... FF (an inquiry's answer between 5z and FF)
    Error,         // y0 6z EE FF
    ControlAck,    // control reply 01: RESET done
    ControlError,  // control command 0F EE from the camera
};

struct ViscaIpReply {
    ViscaReplyKind kind = ViscaReplyKind::Ack;
    std::uint32_t sequence = 0;
    std::uint8_t socket = 0;  // z
    std::uint8_t error = 0;   // EE for Error and ControlError
    Frame data;               // a completion's bytes between 5z and FF
};
// A reply from the camera, or nothing for anything not shaped as one.
std::optional<ViscaIpReply> ParseViscaIpReply(const std::uint8_t* data, std::size_t size);

// "syntax error", "command buffer full", ...; the code in hex for others.
const char* ViscaErrorMeaning(std::uint8_t code);
const char* ControlErrorMeaning(std::uint8_t code);

// The inquiries behind a camera's status: 8x 09 06 12 FF, 8x 09 04 47 FF.
Frame ViscaPanTiltPositionInquiry(std::uint8_t address);
Frame ViscaZoomPositionInquiry(std::uint8_t address);
struct PanTiltPosition {
    std::int16_t pan = 0;
    std::int16_t tilt = 0;
};
// The answers' data: eight nibbles (pan then tilt, signed) and four (zoom).
std::optional<PanTiltPosition> ParsePanTiltPosition(const Frame& data);
std::optional<std::uint16_t> ParseZoomPosition(const Frame& data);
// The same as a camera writes them, for the simulated one.
Frame PanTiltPositionData(PanTiltPosition position);
Frame ZoomPositionData(std::uint16_t zoom);

// The library's speeds (0 to 63, as frames cap them) on the camera's range:
// pan 1 to 0x18, tilt 1 to 0x14, rounded to the nearest step.
constexpr std::uint8_t kViscaPanSpeedMax = 0x18;
constexpr std::uint8_t kViscaTiltSpeedMax = 0x14;
std::uint8_t ViscaIpPanSpeed(std::int32_t speed);
std::uint8_t ViscaIpTiltSpeed(std::int32_t speed);

}  // namespace korvane
