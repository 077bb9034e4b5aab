// What a VISCA-over-IP camera (or anything on its port) sends back. A message
// read must be exactly what arrived (rebuilt byte for byte); a reply must
// follow a plain reading of the reply shapes; positions read back to the same
// nibbles; speeds stay in the camera's range whatever the library was given.
#include "Check.h"

#include "frames/ViscaIpDatagram.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

using namespace korvane;

namespace {

// The reply shapes, spelled out: y0 4z FF, y0 5z .. FF, y0 6z EE FF, control 01, control 0F EE.
std::optional<ViscaReplyKind> PlainKind(std::uint16_t type, const std::vector<std::uint8_t>& p)
{
    if (type == viscaip::kControlReply) return p == std::vector<std::uint8_t>{0x01} ? std::optional(ViscaReplyKind::ControlAck) : std::nullopt;
    if (type == viscaip::kControl) return p.size() == 2 && p[0] == 0x0F ? std::optional(ViscaReplyKind::ControlError) : std::nullopt;
    if (type != viscaip::kReply || p.size() < 3 || p[0] < 0x90 || p[0] % 16 != 0 || p.back() != 0xFF) return std::nullopt;
    for (std::size_t i = 1; i + 1 < p.size(); ++i)
        if (p[i] == 0xFF) return std::nullopt;
    if (p[1] / 16 == 4 && p.size() == 3) return ViscaReplyKind::Ack;
    if (p[1] / 16 == 5) return ViscaReplyKind::Completion;
    if (p[1] / 16 == 6 && p.size() == 4) return ViscaReplyKind::Error;
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto speed = input.ConsumeIntegral<std::int32_t>();
    const std::uint8_t pan = ViscaIpPanSpeed(speed), tilt = ViscaIpTiltSpeed(speed);
    FUZZ_REQUIRE(pan >= 1 && pan <= kViscaPanSpeedMax && tilt >= 1 && tilt <= kViscaTiltSpeedMax,
                 "speed %d maps to %u, %u", speed, pan, tilt);

    const std::vector<std::uint8_t> datagram = input.ConsumeRemainingBytes<std::uint8_t>();
    // A copy of exactly the datagram's size, so that a read past its end is caught.
    const auto exact = std::make_unique<std::uint8_t[]>(datagram.size());
    std::copy(datagram.begin(), datagram.end(), exact.get());

    const auto message = ParseViscaIpMessage(exact.get(), datagram.size());
    const bool framed = datagram.size() > 8 && datagram.size() <= 24 &&
                        static_cast<std::size_t>(datagram[2] << 8 | datagram[3]) == datagram.size() - 8;
    FUZZ_REQUIRE(message.has_value() == framed, "framing of %zu bytes misread", datagram.size());
    const auto reply = ParseViscaIpReply(exact.get(), datagram.size());
    if (!message) {
        FUZZ_REQUIRE(!reply, "a reply read from no message");
        return 0;
    }
    FUZZ_REQUIRE(ViscaIpDatagram(message->type, message->sequence, message->payload) == datagram,
                 "the message read does not rebuild the datagram");

    const std::optional<ViscaReplyKind> kind = PlainKind(message->type, message->payload);
    FUZZ_REQUIRE(reply.has_value() == kind.has_value(), "reply %d, the shapes say %d", reply.has_value(), kind.has_value());
    if (!reply) return 0;
    FUZZ_REQUIRE(reply->kind == *kind && reply->sequence == message->sequence, "reply kind or sequence misread");
    const std::vector<std::uint8_t>& p = message->payload;
    if (reply->kind == ViscaReplyKind::Error || reply->kind == ViscaReplyKind::ControlError)
        FUZZ_REQUIRE(reply->error == p[p.size() - (reply->kind == ViscaReplyKind::Error ? 2 : 1)], "error code misread");
    if (reply->kind != ViscaReplyKind::Completion) return 0;
    FUZZ_REQUIRE(reply->data == std::vector<std::uint8_t>(p.begin() + 2, p.end() - 1), "completion data misread");
    if (const auto position = ParsePanTiltPosition(reply->data))
        FUZZ_REQUIRE(PanTiltPositionData(*position) == reply->data, "pan-tilt position does not read back");
    if (const auto zoom = ParseZoomPosition(reply->data))
        FUZZ_REQUIRE(ZoomPositionData(*zoom) == reply->data, "zoom position does not read back");
    return 0;
}
