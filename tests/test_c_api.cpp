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

Bytes PelcoD(std::uint8_t address, std::uint8_t c1, std::uint8_t c2, std::uint8_t d1, std::uint8_t d2)
{
    return B({0xFF, address, c1, c2, d1, d2, static_cast<std::uint8_t>(address + c1 + c2 + d1 + d2)});
}

// What c_host_drive sends as Pelco-D at address 1, speeds 30 (0x1E).
std::vector<Bytes> DrivenPelcoD()
{
    return {PelcoD(1, 0x00, 0x08, 0x1E, 0x1E), PelcoD(1, 0x00, 0x00, 0x00, 0x00),
            PelcoD(1, 0x00, 0x12, 0x1E, 0x1E), PelcoD(1, 0x00, 0x20, 0x00, 0x00),
            PelcoD(1, 0x00, 0x07, 0x00, 0x05), PelcoD(1, 0x00, 0x03, 0x00, 0x05),
            PelcoD(1, 0x00, 0x05, 0x00, 0x05), PelcoD(1, 0x00, 0x07, 0x00, 0x50),
            PelcoD(1, 0x00, 0x07, 0x00, 0x51)};
}

template <typename Next>
Bytes Take(Next next)
{
    auto bytes = next();
    return bytes ? *bytes : Bytes{};
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

TEST(Capi, SerialCameraOnAPseudoTerminal)
{
    CSerialPeer peer;
    Reports reports = NewReports();
    Camera cam(c_host_serial_camera(peer.DeviceName().c_str(), 1, KORVANE_PELCO_D, reports.get()));
    ASSERT_TRUE(cam);
    // A report function is registered: Open goes to presets 88 and 100.
    EXPECT_EQ(Take([&] { return peer.NextFrame(3s); }), PelcoD(1, 0x00, 0x07, 0x00, 0x58));
    EXPECT_EQ(Take([&] { return peer.NextFrame(3s); }), PelcoD(1, 0x00, 0x07, 0x00, 0x64));

    EXPECT_EQ(c_host_drive(cam.get()), 9);
    for (const Bytes& expected : DrivenPelcoD()) EXPECT_EQ(Take([&] { return peer.NextFrame(3s); }), expected);

    ASSERT_TRUE(peer.SendReturnCode(1, 0x50));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x57));
    ASSERT_TRUE(c_host_wait_reports(reports.get(), 2, 5000));
    const Received appears = ReportAt(reports.get(), 0);
    EXPECT_EQ(appears.message, static_cast<std::uint32_t>(KORVANE_TARGET_APPEARS));
    EXPECT_EQ(appears.bytes, korvane::sim::ReturnCodeFrame(1, 0x50));
    EXPECT_EQ(ReportAt(reports.get(), 1).message, static_cast<std::uint32_t>(KORVANE_WRITE_STOP));

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

TEST(Capi, EachCameraGetsItsOwnContextBack)
{
    CSerialPeer peer;
    Reports first = NewReports();
    Reports second = NewReports();
    Camera one(c_host_serial_camera(peer.DeviceName().c_str(), 1, KORVANE_PELCO_D, first.get()));
    Camera two(c_host_serial_camera(peer.DeviceName().c_str(), 2, KORVANE_PELCO_D, second.get()));
    ASSERT_TRUE(one && two);
    ASSERT_TRUE(peer.SendReturnCode(2, 0x52));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x53));
    ASSERT_TRUE(c_host_wait_reports(second.get(), 1, 5000));
    ASSERT_TRUE(c_host_wait_reports(first.get(), 1, 5000));
    EXPECT_EQ(ReportAt(second.get(), 0).message, static_cast<std::uint32_t>(KORVANE_CLOSEUP_READY));
    EXPECT_EQ(ReportAt(first.get(), 0).message, static_cast<std::uint32_t>(KORVANE_MULTIPLE_TARGETS));
    EXPECT_EQ(c_host_report_count(first.get()), 1);
    EXPECT_EQ(c_host_report_count(second.get()), 1);
}

TEST(Capi, TrackingCameraOverUdp)
{
    CTrackingPeer peer;
    Reports reports = NewReports();
    Camera cam(c_host_tracking_camera(peer.Port(), 1, reports.get()));
    ASSERT_TRUE(cam);
    EXPECT_EQ(c_host_drive(cam.get()), 9);
    const std::vector<Bytes> pelco = DrivenPelcoD();
    for (std::size_t i = 0; i + 2 < pelco.size(); ++i)
        EXPECT_EQ(Take([&] { return peer.NextDatagram(3s); }), pelco[i]) << "command " << i;
    // Tracking system type 1: track on and off are its own packets (on is 00).
    EXPECT_EQ(Take([&] { return peer.NextDatagram(3s); }), B({0xAA, 0x40, 0x02, 0x01, 0x00}));
    EXPECT_EQ(Take([&] { return peer.NextDatagram(3s); }), B({0xAA, 0x40, 0x02, 0x01, 0x01}));

    peer.SendReport(1, 1);
    peer.SendReport(1, 0);
    ASSERT_TRUE(c_host_wait_reports(reports.get(), 2, 5000));
    const Received appears = ReportAt(reports.get(), 0);
    EXPECT_EQ(appears.message, static_cast<std::uint32_t>(KORVANE_TARGET_APPEARS));
    EXPECT_EQ(appears.bytes, B({0xAA, 0x50, 0x02, 0x01, 0x01}));
    EXPECT_EQ(ReportAt(reports.get(), 1).message, static_cast<std::uint32_t>(KORVANE_TARGET_DISAPPEARS));
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
    for (const Bytes& expected : DrivenPelcoD()) {
        const auto command = relay.NextOfKind(2, 3s);
        EXPECT_EQ(command ? CRelayPeer::FrameOf(command->bytes) : Bytes{}, expected);
    }

    CRelayPeer::SendEvent(eventPort, "APPEARS");
    CRelayPeer::SendEvent(eventPort, "DISAPPEARS");
    ASSERT_TRUE(c_host_wait_reports(reports.get(), 2, 5000));
    const Received appears = ReportAt(reports.get(), 0);
    EXPECT_EQ(appears.message, static_cast<std::uint32_t>(KORVANE_TARGET_APPEARS));
    EXPECT_EQ(std::string(appears.bytes.begin(), appears.bytes.end()), "Camera Return Code");
    EXPECT_EQ(ReportAt(reports.get(), 1).message, static_cast<std::uint32_t>(KORVANE_TARGET_DISAPPEARS));
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
    EXPECT_TRUE(sim.NextOf("Stop", 5s));
    EXPECT_TRUE(sim.NextOf("GotoPreset", 5s));
    EXPECT_TRUE(sim.NextOf("SetPreset", 5s));
    EXPECT_TRUE(sim.NextOf("RemovePreset", 5s));
}
