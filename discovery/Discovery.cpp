#include "discovery/Discovery.h"

#include "platform/Platform.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>

#include <algorithm>
#include <array>

namespace korvane::discovery {

using boost::asio::ip::udp;

namespace {

// A probe lost on the way costs the whole wait: it goes once more after
// this long without an answer, as WS-Discovery's own retransmission does.
constexpr std::chrono::milliseconds kRepeatAfter{500};

}  // namespace

std::vector<FoundDevice> Discover(const DiscoveryOptions& options, std::string& error,
                                  const std::function<void(const FoundDevice&)>& onFound)
{
    error.clear();
    std::vector<FoundDevice> found;
    boost::asio::io_context io;
    udp::socket socket(io);
    boost::system::error_code failure;
    boost::asio::ip::address_v4 local = boost::asio::ip::address_v4::any();
    if (!options.interfaceAddress.empty()) {
        local = boost::asio::ip::make_address_v4(options.interfaceAddress, failure);
        if (failure) {
            error = "no IPv4 interface address: " + options.interfaceAddress;
            return found;
        }
    }
    socket.open(udp::v4(), failure);
    if (!failure) socket.bind(udp::endpoint(local, 0), failure);
    if (!failure && !local.is_unspecified())
        socket.set_option(boost::asio::ip::multicast::outbound_interface(local), failure);
    // Cameras simulated on this machine hear the probe too.
    if (!failure) socket.set_option(boost::asio::ip::multicast::enable_loopback(true), failure);
    if (failure) {
        error = "cannot open the discovery socket: " + platform::ErrorText(failure);
        return found;
    }
    const std::string messageId = NewMessageId();
    const std::string probe = ProbeMessage(messageId);
    const udp::endpoint group(boost::asio::ip::make_address_v4(kMulticastAddress), kPort);
    const auto send = [&] {
        socket.send_to(boost::asio::buffer(probe), group, 0, failure);
        if (failure) error = "cannot send the probe: " + platform::ErrorText(failure);
        return !failure;
    };
    if (!send()) return found;

    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + options.timeout;
    bool repeated = false;
    std::array<char, 65536> datagram{};
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (!repeated) wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(start + kRepeatAfter - now));
        if (wait.count() <= 0 || !platform::WaitReadable(socket, wait, failure)) {
            if (failure) {
                error = "discovery socket: " + platform::ErrorText(failure);
                break;
            }
            if (!repeated && found.empty()) send();
            repeated = true;
            continue;
        }
        udp::endpoint from;
        const std::size_t length = socket.receive_from(boost::asio::buffer(datagram), from, 0, failure);
        if (failure) continue;  // one bad datagram ends nothing
        for (FoundDevice& device : ParseProbeMatches(std::string(datagram.data(), length), messageId)) {
            const bool seen = std::any_of(found.begin(), found.end(), [&](const FoundDevice& other) {
                return device.endpoint.empty() ? other.address == device.address : other.endpoint == device.endpoint;
            });
            if (seen) continue;
            device.after = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
            found.push_back(std::move(device));
            if (onFound) onFound(found.back());
            if (options.enough && found.size() >= options.enough) return found;
            if (found.size() >= kMostCameras) return found;
        }
    }
    return found;
}

}  // namespace korvane::discovery
