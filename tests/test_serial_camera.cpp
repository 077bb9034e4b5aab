// A serial camera through the public interface, on a real pseudo-terminal
// with the simulated peer at the far end: what reaches the line, byte for byte.
#include "CommandSteps.h"
#include "SerialTestSupport.h"

#include <korvane/Korvane.h>

#include "TestBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using korvane::sim::Bytes;
using korvane::sim::CSerialPeer;
using korvane::test::B;
using korvane::test::Got;
using korvane::test::Step;
using namespace std::chrono_literals;

namespace {

MYDCB Settings(std::uint8_t protocol) { return MYDCB{9600, 8, protocol}; }

const Bytes kPanTiltStop = B({0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF});
const Bytes kZoomStop = B({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});

// Opens the device read-write as the unprivileged user nobody: 0 when the open
// succeeds, -1 when no such user or tool exists here.
int OpenAsNobody(const std::string& device)
{
    if (std::system("id -u | grep -qx 0 && id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null") != 0)
        return -1;
    const std::string open = "setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c ': <> \"$0\"' " + device +
                             " 2>/dev/null";
    return std::system(open.c_str());
}


}  // namespace

// Each call, in order, and the frames it puts on the line. Frames go out
// once the port is bound, even before Open.
TEST(SerialCamera, CommandsReachTheLineByteExact)
{
    const auto settings = [](const char* device, int protocol, bool bound) {
        return [=](CKorvane& c) {
            MYDCB dcb = Settings(static_cast<std::uint8_t>(protocol));
            EXPECT_EQ(c.SetCommDevice(device, dcb), bound);
        };
    };
    const auto preset = [](int number, int op, int result = 1) {
        return [=](CKorvane& c) { EXPECT_EQ(c.PreSet(number, static_cast<unsigned char>(op)), result); };
    };
    CSerialPeer peer;
    const char* line = peer.DeviceName().c_str();
    const struct { const char* name; std::vector<Step> steps; } cases[] = {
        {"pelco-d", {
            {[](CKorvane& c) { EXPECT_EQ(c.Open(), 1); }, {}},  // no notify function: no presets
            {&CKorvane::MoveUp, {B({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x1E, 0x45})}},
            {preset(5, 3, 0), {}},  // no such operation: nothing, and 0
            {&CKorvane::OpenTrack, {B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x50, 0x58})}}}},
        // A second SetCommDevice only changes the protocol; 0 or 4 leave it
        // as it is, and a null name changes nothing.
        {"pelco-p, then visca", {
            {settings(line, PROTOCOL_PELCO_P, true), {}},
            {[](CKorvane& c) { c.SetHorizonSpeed(80), c.MoveLeft(); }, {B({0xA0, 0x01, 0x00, 0x04, 0x3F, 0x1E, 0xAF, 0x2B})}},
            {settings(line, PROTOCOL_VISCA, true), {}},
            {settings(line, 4, true), {}},
            {preset(80, 0), {B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x50, 0xFF})}},
            {settings(nullptr, 4, false), {}},
            {preset(81, 0), {B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x51, 0xFF})}},
            // the serial line's zoom speed follows the pan speed (30 -> 3)
            {[](CKorvane& c) { c.SetHorizonSpeed(30), c.ZoomMinus(); }, {B({0x81, 0x01, 0x04, 0x07, 0x33, 0xFF})}}}},
        // A VISCA stop goes out as the frames the encoder chooses (its rules:
        // ViscaOperations.StopEndsEveryMotionStarted): knowing no motion,
        // pan-tilt and zoom; after a focus, the focus alone.
        {"visca stops", {
            {settings(line, PROTOCOL_VISCA, true), {}},
            {&CKorvane::CameraStop, {kPanTiltStop, kZoomStop}},
            {&CKorvane::FocusPlus, {B({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}), B({0x81, 0x01, 0x04, 0x08, 0x02, 0xFF})}},
            {&CKorvane::CameraStop, {B({0x81, 0x01, 0x04, 0x08, 0x00, 0xFF})}},
            {preset(2, 0), {B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x02, 0xFF})}},
            {&CKorvane::CameraStop, {kPanTiltStop, kZoomStop}}}},
    };
    for (const auto& c : cases) {
        auto cam = korvane::test::SerialCamera(line, 1);
        ASSERT_TRUE(cam);
        korvane::test::ExpectSteps(*cam, c.steps, [&] { return Got(peer.NextFrame(3s)); }, c.name);
        EXPECT_TRUE(peer.Silent(50ms));
    }
}

