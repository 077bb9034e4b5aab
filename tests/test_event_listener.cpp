// The event listener's thread lives exactly while it has sockets to watch.
#include "netcam/EventListener.h"
#include "ReportCollector.h"
#include "sim/RelayPeer.h"

#include <boost/asio/ip/udp.hpp>

#include <gtest/gtest.h>


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
