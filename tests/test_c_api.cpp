// The C interface driven by a host written in C (c_host/c_host.c) against real
// peers: a pseudo-terminal, UDP on 127.0.0.1 and an HTTP ONVIF camera. Only
// the peers and the checks are C++.
#include "TestBytes.h"
#include "c_host/c_host.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using korvane::sim::Bytes;
using korvane::sim::COnvifCamera;
using korvane::sim::CRelayPeer;
using korvane::sim::CSerialPeer;
using korvane::sim::CTrackingPeer;
using korvane::test::B;
using korvane::test::Got;
using korvane::test::PelcoD;
using namespace std::chrono_literals;

namespace {

struct ReportsDeleter {
    void operator()(c_host_reports* reports) const { c_host_reports_free(reports); }
};
struct CameraDeleter {
    void operator()(korvane_camera* cam) const { korvane_camera_free(cam); }
};
using Reports = std::unique_ptr<c_host_reports, ReportsDeleter>;
using Camera = std::unique_ptr<korvane_camera, CameraDeleter>;

Reports NewReports() { return Reports(c_host_reports_new()); }

struct Received {
    Bytes bytes;
    std::uint32_t message = 0;
};

// Report index as the C host stored it; empty bytes when it is missing or
// came with a context other than its camera's.
Received ReportAt(c_host_reports* reports, int index)
{
    unsigned char bytes[64] = {};
    Received received;
    const int length = c_host_report(reports, index, bytes, sizeof bytes, &received.message);
    if (length > 0) received.bytes.assign(bytes, bytes + std::min<int>(length, sizeof bytes));
    return received;
}

// What c_host_drive sends as Pelco-D at address 1, speeds 30 (0x1E).
const Bytes kDriven[] = {PelcoD(1, 0x00, 0x08, 0x1E, 0x1E), PelcoD(1, 0x00, 0x00, 0x00, 0x00),
                         PelcoD(1, 0x00, 0x12, 0x1E, 0x1E), PelcoD(1, 0x00, 0x20, 0x00, 0x00),
                         PelcoD(1, 0x00, 0x07, 0x00, 0x05), PelcoD(1, 0x00, 0x03, 0x00, 0x05),
                         PelcoD(1, 0x00, 0x05, 0x00, 0x05), PelcoD(1, 0x00, 0x07, 0x00, 0x50),
                         PelcoD(1, 0x00, 0x07, 0x00, 0x51)};

// The first two reports, as the C host's report function stored them.
void ExpectTwoReports(c_host_reports* reports, const Bytes& first, int firstMessage, int secondMessage)
{
    ASSERT_TRUE(c_host_wait_reports(reports, 2, 5000));
    const Received received = ReportAt(reports, 0);
    EXPECT_EQ(received.message, static_cast<std::uint32_t>(firstMessage));
    EXPECT_EQ(received.bytes, first);
    EXPECT_EQ(ReportAt(reports, 1).message, static_cast<std::uint32_t>(secondMessage));
}

}  // namespace

TEST(Capi, VersionAndNullHandles)
{
    EXPECT_STREQ(korvane_version(), KORVANE_TEST_VERSION);
    EXPECT_EQ(c_host_null_handle_misses(), 0);
}

TEST(Capi, NullAndEmptyTextsAreFailuresOrEmptyFields)
{
    CRelayPeer relay;
    EXPECT_EQ(c_host_null_text_misses(8000), 0);
    const auto open = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(open) << "the relayed camera with null texts still asks the relay";
    ASSERT_GE(open->bytes.size(), 1024u);
    for (std::size_t at : {20u, 275u, 530u, 785u}) EXPECT_EQ(open->bytes[at], 0) << "text field at " << at;
}

