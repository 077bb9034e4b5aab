// The serial port's write queue on a real pseudo-terminal: what becomes of
// queued frames when the line fails under them.
#include "io/IoThread.h"
#include "serial/ComPort.h"
#include "sim/SerialPeer.h"

#include <gtest/gtest.h>

#include <chrono>

using korvane::CComPort;
using korvane::CIoThread;
using korvane::Frame;
using korvane::sim::CSerialPeer;
using namespace std::chrono_literals;

namespace {

// Waits (bounded) until the condition holds; it is checked on the port's I/O
// thread, so each check also waits for the work queued before it.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 3s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition())
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

}  // namespace

// A line that fails while frames wait: the frames are dropped, not sent
// ahead of later commands, and the error is kept for the connection test.
TEST(SerialPort, AWriteErrorDropsTheQueuedFrames)
{
    if (!CSerialPeer::HangupReachesTheCamera())
        GTEST_SKIP() << "the far end of a COM-port pair cannot fail the line under a write";
    auto reader = std::make_shared<CIoThread>();
    ASSERT_TRUE(reader->Start());
    CSerialPeer peer;
    auto port = std::make_shared<CComPort>(reader, peer.DeviceName());
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    ASSERT_FALSE(port->Open(dcb));
    // Nobody reads the line: it fills up and frames wait in the queue.
    for (int i = 0; i < 50000; ++i) ASSERT_TRUE(port->Write(Frame{0xFF, 0x01, 0x00, 0x08, 0x1E, 0x1E, 0x46}));
    ASSERT_GT(port->QueuedFrames(), 1000u);
    ASSERT_FALSE(port->LastError());

    peer.Hangup();  // the write under way fails
    ASSERT_TRUE(Eventually([&] { return bool(port->LastError()); }));
    EXPECT_EQ(port->QueuedFrames(), 0u) << port->LastError().message();
    // The next frame is tried on its own (and fails on the dead line): the
    // old queue does not come back ahead of it.
    ASSERT_TRUE(port->Write(Frame{0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_LE(port->QueuedFrames(), 1u);
    EXPECT_TRUE(Eventually([&] { return port->QueuedFrames() == 0; }));
    port->Close();
    reader->Stop();
}
