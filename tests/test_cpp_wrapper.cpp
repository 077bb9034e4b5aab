// korvane.hpp, the header-only class over the C interface, against a serial
// peer on a pseudo-terminal: its commands reach the line, its report functions
// run on a library thread and outlive neither the camera nor a move.
#include "ReportCollector.h"
#include "TestBytes.h"
#include "sim/SerialPeer.h"

#include <korvane/korvane.hpp>

#include <gtest/gtest.h>

#include <thread>

using korvane::sim::Bytes;
using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

namespace {

Bytes PelcoD(int c2, int d1, int d2) { return korvane::test::PelcoD(1, 0, c2, d1, d2); }

// A report function that keeps each report in a collector.
korvane::ReportFunction Into(ReportCollector& reports)
{
    return [&reports](const korvane::Report& r) { ReportCollector::Notify(r.data, static_cast<int>(r.size), r.message, &reports); };
}

korvane::Camera Serial(const CSerialPeer& peer, korvane::ReportFunction report)
{
    korvane::Camera cam(KORVANE_MODE_SERIAL);
    cam.SetDeviceAddress(1);
    cam.SetHorizontalSpeed(30);
    cam.SetVerticalSpeed(30);
    cam.OnReport(std::move(report));
    EXPECT_TRUE(cam.SetCommDevice(peer.DeviceName(), 9600, 8, KORVANE_PELCO_D) && cam.Open());
    return cam;
}

}  // namespace

TEST(CppWrapper, CommandsReportsMovesAndClose)
{
    CSerialPeer peer;
    ReportCollector seen, next;
    korvane::Camera first = Serial(peer, Into(seen));
    peer.NextFrame(3s), peer.NextFrame(3s);  // presets 88 and 100: reports on

    // A camera moved while open keeps its link and its report function.
    korvane::Camera cam(std::move(first));
    EXPECT_EQ(first.Handle(), nullptr);
    EXPECT_FALSE(first.MoveUp()) << "a moved-from camera does nothing";
    std::int32_t outcome = -1;
    EXPECT_EQ(korvane::LastError(&outcome), "no camera (a null handle)");
    EXPECT_EQ(outcome, KORVANE_RESULT_NOT_OPEN);
    const struct { bool (korvane::Camera::*command)(); Bytes frame; } commands[] = {
        {&korvane::Camera::MoveUp, PelcoD(0x08, 0x1E, 0x1E)},     {&korvane::Camera::MoveBottomLeft, PelcoD(0x14, 0x1E, 0x1E)},
        {&korvane::Camera::Stop, PelcoD(0x00, 0x00, 0x00)},       {&korvane::Camera::ZoomMinus, PelcoD(0x40, 0x00, 0x00)},
        {&korvane::Camera::OpenTrack, PelcoD(0x07, 0x00, 0x50)},  {&korvane::Camera::CloseTrack, PelcoD(0x07, 0x00, 0x51)},
    };
    for (const auto& c : commands) {
        EXPECT_TRUE((cam.*c.command)());
        EXPECT_EQ(peer.NextFrame(3s).value_or(Bytes{}), c.frame);
    }
    EXPECT_TRUE(cam.Preset(5, KORVANE_PRESET_SET));
    EXPECT_EQ(peer.NextFrame(3s).value_or(Bytes{}), PelcoD(0x03, 0x00, 0x05));

    ASSERT_TRUE(peer.SendReturnCode(1, 0x50) && peer.SendReturnCode(1, 0x57));
    ASSERT_TRUE(seen.WaitFor(2));
    cam.Close();
    EXPECT_FALSE(cam.Stop()) << "closed";
    EXPECT_EQ(korvane::Camera::LastError().rfind("the camera has no serial line", 0), 0u) << korvane::LastError();
    EXPECT_TRUE(cam.Handle() && !cam.ConnectTest());
    ASSERT_TRUE(peer.SendReturnCode(1, 0x51));
    // The address is free again: a camera that takes it over gets the next
    // report, and the closed one does not.
    korvane::Camera successor = Serial(peer, Into(next));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x52));
    ASSERT_TRUE(next.WaitFor(1));
    EXPECT_EQ(seen.Messages(), (std::vector<unsigned int>{KORVANE_TARGET_APPEARS, KORVANE_WRITE_STOP}));
    for (const auto& report : seen.Reports())  // on a library thread, with its 7 bytes
        EXPECT_TRUE(report.thread != std::this_thread::get_id() && report.bytes.size() == 7);
    EXPECT_EQ(korvane::Version(), KORVANE_TEST_VERSION);
}
