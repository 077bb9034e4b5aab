// The receive side without a device: cutting frames out of whatever bytes
// arrive, routing by packed-decimal address, and the return-code table.
#include "ReportCollector.h"
#include "report/ReportNotifier.h"
#include "report/ReturnCodes.h"
#include "serial/ComPort.h"
#include "io/IoThread.h"

#include <gtest/gtest.h>

#include <vector>

using namespace korvane;
using korvane::test::ReportCollector;

namespace {

struct Line {
    std::shared_ptr<CIoThread> reader = std::make_shared<CIoThread>();
    std::shared_ptr<CComPort> port = std::make_shared<CComPort>(reader, "test");

    void Feed(std::initializer_list<int> bytes)
    {
        for (int b : bytes) {
            const auto byte = static_cast<std::uint8_t>(b);
            port->AppendReceived(&byte, 1);  // one byte at a time, as a slow line delivers
            port->ScanFrames();
        }
    }
};

}  // namespace

TEST(ReportAddresses, PackedDecimalOnTheLineAndFromTheTrackingSystem)
{
    // byte, serial line, tracking system
    const int cases[][3] = {{0x12, 12, 12}, {0x05, 5, 5}, {0x1a, 1, 1},  {0xb2, 0, 0},   {0x10, 10, 10},
                            {0x99, 99, 0},  {0x0a, 0, 0}, {0x00, 0, 0},  {0xff, 0, 0},   {0x79, 79, 79},
                            {0x80, 80, 0},  {0x85, 85, 0}, {0x0c, 0, 0}, {0x3f, 3, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(SerialReportAddress(static_cast<std::uint8_t>(c[0])), c[1]) << std::hex << c[0];
        EXPECT_EQ(TrackReportAddress(static_cast<std::uint8_t>(c[0])), c[2]) << std::hex << c[0];
    }
}

TEST(FrameScanner, CutsRoutesAndBoundsTheBuffer)
{
    Line line;
    ReportCollector one, twelve;
    auto a = std::make_shared<CReportNotifier>();
    auto b = std::make_shared<CReportNotifier>();
    a->Set(&ReportCollector::Notify, &one);
    b->Set(&ReportCollector::Notify, &twelve);
    ASSERT_TRUE(line.port->BindCamera(1, a));
    ASSERT_TRUE(line.port->BindCamera(12, b));
    EXPECT_FALSE(line.port->BindCamera(12, a));
    EXPECT_FALSE(line.port->BindCamera(3, nullptr));

    line.Feed({0x00, 0x41, 0xFF, 0x01, 0x00, 0x07, 0x00, 0x50});
    EXPECT_EQ(one.Count(), 0u) << "six bytes of a frame wait for the seventh";
    EXPECT_EQ(line.port->PendingBytes(), 6u);
    line.Feed({0x58});
    EXPECT_EQ(one.Messages(), std::vector<unsigned int>{0x8400u});
    EXPECT_EQ(line.port->PendingBytes(), 0u);

    // 0x12 is camera 12; an unbound 0x13 is dropped whole, and what follows
    // it still arrives.
    line.Feed({0xFF, 0x13, 0xFF, 0xFF, 0xFF, 0x55, 0xFF, 0xFF, 0x12, 0x00, 0x07, 0x00, 0x55, 0x6E});
    EXPECT_EQ(twelve.Messages(), std::vector<unsigned int>{0x8405u});
    EXPECT_EQ(twelve.Reports().at(0).bytes.size(), 7u);

    // However many bytes come without a frame start, at most six are kept;
    // a frame after them still arrives, whether they came one by one or at once.
    for (int i = 0; i < 10000; ++i) line.Feed({0x33});
    EXPECT_LE(line.port->PendingBytes(), 6u);
    const std::vector<std::uint8_t> flood(100000, 0x00);
    line.port->AppendReceived(flood.data(), flood.size());
    line.Feed({0xFF, 0x01, 0x00, 0x07, 0x00, 0x54, 0x5C});
    EXPECT_EQ(one.Messages().back(), 0x8404u) << "the frame after the flood";
}

TEST(ReturnCodes, SerialCodesMapToMessagesOthersAreDropped)
{
    ReportCollector seen;
    CReportNotifier notifier;
    std::uint8_t frame[7] = {0xFF, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00};
    EXPECT_EQ(notifier.OnSerialReport(frame, 7), 7) << "no notify function: consumed, nothing else";
    notifier.Set(&ReportCollector::Notify, &seen);
    for (int code = 0x4F; code <= 0x58; ++code) {
        frame[5] = static_cast<std::uint8_t>(code);
        EXPECT_EQ(notifier.OnSerialReport(frame, 7), 7);
    }
    EXPECT_EQ(notifier.OnSerialReport(nullptr, 7), 0);
    EXPECT_EQ(seen.Messages(), (std::vector<unsigned int>{0x8400, 0x8401, 0x8402, 0x8403, 0x8404, 0x8405, 0x8406, 0x8407}));

    notifier.Disable();
    frame[5] = 0x50;
    notifier.OnSerialReport(frame, 7);
    EXPECT_EQ(seen.Count(), 8u) << "a closed camera gets nothing";
}
