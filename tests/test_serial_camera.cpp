// A serial camera through the public interface, on a real pseudo-terminal
// with the simulated peer at the far end: what reaches the line, byte for byte.
#include "ReportCollector.h"
#include "SerialTestSupport.h"
#include "sim/SerialPeer.h"

#include <korvane/Korvane.h>

#include "TestBytes.h"

#include <gtest/gtest.h>

using korvane::sim::Bytes;
using korvane::sim::CSerialPeer;
using korvane::test::B;
using namespace std::chrono_literals;

namespace {

MYDCB Settings(std::uint8_t protocol) { return MYDCB{9600, 8, protocol}; }

Bytes Next(CSerialPeer& peer)
{
    auto frame = peer.NextFrame(3s);
    return frame ? *frame : Bytes{};
}

}  // namespace

TEST(SerialCamera, PelcoDCommandsReachTheLineByteExact)
{
    CSerialPeer peer;
    CKorvane cam(MODE_SERIAL);
    cam.SetDeviceAddress(1);
    MYDCB dcb = Settings(PROTOCOL_PELCO_D);
    ASSERT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
    ASSERT_EQ(cam.Open(), 1);
    EXPECT_TRUE(peer.Silent(50ms)) << "no notify function: Open sends no presets";

    EXPECT_EQ(cam.MoveUp(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x1E, 0x45}));
    EXPECT_EQ(cam.CameraStop(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(cam.OpenTrack(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x50, 0x58}));
    EXPECT_EQ(cam.CloseTrack(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x51, 0x59}));
    cam.OpenAutoZoom();
    cam.CloseAutoZoom();
    cam.OpenAutoWrite();
    cam.CloseAutoWrite();
    EXPECT_EQ(Next(peer)[5], 0xDC);
    EXPECT_EQ(Next(peer)[5], 0xDD);
    EXPECT_EQ(Next(peer)[5], 0x78);
    EXPECT_EQ(Next(peer)[5], 0x79);
    EXPECT_EQ(cam.PreSet(300, 1), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x03, 0x00, 0x2C, 0x30}));
    EXPECT_EQ(cam.PreSet(5, 3), 1);
    cam.SetHorizonSpeed(100);
    cam.SetVertcalSpeed(100);
    EXPECT_EQ(cam.MoveTopLeft(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x01, 0x00, 0x0C, 0x64, 0x64, 0xD5})) << "PreSet(5, 3) must send nothing";
    cam.Close();
}

TEST(SerialCamera, PelcoPAndProtocolFromSettings)
{
    CSerialPeer peer;
    CKorvane cam(MODE_SERIAL);
    cam.SetDeviceAddress(1);
    cam.SetHorizonSpeed(80);
    MYDCB dcb = Settings(PROTOCOL_PELCO_P);
    ASSERT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
    cam.MoveLeft();  // frames go out once the port is bound, even before Open
    EXPECT_EQ(Next(peer), B({0xA0, 0x01, 0x00, 0x04, 0x3F, 0x1E, 0xAF, 0x2B}));
    // A second call only changes the protocol; 0 or 4 leave it as it is.
    MYDCB visca = Settings(PROTOCOL_VISCA);
    EXPECT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), visca));
    MYDCB bad = Settings(4);
    EXPECT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), bad));
    cam.PreSet(80, 0);
    EXPECT_EQ(Next(peer), B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x50, 0xFF}));
    EXPECT_FALSE(cam.SetCommDevice(nullptr, bad));
    cam.PreSet(81, 0);
    EXPECT_EQ(Next(peer), B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x51, 0xFF})) << "null name changes nothing";
}

TEST(SerialCamera, ViscaLensCommandsAndStops)
{
    korvane::test::MessageBoxes boxes;
    CSerialPeer peer;
    CKorvane cam(MODE_SERIAL);
    cam.SetDeviceAddress(1);
    MYDCB dcb = Settings(PROTOCOL_VISCA);
    ASSERT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
    cam.ZoomMinus();
    EXPECT_EQ(Next(peer), B({0x81, 0x01, 0x04, 0x07, 0x33, 0xFF}));
    cam.CameraStop();
    EXPECT_EQ(Next(peer), B({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}));
    cam.OpenAutoZoom();
    cam.ConnectTest();  // no VISCA test frame
    cam.PreSet(2, 0);
    EXPECT_EQ(Next(peer), B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x02, 0xFF})) << "auto-zoom sends nothing under VISCA";
    cam.CameraStop();
    EXPECT_TRUE(peer.Silent(50ms)) << "no stop after a memory recall";
}

