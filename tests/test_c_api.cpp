// The C interface driven by a host written in C (c_host/c_host.c) against real
// peers: a pseudo-terminal and the relay on 127.0.0.1. Only the peers and the
// checks are C++.
#include "TestBytes.h"
#include "c_host/c_host.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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

std::string g_serialDevice;  // for the plain functions of a table

struct Received { Bytes bytes; std::uint32_t message = 0; };

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

TEST(Capi, VersionNullHandlesAndNullTexts)
{
    EXPECT_STREQ(korvane_version(), KORVANE_TEST_VERSION);
    EXPECT_EQ(c_host_null_handle_misses(), 0);
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
    // Back to back: a move may be replaced by the next (or removed by the
    // stop) before the line takes it, but what goes out keeps its order and
    // every preset set or cleared and every switch goes out.
    std::vector<Bytes> sent;
    while (sent.empty() || sent.back() != kDriven[8]) {
        const auto frame = peer.NextFrame(3s);
        ASSERT_TRUE(frame) << sent.size() << " frames came";
        sent.push_back(*frame);
    }
    std::size_t next = 0;
    for (const Bytes& frame : sent) {
        while (next < std::size(kDriven) && kDriven[next] != frame) ++next;
        EXPECT_LT(next++, std::size(kDriven)) << "a frame out of order, or none of the commands'";
    }
    for (std::size_t ordered = 5; ordered < std::size(kDriven); ++ordered)
        EXPECT_NE(std::find(sent.begin(), sent.end(), kDriven[ordered]), sent.end()) << "command " << ordered;
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

// korvane_last_error: the reason of the calling thread's last call.
TEST(Capi, TheLastErrorSaysWhyACommandFailed)
{
    CSerialPeer peer;
    g_serialDevice = peer.DeviceName();
    Camera cam(korvane_camera_new(KORVANE_MODE_SERIAL));
    char why[200];
    const struct {
        korvane_camera* cam;
        int32_t (*call)(korvane_camera*);
        int32_t result, outcome;
        const char* reason;
    } cases[] = {
        {nullptr, korvane_stop, 0, KORVANE_RESULT_NOT_OPEN, "no camera (a null handle)"},
        {cam.get(), korvane_stop, 0, KORVANE_RESULT_NOT_OPEN,
         "the camera has no serial line (SetCommDevice failed or was not called, or the camera was closed)"},
        {cam.get(), [](korvane_camera* c) {
             return korvane_set_comm_device(c, g_serialDevice.c_str(), 9600, 8, KORVANE_VISCA) +
                    korvane_move_left(c);
         }, 2, KORVANE_RESULT_OK, ""},
        {cam.get(), korvane_connect_test, 0, KORVANE_RESULT_UNSUPPORTED, "VISCA has no connection-test frame"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(c.cam), c.result) << c.reason;
        EXPECT_EQ(korvane_last_error(why, sizeof why), c.outcome);
        EXPECT_STREQ(why, c.reason);
    }
    EXPECT_EQ(korvane_last_error(nullptr, 0), KORVANE_RESULT_UNSUPPORTED) << "reads, changes nothing";
}
