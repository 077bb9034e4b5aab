// The event listener's thread lives exactly while it has sockets to watch,
// and is the I/O thread every other part of the library shares.
#include "io/IoService.h"
#include "netcam/EventListener.h"
#include "ReportCollector.h"
#include "sim/RelayPeer.h"

#include <boost/asio/ip/udp.hpp>

#include <gtest/gtest.h>

#include <future>

using boost::asio::ip::udp;
using korvane::CEventListener;
using korvane::CReportNotifier;
using korvane::sim::CRelayPeer;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

namespace {

struct Watched {
    std::shared_ptr<udp::socket> socket;
    std::shared_ptr<CReportNotifier> owner = std::make_shared<CReportNotifier>();
    std::uint16_t port = 0;
};

Watched MakeSocket(CEventListener& listener, ReportCollector& events)
{
    Watched watched;
    watched.socket = std::make_shared<udp::socket>(listener.Context(),
                                                   udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    watched.port = watched.socket->local_endpoint().port();
    watched.owner->Set(&ReportCollector::Notify, &events);
    return watched;
}

}  // namespace

TEST(EventListener, ThreadRunsWhileSocketsAreWatchedAndComesBack)
{
    CEventListener listener;
    ReportCollector events;
    Watched a = MakeSocket(listener, events);
    Watched b = MakeSocket(listener, events);
    EXPECT_FALSE(listener.IsListening());
    ASSERT_TRUE(listener.AddSocket(1, a.socket, a.owner));
    ASSERT_TRUE(listener.AddSocket(2, b.socket, b.owner));
    EXPECT_FALSE(listener.AddSocket(2, a.socket, a.owner));  // the first entry stays
    EXPECT_TRUE(listener.IsListening());

    CRelayPeer::SendEvent(b.port, "APPEARS");
    ASSERT_TRUE(events.WaitFor(1));

    EXPECT_FALSE(listener.RemoveSocket(2, a.owner));  // not its owner
    EXPECT_TRUE(listener.RemoveSocket(1, a.owner));
    EXPECT_TRUE(listener.IsListening());
    EXPECT_TRUE(listener.RemoveSocket(2, b.owner));
    EXPECT_FALSE(listener.IsListening());  // ended before the last removal returned
    EXPECT_EQ(listener.SocketCount(), 0u);

    Watched c = MakeSocket(listener, events);
    ASSERT_TRUE(listener.AddSocket(3, c.socket, c.owner));
    CRelayPeer::SendEvent(c.port, "DISAPPEARS");
    ASSERT_TRUE(events.WaitFor(2));
    EXPECT_EQ(events.Reports().back().message, 0x8401u);
    listener.Shutdown();
    EXPECT_FALSE(listener.IsListening());
    EXPECT_FALSE(listener.AddSocket(4, c.socket, c.owner));
}

// One thread for every user: the listener's sockets are read on the thread
// another user's work runs on, and the thread ends with the last user of
// all, whichever that is.
TEST(EventListener, SharesTheOneIoThreadThatEndsWithItsLastUser)
{
    const auto io = korvane::CIoService::Instance();
    const auto threadOf = [&io] {
        auto ran = std::make_shared<std::promise<std::thread::id>>();
        boost::asio::post(io->Context(), [ran] { ran->set_value(std::this_thread::get_id()); });
        auto id = ran->get_future();
        return id.wait_for(3s) == std::future_status::ready ? id.get() : std::thread::id();
    };
    for (const bool listenerLeavesFirst : {true, false}) {
        SCOPED_TRACE(listenerLeavesFirst ? "the listener leaves first" : "the other user leaves first");
        CEventListener listener;
        ReportCollector events;
        Watched a = MakeSocket(listener, events);
        ASSERT_TRUE(io->Acquire());
        ASSERT_TRUE(listener.AddSocket(1, a.socket, a.owner));
        EXPECT_EQ(io->Users(), 2);
        CRelayPeer::SendEvent(a.port, "APPEARS");
        ASSERT_TRUE(events.WaitFor(1));
        EXPECT_EQ(events.Reports()[0].thread, threadOf());

        if (listenerLeavesFirst) EXPECT_TRUE(listener.RemoveSocket(1, a.owner));
        else io->Release();
        EXPECT_TRUE(io->Thread()->IsRunning()) << "ended while still in use";
        if (listenerLeavesFirst) io->Release();
        else EXPECT_TRUE(listener.RemoveSocket(1, a.owner));
        EXPECT_FALSE(io->Thread()->IsRunning()) << "still running after the last user left";
        EXPECT_EQ(io->Users(), 0);
    }
}
