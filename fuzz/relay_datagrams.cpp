// What the relay service sends back: the open request's answer (a refusal is
// "FAI" up to a zero or the end) and the event datagrams ("APPEARS" or
// "DISAPPEARS" up to a zero, at most 1024 bytes). Both are compared with a
// plain reading of those rules; the event port field must survive its round
// trip for every port.
#include "Check.h"

#include "netcam/RelayDatagrams.h"

#include <korvane/Korvane.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace korvane;

namespace {

// The bytes before the first zero, or all of them.
std::size_t TextLength(const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == 0) return i;
    return bytes.size();
}

bool TextIs(const std::vector<std::uint8_t>& bytes, const char* word)
{
    const std::size_t length = TextLength(bytes);
    return length == std::strlen(word) && std::memcmp(bytes.data(), word, length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto port = input.ConsumeIntegral<std::uint16_t>();
    const std::uint32_t field = EventPortField(port);
    FUZZ_REQUIRE(EventPortFromField(field) == port, "port %u comes back as %u", port, EventPortFromField(field));
    std::uint8_t wire[4];
    PutLe32(wire, field);
    FUZZ_REQUIRE(wire[0] == port >> 8 && wire[1] == (port & 0xFF) && wire[2] == 0 && wire[3] == 0,
                 "the field does not carry port %u high byte first", port);

    const std::vector<std::uint8_t> datagram = input.ConsumeRemainingBytes<std::uint8_t>();
    // A copy of exactly the datagram's size, so that a read past its end is
    // caught.
    const auto exact = std::make_unique<std::uint8_t[]>(datagram.size());
    std::copy(datagram.begin(), datagram.end(), exact.get());

    FUZZ_REQUIRE(IsRefusal(exact.get(), datagram.size()) == TextIs(datagram, "FAI"), "refusal misread");

    const std::optional<std::uint32_t> event = EventMessage(exact.get(), datagram.size());
    std::optional<std::uint32_t> expected;
    if (!datagram.empty() && datagram.size() <= kEventDatagramLimit) {
        if (TextIs(datagram, "APPEARS")) expected = KORVANE_TARGET_APPEARS;
        if (TextIs(datagram, "DISAPPEARS")) expected = KORVANE_TARGET_DISAPPEARS;
    }
    FUZZ_REQUIRE(event == expected, "event %x, the rule gives %x", event.value_or(0), expected.value_or(0));
    return 0;
}
