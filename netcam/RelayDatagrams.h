// The datagrams exchanged with the relay service on 127.0.0.1:20715. Every
// number is a 32-bit little-endian unsigned integer.
//
// The event port field carries the event socket's UDP port high byte first
// in its first two bytes; read as a little-endian number it is the port with
// its bytes swapped, and that number is the camera's key in the event table.
#pragma once

#include "frames/Frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

constexpr std::uint16_t kRelayPort = 20715;

enum class RelayKind : std::uint32_t { Open = 1, Command = 2, Close = 3 };

void PutLe32(std::uint8_t* at, std::uint32_t value);
std::uint32_t GetLe32(const std::uint8_t* at);

// The event port field's 32-bit value for a UDP port, and back.
std::uint32_t EventPortField(std::uint16_t port);
std::uint16_t EventPortFromField(std::uint32_t field);

// The open request: a 1040-byte record of which the first 1024 bytes are
// sent. Texts fill 255-byte fields and are cut to 254 bytes so that each
// keeps its terminating zero; only the first 239 bytes of the password field
// are sent (passwords of up to 238 characters arrive with their zero).
class COpenRequest {
public:
    static constexpr std::size_t kRecordSize = 1040;
    static constexpr std::size_t kDatagramSize = 1024;
    static constexpr std::size_t kTextField = 255;
    static constexpr std::size_t kIpAt = 20, kText7At = 275, kUserAt = 530, kPasswordAt = 785;

    COpenRequest();

    void SetDeviceType(std::uint32_t type) { PutLe32(&m_record[4], type); }
    void SetEventPort(std::uint16_t port) { PutLe32(&m_record[8], korvane::EventPortField(port)); }
    // Kind 1, the device port, the fourth value and the four texts.
    void SetConnection(std::uint32_t devicePort, std::uint32_t value4, const char* ip, const char* text7,
                       const char* user, const char* password);

    std::uint32_t EventPortField() const { return GetLe32(&m_record[8]); }
    std::uint32_t DevicePort() const { return GetLe32(&m_record[12]); }
    const std::uint8_t* Datagram() const { return m_record.data(); }

private:
    void PutText(std::size_t at, const char* text);

    std::array<std::uint8_t, kRecordSize> m_record{};
};

// Kind 2: device kind, device port, event port field, frame length and the
// frame (at most 20 bytes) in 40 bytes.
constexpr std::size_t kCommandDatagramSize = 40;
constexpr std::size_t kCommandFrameRoom = 20;
Frame CommandDatagram(std::uint32_t deviceKind, std::uint32_t devicePort, std::uint32_t eventPortField,
                      const Frame& frame);
// The device kind a command datagram carries: 1, 2 and 4 as they are, 0 else.
std::uint32_t DeviceKind(std::int32_t deviceType);

// Kind 3 and the event port field, 8 bytes.
Frame CloseNotice(std::uint32_t eventPortField);

// The relay's answer refuses the camera: "FAI" ended by a zero or by the end.
bool IsRefusal(const std::uint8_t* answer, std::size_t length);

// Event datagrams of up to 1024 bytes: their text up to the first zero is
// "APPEARS" (target appears) or "DISAPPEARS" (target disappears); anything
// else is no event.
constexpr std::size_t kEventDatagramLimit = 1024;
std::optional<std::uint32_t> EventMessage(const std::uint8_t* datagram, std::size_t length);

}  // namespace korvane
