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

boost::system::error_code TakeSocketError(boost::asio::ip::udp::socket& socket)
{
    int code = 0;
    int size = sizeof code;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0)
        code = ::WSAGetLastError();
    return {code, boost::system::system_category()};
}

}  // namespace korvane::platform
