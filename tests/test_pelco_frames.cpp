// Byte-exact Pelco-D and Pelco-P frames, for every builder and every operation.
#include "frames/CommandEncoder.h"

#include <korvane/Korvane.h>
#include "frames/PelcoFrames.h"

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

TEST(PelcoDBuilders, KnownFramesAndRecord)
{
    PELCODCMD cmd{};
    EXPECT_EQ(PelcoDStop(cmd, 1), Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(cmd.length, 7u);
    EXPECT_EQ(PelcoDTilt(cmd, 1, kPelcoUp, 30), Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x1E, 0x45}));
    EXPECT_EQ(PelcoDTilt(cmd, 1, kPelcoUp, 100), Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66}));
    EXPECT_EQ(PelcoDTilt(cmd, 1, kPelcoUp, -1), Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66}));
    EXPECT_EQ(PelcoDTilt(cmd, 1, kPelcoUp, 64), Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66}));
    EXPECT_EQ(PelcoDTilt(cmd, 1, kPelcoUp, 63), Bytes({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x3F, 0x66}));
    EXPECT_EQ(PelcoDPan(cmd, 2, kPelcoLeft, 20), Bytes({0xFF, 0x02, 0x00, 0x04, 0x14, 0x1E, 0x38}));
    EXPECT_EQ(PelcoDDiagonal(cmd, 1, kPelcoLeft, 100, kPelcoUp, 100),
              Bytes({0xFF, 0x01, 0x00, 0x0C, 0x64, 0x64, 0xD5}));
    // The checksum wraps modulo 256.
    EXPECT_EQ(PelcoDCallPreset(cmd, 0xFF, 0xDC), Bytes({0xFF, 0xFF, 0x00, 0x07, 0x00, 0xDC, 0xE2}));
    EXPECT_EQ(cmd.frame[6], 0xE2);
    EXPECT_EQ(PelcoDZoom(cmd, 1, kPelcoZoomWide), Bytes({0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41}));
    EXPECT_EQ(PelcoDIris(cmd, 1, 0x04), Bytes({0xFF, 0x01, 0x04, 0x00, 0x00, 0x00, 0x05}));
}

TEST(PelcoDBuilders, PresetSelectors)
{
    PELCODCMD cmd{};
    EXPECT_EQ(PelcoDPreset(cmd, 1, 0, 5), Bytes({0xFF, 0x01, 0x00, 0x03, 0x00, 0x05, 0x09}));
    EXPECT_EQ(PelcoDPreset(cmd, 1, 1, 5), Bytes({0xFF, 0x01, 0x00, 0x05, 0x00, 0x05, 0x0B}));
    EXPECT_EQ(PelcoDPreset(cmd, 1, 2, 5), Bytes({0xFF, 0x01, 0x00, 0x07, 0x00, 0x05, 0x0D}));
    EXPECT_EQ(PelcoDPreset(cmd, 1, 7, 5), Bytes({0xFF, 0x01, 0x00, 0x03, 0x00, 0x05, 0x09}));
}

TEST(PelcoPBuilders, KnownFrames)
{
    PELCOPCMD cmd{};
    EXPECT_EQ(PelcoPCommand(cmd, 1, 0, 0, 0, 0), Bytes({0xA0, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0E}));
    EXPECT_EQ(cmd.length, 8u);
    EXPECT_EQ(PelcoPCommand(cmd, 1, 0x00, 0x07, 0x00, 0x50), Bytes({0xA0, 0x01, 0x00, 0x07, 0x00, 0x50, 0xAF, 0x59}));
}

TEST(ConnectTest, FrameAndRecordLength)
{
    PELCODCMD cmd{};
    PelcoDStop(cmd, 3);
    EXPECT_EQ(ConnectTestFrame(cmd.length, 3), Bytes({0xAE, 0x03, 0x09, 0x00, 0x00, 0xFE}));
    EXPECT_EQ(cmd.length, 6u);
    EXPECT_EQ(cmd.frame[0], 0xFF);  // the old frame bytes stay

    auto encoder = Encoder(PROTOCOL_PELCO_P, 3);
    EXPECT_EQ(encoder.ConnectTest(), Bytes({0xAE, 0x03, 0x09, 0x00, 0x00, 0xFE}));
    EXPECT_EQ(encoder.PelcoPRecord().length, 6u);
    EXPECT_TRUE(Encoder(PROTOCOL_VISCA, 3).ConnectTest().empty());
}

// Every operation of both protocols, byte by byte, is checked where it reaches
// the wire (relay tests); these cover the rules around the table.
TEST(PelcoOperations, SpeedsCapStraightMovesOnlyAndKeepLowBytes)
{
    // Pelco-P, pan speed 80: capped on the straight move.
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_P, 1, 80).Command(PtzCommand::Left).frame,
              Bytes({0xA0, 0x01, 0x00, 0x04, 0x3F, 0x1E, 0xAF, 0x2B}));
    // Diagonals carry the low byte, uncapped: 100 is 0x64, 300 is 0x2C.
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_P, 1, 100, 100).Command(PtzCommand::UpLeft).frame[4], 0x64);
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_D, 1, 300, 300).Command(PtzCommand::UpLeft).frame[4], 0x2C);
    // The fixed 0x1E stands whatever the other axis's speed.
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_D, 1, 5, 63).Command(PtzCommand::Up).frame[4], 0x1E);
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_D, 1, 5, -7).Command(PtzCommand::Up).frame[5], 0x3F);
    // Addresses carry their low byte: 300 is 0x2C.
    EXPECT_EQ(Encoder(PROTOCOL_PELCO_D, 300).Command(PtzCommand::Stop).frame,
              Bytes({0xFF, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x2C}));
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
