// Byte-exact Pelco-D and Pelco-P frames, for every builder and every operation.
#include "frames/CommandEncoder.h"

#include <korvane/Korvane.h>

#include "TestBytes.h"

#include <gtest/gtest.h>

using namespace korvane;
constexpr auto Bytes = &korvane::test::B;

namespace {

ViscaPreambleFlags g_flags;

CCommandEncoder Encoder(std::int32_t protocol, std::uint32_t address, std::int32_t hs = 30, std::int32_t vs = 30)
{
    CCommandEncoder encoder(EncoderTraits{true, ViscaZoom::Variable, &g_flags});
    encoder.SetProtocol(protocol);
    encoder.SetAddress(address);
    encoder.SetHorizonSpeed(hs);
    encoder.SetVertcalSpeed(vs);
    return encoder;
}

}  // namespace

// Every operation of both protocols, byte by byte, is checked where it reaches
// the wire (relay tests); these cover the rules around that table: straight
// moves cap their speed at 63 (negatives too) and fix the other axis at 0x1E,
// diagonals and addresses keep their low byte uncapped.
TEST(PelcoOperations, SpeedsCapStraightMovesOnlyAndKeepLowBytes)
{
    struct Case {
        std::int32_t protocol;
        std::uint32_t address;
        std::int32_t hs, vs;
        PtzCommand command;
        std::vector<std::uint8_t> frame;
    };
    const Case cases[] = {
        {PROTOCOL_PELCO_P, 1, 80, 30, PtzCommand::Left, Bytes({0xA0, 0x01, 0x00, 0x04, 0x3F, 0x1E, 0xAF, 0x2B})},
        {PROTOCOL_PELCO_P, 1, 100, 100, PtzCommand::UpLeft, Bytes({0xA0, 0x01, 0x00, 0x0C, 0x64, 0x64, 0xAF, 0x02})},
        {PROTOCOL_PELCO_D, 1, 300, 300, PtzCommand::UpLeft, Bytes({0xFF, 0x01, 0x00, 0x0C, 0x2C, 0x2C, 0x65})},
        {PROTOCOL_PELCO_D, 1, 5, 63, PtzCommand::Up, Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66})},
        {PROTOCOL_PELCO_D, 1, 5, 64, PtzCommand::Down, Bytes({0xFF, 0x01, 0x00, 0x10, 0x1E, 0x3F, 0x6E})},
        {PROTOCOL_PELCO_D, 1, 5, -7, PtzCommand::Up, Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66})},
        {PROTOCOL_PELCO_D, 2, -1, 5, PtzCommand::Right, Bytes({0xFF, 0x02, 0x00, 0x02, 0x3F, 0x1E, 0x61})},
        {PROTOCOL_PELCO_D, 300, 30, 30, PtzCommand::Stop, Bytes({0xFF, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x2C})},
        // the checksum wraps modulo 256
        {PROTOCOL_PELCO_D, 0xFF, 0xDC, 30, PtzCommand::UpRight, Bytes({0xFF, 0xFF, 0x00, 0x0A, 0xDC, 0x1E, 0x03})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Encoder(c.protocol, c.address, c.hs, c.vs).Command(c.command).frame, c.frame)
            << "protocol " << c.protocol << ", speeds " << c.hs << "/" << c.vs;
}

TEST(PelcoOperations, UnknownProtocolBuildsNothing)
{
    for (std::int32_t protocol : {0, 4, -1, 1000}) {
        auto e = Encoder(protocol, 1);
        EXPECT_TRUE(e.Command(PtzCommand::Up).frame.empty());
        EXPECT_TRUE(e.Preset(1, 0).empty());
        EXPECT_TRUE(e.SpecialPreset(kTrackOnPreset, true).empty());
        EXPECT_TRUE(e.ConnectTest().empty());
    }
}
