// The serial line end to end: shared ports, return codes routed by address to
// their own camera on the library's thread, exclusive and failing opens, and
// lines that go away.
#include "SerialTestSupport.h"

#include "TestBytes.h"
#include "platform/Wine.h"

#include <gtest/gtest.h>

#include <chrono>

using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using korvane::test::SerialCamera;
using korvane::test::B;
using namespace std::chrono_literals;

namespace {

// True when another program could take the device for itself now.
bool DeviceIsFree(const std::string& device) { return korvane::sim::CDeviceHolder(device).Holds(); }

// Wine lets a second program open a COM port that one holds without sharing
// (WineTakesAnySpeedAndASecondOpenOfAHeldComPort shows it): there, a held
// device cannot be told from a free one.
bool HeldDevicesAreRefused() { return !korvane::platform::UnderWine(); }

// Wine's serial driver takes any speed (shown by the same test).
bool ImpossibleSettingsAreRefused() { return !korvane::platform::UnderWine(); }

}  // namespace

TEST(SerialLine, TwoCamerasShareALineEachGetsItsOwnReports)
{
    CSerialPeer peer;
    ReportCollector first, second;
    auto one = SerialCamera(peer.DeviceName(), 1, &first);
    auto ten = SerialCamera(peer.DeviceName(), 10, &second, PROTOCOL_PELCO_P);
    ASSERT_TRUE(one && ten);
    ASSERT_EQ(one->Open(), 1);
    ASSERT_EQ(ten->Open(), 1);
    // Each Open with a notify function sends its two presets.
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x58, 0x60}));
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x64, 0x6C}));
    EXPECT_EQ(*peer.NextFrame(3s), B({0xA0, 0x0A, 0x00, 0x07, 0x00, 0x58, 0xAF, 0x5A}));
    EXPECT_EQ(*peer.NextFrame(3s), B({0xA0, 0x0A, 0x00, 0x07, 0x00, 0x64, 0xAF, 0x66}));

    for (int i = 0; i < 20; ++i) {
        one->MoveRight();
        ten->CameraStop();
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x01, 0x00, 0x02, 0x1E, 0x1E, 0x3F}));
        EXPECT_EQ(*peer.NextFrame(3s), B({0xA0, 0x0A, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x05}));
    }

    // Address byte 0x10 is camera 10, not 16.
    peer.SendReturnCode(10, 0x56);
    peer.SendReturnCode(1, 0x50);
    peer.SendReturnCode(1, 0x57);
    ASSERT_TRUE(first.WaitFor(2));
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(first.Messages(), (std::vector<unsigned int>{0x8400, 0x8407}));
    EXPECT_EQ(second.Messages(), std::vector<unsigned int>{0x8406});
    const auto a = first.Reports();
    const auto b = second.Reports();
    EXPECT_EQ(a[0].bytes, B({0xFF, 0x01, 0x00, 0x07, 0x00, 0x50, 0x58}));
    EXPECT_EQ(a[0].context, &first);
    EXPECT_EQ(b[0].bytes[1], 0x10);
    EXPECT_EQ(b[0].context, &second);
    EXPECT_NE(a[0].thread, std::this_thread::get_id());
    EXPECT_EQ(a[0].thread, b[0].thread) << "one receive thread serves the line";
}