TEST(Capi, SerialCamerasOnAPseudoTerminalEachGetTheirOwnContextBack)
{
    CSerialPeer peer;
    Reports reports = NewReports();
    Camera cam(c_host_serial_camera(peer.DeviceName().c_str(), 1, KORVANE_PELCO_D, reports.get()));
    ASSERT_TRUE(cam);
    // A report function is registered: Open goes to presets 88 and 100.
    EXPECT_EQ(Got(peer.NextFrame(3s)), PelcoD(1, 0x00, 0x07, 0x00, 0x58));
    EXPECT_EQ(Got(peer.NextFrame(3s)), PelcoD(1, 0x00, 0x07, 0x00, 0x64));
    EXPECT_EQ(c_host_drive(cam.get()), 9);
    for (const Bytes& expected : kDriven) EXPECT_EQ(Got(peer.NextFrame(3s)), expected);

    Reports second = NewReports();
    Camera two(c_host_serial_camera(peer.DeviceName().c_str(), 2, KORVANE_PELCO_D, second.get()));
    ASSERT_TRUE(two);
    ASSERT_TRUE(peer.SendReturnCode(2, 0x52));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x50));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x57));
    ExpectTwoReports(reports.get(), korvane::sim::ReturnCodeFrame(1, 0x50), KORVANE_TARGET_APPEARS,
                     KORVANE_WRITE_STOP);
    EXPECT_EQ(ReportAt(second.get(), 0).message, static_cast<std::uint32_t>(KORVANE_CLOSEUP_READY));
    EXPECT_EQ(c_host_report_count(second.get()), 1);

    // After korvane_close the address is free: a report for it reaches the
    // camera that took it over, and only that one.
    korvane_close(cam.get());
    Reports after = NewReports();
    Camera successor(c_host_serial_camera(peer.DeviceName().c_str(), 1, KORVANE_PELCO_D, after.get()));
    ASSERT_TRUE(successor);
    ASSERT_TRUE(peer.SendReturnCode(1, 0x51));
    ASSERT_TRUE(c_host_wait_reports(after.get(), 1, 5000));
    EXPECT_EQ(c_host_report_count(reports.get()), 2) << "no report after korvane_close";
}

TEST(Capi, TrackingCameraOverUdp)
{
    CTrackingPeer peer;
    Reports reports = NewReports();
    Camera cam(c_host_tracking_camera(peer.Port(), 1, reports.get()));
    ASSERT_TRUE(cam);
    EXPECT_EQ(c_host_drive(cam.get()), 9);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(Got(peer.NextDatagram(3s)), kDriven[i]) << "command " << i;
    // Tracking system type 1: track on and off are its own packets (on is 00).
    EXPECT_EQ(Got(peer.NextDatagram(3s)), B({0xAA, 0x40, 0x02, 0x01, 0x00}));
    EXPECT_EQ(Got(peer.NextDatagram(3s)), B({0xAA, 0x40, 0x02, 0x01, 0x01}));

    peer.SendReport(1, 1);
    peer.SendReport(1, 0);
    ExpectTwoReports(reports.get(), B({0xAA, 0x50, 0x02, 0x01, 0x01}), KORVANE_TARGET_APPEARS,
                     KORVANE_TARGET_DISAPPEARS);
    korvane_close(cam.get());
}

TEST(Capi, RelayedCameraWithTargetEvents)
{
    CRelayPeer relay;
    Reports reports = NewReports();
    Camera cam(c_host_relay_camera(1, reports.get()));
    ASSERT_TRUE(cam);
    const auto open = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(open);
    const std::uint16_t eventPort = CRelayPeer::EventPortOf(open->bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&open->bytes[20])), "192.168.1.64");

    EXPECT_EQ(c_host_drive(cam.get()), 9);
    const auto command = relay.NextOfKind(2, 3s);
    EXPECT_EQ(command ? CRelayPeer::FrameOf(command->bytes) : Bytes{}, kDriven[0]);

    CRelayPeer::SendEvent(eventPort, "APPEARS");
    CRelayPeer::SendEvent(eventPort, "DISAPPEARS");
    const std::string text = "Camera Return Code";
    ExpectTwoReports(reports.get(), Bytes(text.begin(), text.end()), KORVANE_TARGET_APPEARS,
                     KORVANE_TARGET_DISAPPEARS);
    korvane_close(cam.get());
    EXPECT_TRUE(relay.NextOfKind(3, 3s)) << "korvane_close tells the relay";
}

TEST(Capi, OnvifCameraOverHttp)
{
    COnvifCamera sim;
    EXPECT_FALSE(Camera(c_host_onvif_camera(sim.Port(), "admin", "wrong")));
    Camera cam(c_host_onvif_camera(sim.Port(), "admin", "secret"));
    ASSERT_TRUE(cam);
    EXPECT_EQ(c_host_drive(cam.get()), 9);
    const auto move = sim.NextOf("ContinuousMove", 5s);
    ASSERT_TRUE(move);
    EXPECT_TRUE(move->authorized);
    EXPECT_EQ(move->values.at("tilt"), "0.484375");  // speed 30 -> (30+1)/64
    EXPECT_TRUE(sim.NextOf("RemovePreset", 5s));
}
