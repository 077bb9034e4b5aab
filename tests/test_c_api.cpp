// The C interface driven by a host written in C (c_host/c_host.c) against real
// peers: a pseudo-terminal and the relay on 127.0.0.1. Only the peers and the
// checks are C++.
#include "TestBytes.h"
#include "c_host/c_host.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"

#include <gtest/gtest.h>

#include <memory>

using korvane::sim::Bytes;
using korvane::sim::CRelayPeer;
using korvane::sim::CSerialPeer;
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

}  // namespace

TEST(Capi, VersionAndNullHandles)
{
    EXPECT_STREQ(korvane_version(), KORVANE_TEST_VERSION);
    EXPECT_EQ(c_host_null_handle_misses(), 0);
}

TEST(Capi, NullTextsAreFailuresOrEmptyFields)
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
    EXPECT_EQ(korvane_open(cam.get()), 1) << "a second open is harmless";

    Reports second = NewReports();
    Camera two(c_host_serial_camera(peer.DeviceName().c_str(), 2, KORVANE_PELCO_D, second.get()));
    ASSERT_TRUE(two);
    ASSERT_TRUE(peer.SendReturnCode(2, 0x52));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x50));
    ASSERT_TRUE(peer.SendReturnCode(1, 0x57));
    ASSERT_TRUE(c_host_wait_reports(reports.get(), 2, 5000));
    EXPECT_EQ(ReportAt(reports.get(), 0).message, static_cast<std::uint32_t>(KORVANE_TARGET_APPEARS));
    EXPECT_EQ(ReportAt(reports.get(), 0).bytes, korvane::sim::ReturnCodeFrame(1, 0x50));
    EXPECT_EQ(ReportAt(reports.get(), 1).message, static_cast<std::uint32_t>(KORVANE_WRITE_STOP));
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