TEST(SerialLine, AnAddressIsBoundOnceAndTheLastCameraClosesTheDevice)
{
    CSerialPeer peer;
    auto one = SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(one);
    EXPECT_FALSE(SerialCamera(peer.DeviceName(), 1)) << "address 1 is taken on this line";
    // The second camera's settings are ignored: the line keeps 9600 baud.
    auto two = std::make_unique<CKorvane>(MODE_SERIAL);
    two->SetDeviceAddress(2);
    MYDCB other{12345, 5, PROTOCOL_PELCO_D};
    ASSERT_TRUE(two->SetCommDevice(peer.DeviceName().c_str(), other));
    if (HeldDevicesAreRefused()) EXPECT_FALSE(DeviceIsFree(peer.DeviceName()));
    one->Close();
    if (HeldDevicesAreRefused()) EXPECT_FALSE(DeviceIsFree(peer.DeviceName())) << "camera 2 still uses the line";
    two->MoveUp();
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x02, 0x00, 0x08, 0x1E, 0x1E, 0x46}));
    two->Close();
    EXPECT_TRUE(DeviceIsFree(peer.DeviceName()));
    two->MoveUp();
    EXPECT_TRUE(peer.Silent(50ms)) << "after Close frames are dropped";
    // A reopened line takes the settings then given; bound again, it sends again.
    if (!ImpossibleSettingsAreRefused()) GTEST_SKIP() << "the rest needs a line that refuses 12345 baud; wine's takes it";
    EXPECT_FALSE(two->SetCommDevice(peer.DeviceName().c_str(), other));
    MYDCB good{19200, 8, PROTOCOL_PELCO_D};
    ASSERT_TRUE(two->SetCommDevice(peer.DeviceName().c_str(), good));
    two->MoveUp();
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x02, 0x00, 0x08, 0x1E, 0x1E, 0x46}));
}

TEST(SerialLine, BusyDevicesAreRetriedMissingOnesFailAtOnce)
{
    if (!HeldDevicesAreRefused()) GTEST_SKIP() << "wine does not refuse a second open of a held COM port";
    CSerialPeer peer;
    auto holder = std::make_unique<korvane::sim::CDeviceHolder>(peer.DeviceName());
    ASSERT_TRUE(holder->Holds());
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SerialCamera(peer.DeviceName(), 1));
    const auto busyTime = std::chrono::steady_clock::now() - start;
    EXPECT_GE(busyTime, 250ms) << "six attempts, five pauses of 50 ms";
    holder.reset();
    EXPECT_TRUE(SerialCamera(peer.DeviceName(), 1)) << "free again";

    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SerialCamera("/dev/korvane-no-such-device", 1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
}

// Settings the line cannot run (speed 0 would hang a POSIX line up) are
// refused and leave the device alone for the next camera.
TEST(SerialLine, SettingsTheLineCannotRunAreRefused)
{
    CSerialPeer peer;
    std::vector<MYDCB> impossible = {{0, 8, PROTOCOL_PELCO_D}, {9600, 0, PROTOCOL_PELCO_D}};
    if (ImpossibleSettingsAreRefused()) impossible.push_back({12345, 8, PROTOCOL_PELCO_D});  // wine's driver takes any speed
    for (MYDCB dcb : impossible) {
        CKorvane cam(MODE_SERIAL);
        EXPECT_FALSE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb)) << dcb.BaudRate << " baud, " << int(dcb.ByteSize) << " bits";
        EXPECT_TRUE(DeviceIsFree(peer.DeviceName())) << dcb.BaudRate << " baud";
    }
    auto camera = SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(camera);
    camera->MoveUp();
    EXPECT_TRUE(peer.NextFrame(3s));
}

TEST(SerialLine, WineTakesAnySpeedAndASecondOpenOfAHeldComPort)
{
    if (!korvane::platform::UnderWine()) GTEST_SKIP() << "shows a wine behaviour; this is not wine";
    CSerialPeer peer;
    {
        CKorvane cam(MODE_SERIAL);
        MYDCB oddSpeed{12345, 8, PROTOCOL_PELCO_D};
        EXPECT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), oddSpeed))
            << "wine refuses 12345 baud now: the speed checks can run under wine too";
    }
    korvane::sim::CDeviceHolder first(peer.DeviceName());
    ASSERT_TRUE(first.Holds());
    EXPECT_TRUE(DeviceIsFree(peer.DeviceName()))
        << "wine now refuses a second open: the busy-device checks can run under wine too";
}

