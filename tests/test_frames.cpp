// Byte-exact frames from the command encoder: the Pelco rules around the
// wire tables, and VISCA drives, lens commands with their one-time preambles,
// memories, and the stop chosen from the last command.
#include "frames/CommandEncoder.h"

#include <korvane/Korvane.h>

#include "TestBytes.h"

#include <gtest/gtest.h>

using namespace korvane;
constexpr auto Bytes = &korvane::test::B;

namespace {

// One camera's encoder: its records and preamble flags.
CCommandEncoder Encoder(std::int32_t protocol, std::uint32_t address, std::int32_t hs = 30, std::int32_t vs = 30,
                        ViscaZoom zoom = ViscaZoom::Variable)
{
    CCommandEncoder encoder(EncoderTraits{true, zoom});
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
    for (const std::uint32_t address : {1u, 0x81u, 0x7Fu}) {
        auto e = Encoder(PROTOCOL_VISCA, address, 100, 300);
        for (auto [command, frame] : cases) {
            frame[0] = static_cast<std::uint8_t>(0x80 + address);
            EXPECT_EQ(e.Command(command).frame, frame) << "address " << address;
        }
    }
}

TEST(ViscaOperations, VariableZoomSpeedComesFromPanSpeed)
{
    const std::pair<std::int32_t, int> cases[] = {{30, 0x23}, {100, 0x27}, {0, 0x20}, {63, 0x27}, {62, 0x26},
                                                  {9, 0x21},  {8, 0x20},   {-9, 0x27}};
    for (auto [speed, tele] : cases) {
        auto e = Encoder(PROTOCOL_VISCA, 1, speed);
        EXPECT_EQ(e.Command(PtzCommand::ZoomTele).frame, Bytes({0x81, 0x01, 0x04, 0x07, tele, 0xFF})) << speed;
        EXPECT_EQ(e.Command(PtzCommand::ZoomWide).frame, Bytes({0x81, 0x01, 0x04, 0x07, tele + 0x10, 0xFF}));
    }
    auto standard = Encoder(PROTOCOL_VISCA, 1, 63, 30, ViscaZoom::Standard);
    EXPECT_EQ(standard.Command(PtzCommand::ZoomTele).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}));
    EXPECT_EQ(standard.Command(PtzCommand::ZoomWide).frame, Bytes({0x81, 0x01, 0x04, 0x07, 0x03, 0xFF}));
}

// The lens a stop ends (0x07 zoom, 0x08 focus) after the lens commands
// since the last one; iris keeps the focus kind.
TEST(ViscaOperations, StopAfterLensCommands)
{
    const std::pair<std::vector<PtzCommand>, int> cases[] = {{{PtzCommand::ZoomWide}, 0x07},
                                                             {{PtzCommand::FocusNear}, 0x08},
                                                             {{PtzCommand::IrisOpen}, 0x08},
                                                             {{PtzCommand::ZoomTele, PtzCommand::IrisClose}, 0x07}};
    auto e = Encoder(PROTOCOL_VISCA, 1);
    for (const auto& [commands, lens] : cases) {
        for (const PtzCommand command : commands) e.Command(command);
        EXPECT_EQ(e.Command(PtzCommand::Stop).frame, Bytes({0x81, 0x01, 0x04, lens, 0x00, 0xFF})) << commands.size();
    }
}

// A stop ends every motion started since the last stop, the one today's
// single-axis rule picks first; with none known, pan-tilt and zoom.
TEST(ViscaOperations, StopEndsEveryMotionStarted)
{
    const Frame driveStop = Bytes({0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF});
    const Frame zoomStop = Bytes({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    const Frame focusStop = Bytes({0x81, 0x01, 0x04, 0x08, 0x00, 0xFF});
    const Frame preset = Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x04, 0xFF});
    struct Case {
        std::vector<PtzCommand> before;  // PtzCommand::Stop here: go to preset 4 instead
        std::vector<Frame> stop;
    };
    const Case cases[] = {
        {{}, {driveStop, zoomStop}},
        {{PtzCommand::Stop}, {driveStop, zoomStop}},
        {{PtzCommand::Left, PtzCommand::Stop}, {driveStop, zoomStop}},
        {{PtzCommand::ZoomTele, PtzCommand::Left}, {driveStop, zoomStop}},
        {{PtzCommand::Left, PtzCommand::ZoomWide}, {zoomStop, driveStop}},
        {{PtzCommand::FocusFar, PtzCommand::ZoomTele, PtzCommand::Up}, {driveStop, zoomStop, focusStop}},
        {{PtzCommand::FocusNear, PtzCommand::Right, PtzCommand::IrisOpen}, {focusStop, driveStop}},
        {{PtzCommand::ZoomTele, PtzCommand::ZoomWide}, {zoomStop}},
    };
    for (const Case& c : cases) {
        auto e = Encoder(PROTOCOL_VISCA, 1);
        for (PtzCommand command : c.before)
            if (command == PtzCommand::Stop)
                EXPECT_EQ(e.Preset(4, 0), preset);
            else
                e.Command(command);
        EXPECT_EQ(e.Command(PtzCommand::Stop).Frames(), c.stop) << c.before.size() << " commands before";
        // The stop is over: the next one has nothing recorded.
        EXPECT_EQ(e.Command(PtzCommand::Stop).Frames().size(), 2u);
    }
}