// A line that cannot be had says why (the system's cause, not a list of
// guesses), and so does the connection test; a line whose far end is gone
// turns failed at the next write.
TEST(SerialCamera, TheLinkStateAndTheConnectTestNameWhatWentWrong)
{
    const auto link = [](const CKorvane& cam) {
        char reason[256];
        const int state = cam.GetLinkState(reason, sizeof reason);
        return std::to_string(state) + " " + reason;
    };
    korvane::test::MessageBoxes boxes;
    auto peer = std::make_unique<CSerialPeer>();
    const std::string device = peer->DeviceName();
    MYDCB dcb = Settings(PROTOCOL_PELCO_D);
    CKorvane cam(MODE_SERIAL), same(MODE_SERIAL), missing(MODE_SERIAL), notSerial(MODE_SERIAL);
    cam.SetDeviceAddress(3);
    same.SetDeviceAddress(3);
    EXPECT_EQ(cam.ConnectTest(), 0);  // no link yet: nothing sent, 0, success text
    ASSERT_TRUE(cam.SetCommDevice(device.c_str(), dcb));
    EXPECT_EQ(link(cam), "0 ");  // a line never answers: unchecked
    EXPECT_EQ(cam.ConnectTest(), 1);
    EXPECT_EQ(Got(peer->NextFrame(3s)), B({0xAE, 0x03, 0x09, 0x00, 0x00, 0xFE}));
    EXPECT_FALSE(same.SetCommDevice(device.c_str(), dcb));
    EXPECT_EQ(link(same), "2 cannot open serial device " + device + ": address 3 is already on that line");
    // A COM-port pair (Windows) has no file that is not a serial device, and
    // its far end cannot hang up under the camera.
    const bool posix = device.rfind("/dev/", 0) == 0;
    const std::string absent = posix ? "/dev/korvane-no-such-device" : "COM199";
    EXPECT_FALSE(missing.SetCommDevice(absent.c_str(), dcb));
    EXPECT_EQ(link(missing), "2 cannot open serial device " + absent + ": no such device");
    missing.ConnectTest();
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].first, "提示");
    EXPECT_FALSE(shown[1].second.empty());
    EXPECT_NE(shown[2].second, shown[1].second) << "the failed open's error is shown";
    if (!posix) {
        std::printf("skipped on a COM-port pair: a device that is no serial line, a far end that hangs up\n");
        return;
    }
    EXPECT_FALSE(notSerial.SetCommDevice("/dev/null", dcb));
    EXPECT_EQ(link(notSerial), "2 cannot open serial device /dev/null: not a serial device");

    ASSERT_EQ(cam.Open(), 1);
    peer.reset();  // the far end hangs up: writes fail
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (link(cam)[0] != '2' && std::chrono::steady_clock::now() < deadline) cam.MoveUp();
    EXPECT_EQ(link(cam).rfind("2 writing to " + device + ": ", 0), 0u) << link(cam);
}

TEST(SerialCamera, CommandsRightBeforeCloseStillReachTheLine)
{
    CSerialPeer peer;
    auto cam = korvane::test::SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(cam);
    ASSERT_EQ(cam->Open(), 1);
    for (int preset = 1; preset <= 40; ++preset) cam->PreSet(preset, 0);
    cam->Close();  // at once: the queued frames go out first
    int last = 0;
    while (auto frame = peer.NextFrame(1s))
        if (frame->size() == 7 && (*frame)[3] == 0x07) last = (*frame)[5];
    EXPECT_EQ(last, 40);
}

// The line is left as found: another program may open it once the camera is
// gone, as it could before and could not while the camera held it.
TEST(SerialCamera, TheLineIsLeftForOtherProgramsAfterClose)
{
    CSerialPeer peer;
    namespace fs = std::filesystem;
    std::error_code ignored;  // when not root the test is skipped below
    fs::permissions(peer.DeviceName(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                           fs::perms::group_write | fs::perms::others_read | fs::perms::others_write,
                    ignored);
    const int before = OpenAsNobody(peer.DeviceName());
    if (before < 0) GTEST_SKIP() << "needs root, the user nobody and setpriv";
    ASSERT_EQ(before, 0) << "nobody cannot open a line nobody uses";
    auto cam = korvane::test::SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(cam);
    ASSERT_EQ(cam->Open(), 1);
    const bool heldWhileOpen = OpenAsNobody(peer.DeviceName()) != 0;
    cam->Close();
    cam.reset();
    EXPECT_TRUE(heldWhileOpen) << "the camera keeps the line for itself while open";
    EXPECT_EQ(OpenAsNobody(peer.DeviceName()), 0) << "busy after the camera closed the line";
}
