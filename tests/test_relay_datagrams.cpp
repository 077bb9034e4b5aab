// The relay datagrams' layout rules that the wire tests cannot reach: event
// texts, refusals and the event port field.
#include "netcam/RelayDatagrams.h"

#include <gtest/gtest.h>

#include <string>

using namespace korvane;

namespace {

std::optional<std::uint32_t> Event(const std::string& text)
{
    return EventMessage(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool Refused(const std::string& answer)
{
    return IsRefusal(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
}

}  // namespace

TEST(RelayDatagrams, EventTextsAreWholeAndCaseSensitive)
{
    EXPECT_EQ(Event("APPEARS"), 0x8400u);
    EXPECT_EQ(Event(std::string("APPEARS\0junk", 12)), 0x8400u);
    EXPECT_EQ(Event("DISAPPEARS"), 0x8401u);
    EXPECT_FALSE(Event("appears"));
    EXPECT_FALSE(Event("APPEARS\r\n"));
    EXPECT_FALSE(Event(""));
    EXPECT_FALSE(Event(std::string(1024, 'A')));
    EXPECT_EQ(Event("DISAPPEARS" + std::string(1014, '\0')), 0x8401u);
    EXPECT_FALSE(Event("APPEARS" + std::string(1018, '\0')));  // 1025 bytes: over the limit
}

TEST(RelayDatagrams, OnlyFaiRefuses)
{
    EXPECT_TRUE(Refused("FAI"));
    EXPECT_TRUE(Refused(std::string("FAI\0\0", 5)));
    EXPECT_FALSE(Refused("FAIL"));
    EXPECT_FALSE(Refused("FA"));
    EXPECT_FALSE(Refused(""));
    EXPECT_FALSE(Refused("OK"));
}

TEST(RelayDatagrams, EventPortFieldIsThePortHighByteFirst)
{
    EXPECT_EQ(EventPortField(0x1234), 0x3412u);
    EXPECT_EQ(EventPortFromField(EventPortField(40001)), 40001);
    EXPECT_EQ(DeviceKind(4), 4u);
    EXPECT_EQ(DeviceKind(3), 0u);
    EXPECT_EQ(DeviceKind(-1), 0u);
    // Frames longer than the datagram's room are cut, never overflow.
    const Frame datagram = CommandDatagram(1, 2, 3, Frame(25, 0xEE));
    ASSERT_EQ(datagram.size(), 40u);
    EXPECT_EQ(GetLe32(&datagram[16]), 20u);
}
