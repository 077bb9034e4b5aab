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