TEST(SerialLine, AVanishedLineStopsOnlyItself)
{
    if (!CSerialPeer::HangupReachesTheCamera())
        GTEST_SKIP() << "the ends of a COM-port pair stay up when the other closes: no line can vanish";
    auto gone = std::make_unique<CSerialPeer>();
    CSerialPeer stays;
    ReportCollector goneReports, staysReports;
    auto a = SerialCamera(gone->DeviceName(), 1);
    auto b = SerialCamera(stays.DeviceName(), 1);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->Open(), 1);
    ASSERT_EQ(b->Open(), 1);
    goneReports.Attach(*a);  // after Open: no presets on the line
    staysReports.Attach(*b);
    gone->Hangup();
    a->MoveUp();  // written into the void, and harmless
    stays.SendReturnCode(1, 0x50);
    ASSERT_TRUE(staysReports.WaitFor(1));
    b->MoveDown();
    EXPECT_EQ((*stays.NextFrame(3s))[3], 0x10);
    a->Close();
    EXPECT_EQ(goneReports.Count(), 0u);
    // A later camera on a new line works.
    CSerialPeer fresh;
    ASSERT_TRUE(SerialCamera(fresh.DeviceName(), 1));
}

TEST(SerialLine, BindingsFollowTheCameraNotItsAddress)
{
    CSerialPeer peer;
    {
        auto moved = SerialCamera(peer.DeviceName(), 5);
        ASSERT_TRUE(moved);
        moved->SetDeviceAddress(6);  // after binding: reports still come as 5
        moved->Close();              // releases the binding made under 5
        EXPECT_TRUE(DeviceIsFree(peer.DeviceName()));
    }
    auto keeper = SerialCamera(peer.DeviceName(), 9);
    {
        auto leaked = SerialCamera(peer.DeviceName(), 5);
        ASSERT_TRUE(leaked);
        ASSERT_EQ(leaked->Open(), 1);
        // destroyed without Close
    }
    ReportCollector reports;
    auto again = SerialCamera(peer.DeviceName(), 5, &reports);
    ASSERT_TRUE(again) << "destruction released address 5";
    ASSERT_EQ(again->Open(), 1);
    peer.SendReturnCode(5, 0x52);
    ASSERT_TRUE(reports.WaitFor(1));
    EXPECT_EQ(reports.Reports()[0].message, 0x8402u);
}

// Alone on its line, the close ends the device: the stop queued just before
// must still reach it.
TEST(SerialLine, ACallbackMayStopAndCloseItsOwnCamera)
{
    for (const bool alone : {true, false}) {
        SCOPED_TRACE(alone ? "alone on its line" : "beside another camera");
        CSerialPeer peer;
        struct {
            CKorvane* camera = nullptr;
            ReportCollector reports;
        } closing;
        ReportCollector other;
        auto cam = SerialCamera(peer.DeviceName(), 1);
        auto neighbour = alone ? nullptr : SerialCamera(peer.DeviceName(), 2, &other);
        ASSERT_TRUE(cam && (alone || neighbour));
        closing.camera = cam.get();
        cam->SetRecvNotify(
            [](const unsigned char* data, int length, unsigned int message, void* context) {
                auto* self = static_cast<decltype(closing)*>(context);
                self->camera->CameraStop();  // stops and closes its own camera from the report
                self->camera->Close();
                ReportCollector::Notify(data, length, message, &self->reports);
            },
            &closing);
        ASSERT_EQ(cam->Open(), 1);
        if (neighbour) ASSERT_EQ(neighbour->Open(), 1);
        peer.SendReturnCode(1, 0x50);
        peer.SendReturnCode(1, 0x51);  // after the close: not delivered
        if (neighbour) peer.SendReturnCode(2, 0x55);
        ASSERT_TRUE(closing.reports.WaitFor(1));
        bool stopped = false;
        while (auto frame = peer.NextFrame(2s))
            if ((stopped = *frame == B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}))) break;
        EXPECT_TRUE(stopped) << "the stop sent from the report reached the line";
        if (neighbour) {
            ASSERT_TRUE(other.WaitFor(1));
            EXPECT_EQ(other.Reports()[0].message, 0x8405u);
        }
        EXPECT_EQ(closing.reports.Count(), 1u);
    }
}
