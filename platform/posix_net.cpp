// Waiting for a datagram with a time-out: Asio's synchronous receive has none.
#include "platform/Platform.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace korvane::platform {

bool WaitReadable(boost::asio::ip::udp::socket& socket, std::chrono::milliseconds limit,
                  boost::system::error_code& error)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    error.clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd watched{socket.native_handle(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) return (watched.revents & POLLIN) != 0 || (watched.revents & POLLERR) != 0;
        if (ready == 0) return false;
        if (errno != EINTR) {
            error.assign(errno, boost::system::system_category());
            return false;
        }
    }
}

boost::system::error_code TakeSocketError(boost::asio::ip::udp::socket& socket)
{
    int code = 0;
    socklen_t size = sizeof code;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &code, &size) != 0) code = errno;
    return {code, boost::system::system_category()};
}

}  // namespace korvane::platform