TEST(SerialCamera, OpenWithNotifySendsPresets88And100)
{
    CSerialPeer peer;
    korvane::test::ReportCollector reports;
    CKorvane cam(MODE_SERIAL);
    cam.SetDeviceAddress(7);
    MYDCB dcb = Settings(PROTOCOL_PELCO_D);
    ASSERT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
    reports.Attach(cam);
    ASSERT_EQ(cam.Open(), 1);
    EXPECT_EQ(Next(peer), B({0xFF, 0x07, 0x00, 0x07, 0x00, 0x58, 0x66}));
    EXPECT_EQ(Next(peer), B({0xFF, 0x07, 0x00, 0x07, 0x00, 0x64, 0x72}));
    EXPECT_EQ(cam.Open(), 1) << "a second Open is harmless";
}

TEST(SerialCamera, ConnectTestShowsTheLinkError)
{
    korvane::test::MessageBoxes boxes;
    CSerialPeer peer;
    CKorvane cam(MODE_SERIAL);
    cam.SetDeviceAddress(3);
    EXPECT_EQ(cam.ConnectTest(), 1);  // no link yet: nothing sent, success text
    MYDCB dcb = Settings(PROTOCOL_PELCO_D);
    ASSERT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
    EXPECT_EQ(cam.ConnectTest(), 1);
    EXPECT_EQ(Next(peer), B({0xAE, 0x03, 0x09, 0x00, 0x00, 0xFE}));
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, "提示");
    EXPECT_FALSE(shown[1].second.empty());

    CKorvane missing(MODE_SERIAL);
    EXPECT_FALSE(missing.SetCommDevice("/dev/korvane-no-such-device", dcb));
    missing.ConnectTest();
    ASSERT_EQ(boxes.Shown().size(), 3u);
    EXPECT_NE(boxes.Shown()[2].second, shown[1].second) << "the failed open's error is shown";
}

// A line that cannot be had says why (the system's cause, not a list of
// guesses); a line whose far end is gone turns failed at the next write.
TEST(SerialCamera, TheLinkStateNamesWhatWentWrong)
{
    const auto link = [](const CKorvane& cam) {
        char reason[256];
        const int state = cam.GetLinkState(reason, sizeof reason);
        return std::to_string(state) + " " + reason;
    };
    auto peer = std::make_unique<CSerialPeer>();
    const std::string device = peer->DeviceName();
    MYDCB dcb = Settings(PROTOCOL_PELCO_D);
    CKorvane cam(MODE_SERIAL), same(MODE_SERIAL), missing(MODE_SERIAL), notSerial(MODE_SERIAL);
    ASSERT_TRUE(cam.SetCommDevice(device.c_str(), dcb));
    EXPECT_EQ(link(cam), "0 ");  // a line never answers: unchecked
    EXPECT_FALSE(same.SetCommDevice(device.c_str(), dcb));
    EXPECT_EQ(link(same), "2 cannot open serial device " + device + ": address 0 is already on that line");
    EXPECT_FALSE(missing.SetCommDevice("/dev/korvane-no-such-device", dcb));
    EXPECT_EQ(link(missing), "2 cannot open serial device /dev/korvane-no-such-device: no such device");
    EXPECT_FALSE(notSerial.SetCommDevice("/dev/null", dcb));
    EXPECT_EQ(link(notSerial), "2 cannot open serial device /dev/null: not a serial device");

    ASSERT_EQ(cam.Open(), 1);
    peer.reset();  // the far end hangs up: writes fail
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (link(cam)[0] != '2' && std::chrono::steady_clock::now() < deadline) cam.MoveUp();
    EXPECT_EQ(link(cam).rfind("2 writing to " + device + ": ", 0), 0u) << link(cam);
}

TEST(SerialCamera, WithoutAPortCommandsSendNothing)
{
    CKorvane cam(MODE_SERIAL);
    EXPECT_EQ(cam.Open(), 0);
    for (auto op : {&CKorvane::MoveUp, &CKorvane::CameraStop, &CKorvane::ZoomPlus, &CKorvane::OpenTrack,
                    &CKorvane::FocusPlus, &CKorvane::IrisMinus, &CKorvane::OpenAutoWrite})
        EXPECT_EQ((cam.*op)(), 1);
    cam.Close();
    cam.Close();
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
    while (auto frame = peer.NextFrame(1s)) {
        if (frame->size() == 7 && (*frame)[3] == 0x07) last = (*frame)[5];
    }
    EXPECT_EQ(last, 40);
}
