// The simulated ONVIF camera's WS-Discovery side: joins 239.255.255.250:3702
// on one interface and answers each probe for network video transmitters
// with one ProbeMatch naming the camera's device service. On loopback it
// answers every probe this host sends, whatever its source address.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <string>

namespace korvane::sim {

class CProbeResponder {
public:
    // Throws boost::system::system_error when the port or group cannot be had.
    CProbeResponder(boost::asio::io_context& io, const std::string& interfaceAddress, std::string xaddr,
                    std::string scopes);
    std::size_t Answered() const { return m_nAnswered; }

    // The ProbeMatches of a camera (endpoint, device service address,
    // scopes) for a probe (its MessageID), or empty when the datagram is no
    // probe the camera matches.
    static std::string Answer(const std::string& probe, const std::string& endpoint, const std::string& xaddr,
                              const std::string& scopes);

private:
    void Receive();
    bool FromThisHost(const boost::asio::ip::address& source);

    boost::asio::ip::udp::socket m_socket;
    bool m_bLoopbackOnly;
    std::string m_strXaddr;
    std::string m_strScopes;
    std::string m_strEndpoint;
    std::array<char, 65536> m_buffer{};
    boost::asio::ip::udp::endpoint m_from;
    std::string m_strReply;
    std::atomic<std::size_t> m_nAnswered{0};
};

}  // namespace korvane::sim
