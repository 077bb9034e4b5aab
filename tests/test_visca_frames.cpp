// Byte-exact VISCA frames: drives, lens commands with their one-time
// preambles, memories, and the stop chosen from the last command.
#include "frames/CommandEncoder.h"

#include <korvane/Korvane.h>

#include "TestBytes.h"

#include <gtest/gtest.h>

using namespace korvane;
constexpr auto Bytes = &korvane::test::B;

namespace {

CCommandEncoder Encoder(ViscaPreambleFlags& flags, ViscaZoom zoom, std::uint32_t address = 1, std::int32_t hs = 30,
                        std::int32_t vs = 30)
{
    CCommandEncoder encoder(EncoderTraits{true, zoom, &flags});
    encoder.SetProtocol(PROTOCOL_VISCA);
    encoder.SetAddress(address);
    encoder.SetHorizonSpeed(hs);
    encoder.SetVertcalSpeed(vs);
    return encoder;
}

}  // namespace

// Straight drives cap their speed at 63 (0x3F), diagonals keep the low byte
// uncapped (100 = 0x64, 300 = 0x2C); the header byte wraps (0x80 + address).
TEST(ViscaOperations, DrivesAndDiagonals)
{
    const std::pair<PtzCommand, std::vector<std::uint8_t>> cases[] = {
        {PtzCommand::Up, Bytes({0x81, 0x01, 0x06, 0x01, 0x01, 0x3F, 0x03, 0x01, 0xFF})},
        {PtzCommand::Down, Bytes({0x81, 0x01, 0x06, 0x01, 0x01, 0x3F, 0x03, 0x02, 0xFF})},
        {PtzCommand::Left, Bytes({0x81, 0x01, 0x06, 0x01, 0x3F, 0x01, 0x01, 0x03, 0xFF})},
        {PtzCommand::Right, Bytes({0x81, 0x01, 0x06, 0x01, 0x3F, 0x01, 0x02, 0x03, 0xFF})},
        {PtzCommand::UpLeft, Bytes({0x81, 0x01, 0x06, 0x01, 0x64, 0x2C, 0x01, 0x01, 0xFF})},
        {PtzCommand::UpRight, Bytes({0x81, 0x01, 0x06, 0x01, 0x64, 0x2C, 0x02, 0x01, 0xFF})},
        {PtzCommand::DownLeft, Bytes({0x81, 0x01, 0x06, 0x01, 0x64, 0x2C, 0x01, 0x02, 0xFF})},
        {PtzCommand::DownRight, Bytes({0x81, 0x01, 0x06, 0x01, 0x64, 0x2C, 0x02, 0x02, 0xFF})},
        {PtzCommand::Stop, Bytes({0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF})},
    };
    ViscaPreambleFlags flags;
    for (const std::uint32_t address : {1u, 0x81u, 0x7Fu}) {
        auto e = Encoder(flags, ViscaZoom::Variable, address, 100, 300);
        for (auto [command, frame] : cases) {
            frame[0] = static_cast<std::uint8_t>(0x80 + address);
            EXPECT_EQ(e.Command(command).frame, frame) << "address " << address;
        }
    }
}

TEST(ViscaOperations, VariableZoomSpeedComesFromPanSpeed)
{
    ViscaPreambleFlags flags;
    const std::pair<std::int32_t, int> cases[] = {{30, 0x23}, {100, 0x27}, {0, 0x20}, {63, 0x27}, {62, 0x26},
                                                  {9, 0x21},  {8, 0x20},   {-9, 0x27}};
    for (auto [speed, tele] : cases) {
        auto e = Encoder(flags, ViscaZoom::Variable, 1, speed);
        EXPECT_EQ(e.Command(PtzCommand::ZoomTele).frame, Bytes({0x81, 0x01, 0x04, 0x07, tele, 0xFF})) << speed;
        EXPECT_EQ(e.Command(PtzCommand::ZoomWide).frame, Bytes({0x81, 0x01, 0x04, 0x07, tele + 0x10, 0xFF}));
    }
    auto standard = Encoder(flags, ViscaZoom::Standard, 1, 63);
    EXPECT_EQ(standard.Command(PtzCommand::ZoomTele).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}));
    EXPECT_EQ(standard.Command(PtzCommand::ZoomWide).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x03, 0xFF}));
}

