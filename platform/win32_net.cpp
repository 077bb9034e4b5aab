// Waiting for a datagram with a time-out: Asio's synchronous receive has none.
#include "platform/Platform.h"

#include <winsock2.h>

namespace korvane::platform {

bool WaitReadable(boost::asio::ip::udp::socket& socket, std::chrono::milliseconds limit,
                  boost::system::error_code& error)
{
    error.clear();
    WSAPOLLFD watched{};
    watched.fd = socket.native_handle();
    watched.events = POLLRDNORM;
    const int ready = ::WSAPoll(&watched, 1, static_cast<INT>(limit.count()));
    if (ready == SOCKET_ERROR) {
        error.assign(::WSAGetLastError(), boost::system::system_category());
        return false;
    }
    return ready > 0;
}

// Windows tells a datagram's refusal to the next send or receive, not in
// SO_ERROR, which wine keeps set for good once a refusal came: read after
// each send, it would fail every command after the peer is back.
boost::system::error_code TakeSocketError(boost::asio::ip::udp::socket&) { return {}; }

}  // namespace korvane::platform
