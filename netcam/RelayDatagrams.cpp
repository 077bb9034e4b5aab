#include "netcam/RelayDatagrams.h"

#include <korvane/Korvane.h>

#include <algorithm>
#include <cstring>

namespace korvane {

void PutLe32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

std::uint32_t EventPortField(std::uint16_t port)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port), 0, 0};
    return GetLe32(bytes);
}

std::uint16_t EventPortFromField(std::uint32_t field)
{
    return static_cast<std::uint16_t>((field & 0xFFu) << 8 | (field >> 8 & 0xFFu));
}

COpenRequest::COpenRequest()
{
    PutLe32(&m_record[0], static_cast<std::uint32_t>(RelayKind::Open));
    PutLe32(&m_record[16], 9600);
}

void COpenRequest::SetConnection(std::uint32_t devicePort, std::uint32_t value4, const char* ip,
                                 const char* text7, const char* user, const char* password)
{
    PutLe32(&m_record[0], static_cast<std::uint32_t>(RelayKind::Open));
    PutLe32(&m_record[12], devicePort);
    PutLe32(&m_record[16], value4);
    PutText(kIpAt, ip);
    PutText(kText7At, text7);
    PutText(kUserAt, user);
    PutText(kPasswordAt, password);
}

void COpenRequest::PutText(std::size_t at, const char* text)
{
    std::uint8_t* field = &m_record[at];
    std::fill(field, field + kTextField, std::uint8_t{0});
    if (!text) return;
    const std::size_t length = ::strnlen(text, kTextField - 1);
    std::memcpy(field, text, length);
}

std::uint32_t DeviceKind(std::int32_t deviceType)
{
    switch (deviceType) {
    case DEVICE_TYPE_1:
    case DEVICE_TYPE_2:
    case DEVICE_TYPE_4: return static_cast<std::uint32_t>(deviceType);
    default: return 0;
    }
}

Frame CommandDatagram(std::uint32_t deviceKind, std::uint32_t devicePort, std::uint32_t eventPortField,
                      const Frame& frame)
{
    Frame datagram(kCommandDatagramSize, 0);
    const std::size_t length = std::min(frame.size(), kCommandFrameRoom);
    PutLe32(&datagram[0], static_cast<std::uint32_t>(RelayKind::Command));
    PutLe32(&datagram[4], deviceKind);
    PutLe32(&datagram[8], devicePort);
    PutLe32(&datagram[12], eventPortField);
    PutLe32(&datagram[16], static_cast<std::uint32_t>(length));
    std::copy_n(frame.begin(), length, datagram.begin() + 20);
    return datagram;
}

Frame CloseNotice(std::uint32_t eventPortField)
{
    Frame notice(8, 0);
    PutLe32(&notice[0], static_cast<std::uint32_t>(RelayKind::Close));
    PutLe32(&notice[4], eventPortField);
    return notice;
}

namespace {

// The datagram's text: up to its first zero byte or its end.
std::string TextOf(const std::uint8_t* data, std::size_t length)
{
    const auto* begin = reinterpret_cast<const char*>(data);
    const auto* end = static_cast<const char*>(std::memchr(begin, 0, length));
    return std::string(begin, end ? end : begin + length);
}

}  // namespace

bool IsRefusal(const std::uint8_t* answer, std::size_t length) { return TextOf(answer, length) == "FAI"; }

std::optional<std::uint32_t> EventMessage(const std::uint8_t* datagram, std::size_t length)
{
    if (length == 0 || length > kEventDatagramLimit) return std::nullopt;
    const std::string text = TextOf(datagram, length);
    if (text == "APPEARS") return KORVANE_TARGET_APPEARS;
    if (text == "DISAPPEARS") return KORVANE_TARGET_DISAPPEARS;
    return std::nullopt;
}

}  // namespace korvane