// Each camera has its own flags, each operation its own flag; preambles
// leave the record alone: a stop after the first iris of a fresh camera knows
// of no motion.
TEST(ViscaOperations, PreamblesOncePerOperationAndCamera)
{
    auto first = Encoder(PROTOCOL_VISCA, 1);
    auto second = Encoder(PROTOCOL_VISCA, 2), fresh = Encoder(PROTOCOL_VISCA, 1);
    const Frame iris1 = Bytes({0x81, 0x01, 0x04, 0x39, 0x0B, 0xFF}), iris2 = Bytes({0x82, 0x01, 0x04, 0x39, 0x0B, 0xFF});
    const Frame focus1 = Bytes({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF});
    const struct { CCommandEncoder& e; PtzCommand command; Frame preamble, frame; } cases[] = {
        {first, PtzCommand::IrisOpen, iris1, Bytes({0x81, 0x01, 0x04, 0x0B, 0x02, 0xFF})},
        {first, PtzCommand::IrisOpen, {}, Bytes({0x81, 0x01, 0x04, 0x0B, 0x02, 0xFF})},
        {second, PtzCommand::IrisOpen, iris2, Bytes({0x82, 0x01, 0x04, 0x0B, 0x02, 0xFF})},
        {second, PtzCommand::IrisClose, iris2, Bytes({0x82, 0x01, 0x04, 0x0B, 0x03, 0xFF})},
        {first, PtzCommand::FocusFar, focus1, Bytes({0x81, 0x01, 0x04, 0x08, 0x02, 0xFF})},
        {first, PtzCommand::FocusNear, focus1, Bytes({0x81, 0x01, 0x04, 0x08, 0x03, 0xFF})},
        {fresh, PtzCommand::IrisOpen, iris1, Bytes({0x81, 0x01, 0x04, 0x0B, 0x02, 0xFF})},
        {fresh, PtzCommand::Stop, {}, Bytes({0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF})},
    };
    for (const auto& c : cases) {
        const EncodedCommand encoded = c.e.Command(c.command);
        EXPECT_EQ(encoded.preamble, c.preamble) << &c - cases;
        EXPECT_EQ(encoded.frame, c.frame) << &c - cases;
    }
}

TEST(ViscaOperations, MemoriesAndSpecialPresetsAndNothingForUnknownProtocols)
{
    auto e = Encoder(PROTOCOL_VISCA, 1);
    EXPECT_EQ(e.Preset(5, 0), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x05, 0xFF}));
    EXPECT_EQ(e.Preset(5, 1), Bytes({0x81, 0x01, 0x04, 0x3F, 0x01, 0x05, 0xFF}));
    EXPECT_EQ(e.Preset(261, 2), Bytes({0x81, 0x01, 0x04, 0x3F, 0x00, 0x05, 0xFF}));
    EXPECT_TRUE(e.Preset(5, 3).empty());
    EXPECT_EQ(e.SpecialPreset(kTrackOnPreset, true), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x50, 0xFF}));
    EXPECT_EQ(e.SpecialPreset(kTrackOffPreset, true), Bytes({0x81, 0x01, 0x04, 0x3F, 0x02, 0x51, 0xFF}));
    EXPECT_TRUE(e.SpecialPreset(kAutoZoomOnPreset, false).empty());
    EXPECT_TRUE(e.ConnectTest().empty());
    // An unknown protocol builds nothing at all.
    for (std::int32_t protocol : {0, 4, -1, 1000}) {
        auto unknown = Encoder(protocol, 1);
        EXPECT_TRUE(unknown.Command(PtzCommand::Up).frame.empty());
        EXPECT_TRUE(unknown.Preset(1, 0).empty());
        EXPECT_TRUE(unknown.SpecialPreset(kTrackOnPreset, true).empty());
        EXPECT_TRUE(unknown.ConnectTest().empty());
    }
}