TEST(ViscaOperations, StopAfterLensCommands)
{
    ViscaPreambleFlags flags;
    auto e = Encoder(flags, ViscaZoom::Variable);
    e.Command(PtzCommand::ZoomWide);
    EXPECT_EQ(e.Command(PtzCommand::Stop).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}));
    e.Command(PtzCommand::FocusNear);
    EXPECT_EQ(e.Command(PtzCommand::Stop).frame, Bytes({0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}));
    e.Command(PtzCommand::IrisOpen);  // keeps the focus kind
    EXPECT_EQ(e.Command(PtzCommand::Stop).frame, Bytes({0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}));
    e.Command(PtzCommand::ZoomTele);
    e.Command(PtzCommand::IrisClose);
    EXPECT_EQ(e.Command(PtzCommand::Stop).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}));
    e.Preset(4, 0);
    EXPECT_TRUE(e.Command(PtzCommand::Stop).frame.empty());
}

TEST(ViscaOperations, PreamblesOncePerOperationAndKind)
{
    ViscaPreambleFlags serialKind, trackingKind;
    auto first = Encoder(serialKind, ViscaZoom::Variable);
    auto second = Encoder(serialKind, ViscaZoom::Variable, 2);
    auto other = Encoder(trackingKind, ViscaZoom::Standard);

    EncodedCommand c = first.Command(PtzCommand::IrisOpen);
    EXPECT_EQ(c.preamble, Bytes({0x81, 0x01, 0x04, 0x39, 0x0B, 0xFF}));
    EXPECT_EQ(c.frame, Bytes({0x81, 0x01, 0x04, 0x0B, 0x02, 0xFF}));
    EXPECT_TRUE(first.Command(PtzCommand::IrisOpen).preamble.empty());
    EXPECT_TRUE(second.Command(PtzCommand::IrisOpen).preamble.empty());  // same kind, other camera
    // Each operation has its own flag.
    c = second.Command(PtzCommand::IrisClose);
    EXPECT_EQ(c.preamble, Bytes({0x82, 0x01, 0x04, 0x39, 0x0B, 0xFF}));
    EXPECT_EQ(c.frame, Bytes({0x82, 0x01, 0x04, 0x0B, 0x03, 0xFF}));
    c = first.Command(PtzCommand::FocusFar);
    EXPECT_EQ(c.preamble, Bytes({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}));
    EXPECT_EQ(c.frame, Bytes({0x81, 0x01, 0x04, 0x08, 0x02, 0xFF}));
    c = first.Command(PtzCommand::FocusNear);
    EXPECT_EQ(c.preamble, Bytes({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}));
    EXPECT_EQ(c.frame, Bytes({0x81, 0x01, 0x04, 0x08, 0x03, 0xFF}));
    // Another back-end kind has flags of its own.
    EXPECT_FALSE(other.Command(PtzCommand::FocusFar).preamble.empty());
    // Preambles leave the record alone: a stop after the first iris of a
    // fresh kind still has nothing to stop.
    ViscaPreambleFlags fresh;
    auto e = Encoder(fresh, ViscaZoom::Variable);
    e.Command(PtzCommand::IrisOpen);
    EXPECT_TRUE(e.Command(PtzCommand::Stop).frame.empty());
}

TEST(ViscaOperations, MemoriesAndSpecialPresets)
{
    ViscaPreambleFlags flags;
    auto e = Encoder(flags, ViscaZoom::Variable);
    EXPECT_EQ(e.Preset(5, 0), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x05, 0xFF}));
    EXPECT_EQ(e.Preset(5, 1), Bytes({0x81, 0x01, 0x04, 0x3F, 0x01, 0x05, 0xFF}));
    EXPECT_EQ(e.Preset(261, 2), Bytes({0x81, 0x01, 0x04, 0x3F, 0x00, 0x05, 0xFF}));
    EXPECT_TRUE(e.Preset(5, 3).empty());
    EXPECT_EQ(e.SpecialPreset(kTrackOnPreset, true), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x50, 0xFF}));
    EXPECT_EQ(e.SpecialPreset(kTrackOffPreset, true), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x51, 0xFF}));
    EXPECT_TRUE(e.SpecialPreset(kAutoZoomOnPreset, false).empty());
    EXPECT_TRUE(e.ConnectTest().empty());

    // A back-end without VISCA (the relay) builds nothing at all.
    CCommandEncoder relay(EncoderTraits{false, ViscaZoom::Standard, &flags});
    relay.SetProtocol(PROTOCOL_VISCA);
    EXPECT_TRUE(relay.Command(PtzCommand::Up).frame.empty());
    EXPECT_TRUE(relay.Command(PtzCommand::FocusFar).preamble.empty());
    EXPECT_TRUE(relay.Preset(1, 0).empty());
}
