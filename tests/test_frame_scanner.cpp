// The receive side without a device: cutting frames out of whatever bytes
// arrive, routing by packed-decimal address, and the return-code table.
#include "report/ReportNotifier.h"
#include "report/ReturnCodes.h"
#include "serial/ComPort.h"
#include "io/IoThread.h"

#include <gtest/gtest.h>

#include <vector>

using namespace korvane;

namespace {

struct Seen {
    std::vector<std::pair<unsigned, std::vector<std::uint8_t>>> reports;
    static void Notify(const unsigned char* data, int length, unsigned int message, void* ctx)
    {
        static_cast<Seen*>(ctx)->reports.emplace_back(message, std::vector<std::uint8_t>(data, data + length));
    }
};

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
    Seen one, twelve;
    auto a = std::make_shared<CReportNotifier>();
    auto b = std::make_shared<CReportNotifier>();
    a->Set(&Seen::Notify, &one);
    b->Set(&Seen::Notify, &twelve);
    ASSERT_TRUE(line.port->BindCamera(1, a));
    ASSERT_TRUE(line.port->BindCamera(12, b));
    EXPECT_FALSE(line.port->BindCamera(12, a));
    EXPECT_FALSE(line.port->BindCamera(3, nullptr));

    line.Feed({0x00, 0x41, 0xFF, 0x01, 0x00, 0x07, 0x00, 0x50});
    EXPECT_TRUE(one.reports.empty()) << "six bytes of a frame wait for the seventh";
    EXPECT_EQ(line.port->PendingBytes(), 6u);
    line.Feed({0x58});
    ASSERT_EQ(one.reports.size(), 1u);
    EXPECT_EQ(one.reports[0].first, 0x8400u);
    EXPECT_EQ(line.port->PendingBytes(), 0u);

    // 0x12 is camera 12; an unbound 0x13 is dropped whole, and what follows
    // it still arrives.
    line.Feed({0xFF, 0x13, 0xFF, 0xFF, 0xFF, 0x55, 0xFF, 0xFF, 0x12, 0x00, 0x07, 0x00, 0x55, 0x6E});
    ASSERT_EQ(twelve.reports.size(), 1u);
    EXPECT_EQ(twelve.reports[0].first, 0x8405u);
    EXPECT_EQ(twelve.reports[0].second.size(), 7u);

    // However many bytes come without a frame start, at most six are kept;
    // a frame after them still arrives, whether they came one by one or at once.
    for (int i = 0; i < 10000; ++i) line.Feed({0x33});
    EXPECT_LE(line.port->PendingBytes(), 6u);
    const std::vector<std::uint8_t> flood(100000, 0x00);
    line.port->AppendReceived(flood.data(), flood.size());
    line.Feed({0xFF, 0x01, 0x00, 0x07, 0x00, 0x54, 0x5C});
    EXPECT_EQ(one.reports.back().first, 0x8404u) << "the frame after the flood";
}

TEST(ReturnCodes, SerialCodesMapToMessagesOthersAreDropped)
{
    Seen seen;
    CReportNotifier notifier;
    std::uint8_t frame[7] = {0xFF, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00};
    EXPECT_EQ(notifier.OnSerialReport(frame, 7), 7) << "no notify function: consumed, nothing else";
    notifier.Set(&Seen::Notify, &seen);
    for (int code = 0x4F; code <= 0x58; ++code) {
        frame[5] = static_cast<std::uint8_t>(code);
        EXPECT_EQ(notifier.OnSerialReport(frame, 7), 7);
    }
    EXPECT_EQ(notifier.OnSerialReport(nullptr, 7), 0);
    ASSERT_EQ(seen.reports.size(), 8u);
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(seen.reports[i].first, 0x8400u + i);

    seen.reports.clear();
    notifier.Disable();
    frame[5] = 0x50;
    notifier.OnSerialReport(frame, 7);
    EXPECT_TRUE(seen.reports.empty()) << "a closed camera gets nothing";
}
