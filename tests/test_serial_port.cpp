// The serial port pulling its cameras' lanes on a real pseudo-terminal: what
// becomes of waiting commands when the line fails under them.
#include "camera/CommandLane.h"
#include "io/IoThread.h"
#include "serial/ComPort.h"
#include "sim/SerialPeer.h"

#include <gtest/gtest.h>

#include <chrono>

using korvane::CComPort;
using korvane::CCommandLane;
using korvane::CIoThread;
using korvane::LaneCommand;
using korvane::LaneKind;
using korvane::PtzCommand;
using korvane::sim::CSerialPeer;
using namespace std::chrono_literals;

namespace {

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 3s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition())
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

LaneCommand Preset(int number)
{
    LaneCommand command;
    command.type = LaneCommand::Type::Preset;
    command.preset = number;
    command.op = 1;
    command.protocol = PROTOCOL_PELCO_D;
    command.address = 1;
    return command;
}

}  // namespace

// The lane's rules, as the line would take the entries: a newer motion
// replaces one not yet taken (behind what was ordered before it), a stop
// removes pending motions and goes first, ordered entries keep their order,
// and a full lane refuses ordered entries only.
TEST(CommandLane, StopsGoFirstMotionsAreReplacedOrderedEntriesKeepOrder)
{
    struct Submit {
        char kind;  // 's' stop, 'm' motion (preset go), 'o' ordered (preset set)
        int preset;
    };
    const struct {
        std::vector<Submit> submits;
        std::vector<int> taken;  // preset numbers; 0 for the stop
    } cases[] = {
        {{{'m', 1}, {'m', 2}, {'m', 3}}, {3}},
        {{{'o', 1}, {'m', 2}, {'o', 3}, {'m', 4}}, {1, 3, 4}},
        {{{'m', 1}, {'o', 2}, {'s', 0}, {'o', 3}}, {0, 2, 3}},
        {{{'s', 0}, {'s', 0}, {'m', 5}}, {0, 5}},
        {{{'o', 1}, {'m', 2}, {'s', 0}, {'m', 4}}, {0, 1, 4}},
    };
    for (const auto& c : cases) {
        CCommandLane lane(korvane::EncoderTraits{true, korvane::ViscaZoom::Variable});
        for (const Submit& submit : c.submits) {
            LaneCommand command = Preset(submit.preset);
            if (submit.kind == 's') command.type = LaneCommand::Type::Ptz;
            command.op = submit.kind == 'o' ? 1 : 0;
            const LaneKind kind = submit.kind == 's'   ? LaneKind::Stop
                                  : submit.kind == 'm' ? LaneKind::Motion
                                                       : LaneKind::Ordered;
            EXPECT_TRUE(lane.Submit(command, kind).Succeeded());
        }
        std::vector<int> taken;
        std::vector<korvane::Frame> frames;
        while (lane.Take(frames)) {
            ASSERT_EQ(frames.size(), 1u);
            taken.push_back(frames[0][3] == 0x00 ? 0 : frames[0][5]);  // pelco-d: stop, or preset number
        }
        EXPECT_EQ(taken, c.taken) << c.submits.size() << " submits";
    }
    CCommandLane small(korvane::EncoderTraits{true, korvane::ViscaZoom::Variable}, 2);
    EXPECT_TRUE(small.Submit(Preset(1), LaneKind::Ordered).Succeeded());
    EXPECT_TRUE(small.Submit(Preset(2), LaneKind::Ordered).Succeeded());
    EXPECT_EQ(small.Submit(Preset(3), LaneKind::Ordered).outcome, korvane::Outcome::QueueFull);
    EXPECT_TRUE(small.Submit(Preset(4), LaneKind::Stop).Succeeded()) << "a stop always has room";
}

// A line that fails while commands wait: they are dropped, not sent ahead of
// later commands, and the error is kept for the connection test.
TEST(SerialPort, AWriteErrorDropsWhatWaitsInTheLanes)
{
    if (!CSerialPeer::HangupReachesTheCamera())
        GTEST_SKIP() << "the far end of a COM-port pair cannot fail the line under a write";
    auto reader = std::make_shared<CIoThread>();
    ASSERT_TRUE(reader->Start());
    CSerialPeer peer;
    auto port = std::make_shared<CComPort>(reader, peer.DeviceName());
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    ASSERT_FALSE(port->Open(dcb));
    auto lane = std::make_shared<CCommandLane>(korvane::EncoderTraits{true, korvane::ViscaZoom::Variable});
    port->AddLane(lane);
    // The line takes about two frames ahead of its speed: the rest wait.
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(lane->Submit(Preset(i), LaneKind::Ordered).Succeeded());
    ASSERT_TRUE(port->Pull());
    ASSERT_FALSE(lane->Empty());
    ASSERT_FALSE(port->LastError());

    peer.Hangup();  // the next write fails
    ASSERT_TRUE(Eventually([&] { return bool(port->LastError()); }));
    EXPECT_TRUE(Eventually([&] { return lane->Empty(); })) << port->LastError().message();
    // The next command is tried on its own (and fails on the dead line).
    LaneCommand stop = Preset(0);
    stop.type = LaneCommand::Type::Ptz;
    stop.command = PtzCommand::Stop;
    ASSERT_TRUE(lane->Submit(stop, LaneKind::Stop).Succeeded());
    ASSERT_TRUE(port->Pull());
    EXPECT_TRUE(Eventually([&] { return lane->Empty(); }));
    port->Close();
    reader->Stop();
}
