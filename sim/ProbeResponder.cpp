#include "sim/ProbeResponder.h"

#include "onvif/Soap.h"
#include "platform/Crypto.h"

#include <boost/asio/ip/multicast.hpp>

#include <cstdio>

namespace korvane::sim {

using boost::asio::ip::udp;
using onvif::Child;

namespace {

constexpr const char* kNsAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kNsDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";

std::string RandomUuid()
{
    std::uint8_t bytes[16] = {};
    platform::RandomBytes(bytes, sizeof bytes);
    char text[64];
    std::snprintf(text, sizeof text, "urn:uuid:%02x%02x%02x%02x-%02x%02x-4%01x%02x-a%01x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6] & 0xf, bytes[7],
                  bytes[8] & 0xf, bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

}  // namespace

CProbeResponder::CProbeResponder(boost::asio::io_context& io, const std::string& interfaceAddress, std::string xaddr,
                                 std::string scopes)
    : m_socket(io), m_strXaddr(std::move(xaddr)), m_strScopes(std::move(scopes)), m_strEndpoint(RandomUuid())
{
    const auto local = boost::asio::ip::make_address_v4(interfaceAddress);
    const auto group = boost::asio::ip::make_address_v4("239.255.255.250");
    // On loopback only this machine's probes are answered.
    m_bLoopbackOnly = local.is_loopback();
    m_socket.open(udp::v4());
    m_socket.set_option(udp::socket::reuse_address(true));
    m_socket.bind(udp::endpoint(group, 3702));  // the group's datagrams only
    m_socket.set_option(boost::asio::ip::multicast::join_group(group, local));
    Receive();
}

bool CProbeResponder::FromThisHost(const boost::asio::ip::address& source)
{
    // A probe on loopback may carry any of this host's addresses, or none
    // (0.0.0.0, as clients that send before their socket has an address
    // do); an address this host cannot bind is another host's.
    if (source.is_loopback() || source.is_unspecified()) return true;
    boost::system::error_code error;
    udp::socket probe(m_socket.get_executor());
    probe.open(source.is_v4() ? udp::v4() : udp::v6(), error);
    if (!error) probe.bind(udp::endpoint(source, 0), error);
    return !error;
}

void CProbeResponder::Receive()
{
    m_socket.async_receive_from(boost::asio::buffer(m_buffer), m_from, [this](boost::system::error_code error,
                                                                              std::size_t length) {
        if (error == boost::asio::error::operation_aborted) return;
        if (!error && (!m_bLoopbackOnly || FromThisHost(m_from.address()))) {
            m_strReply = Answer(std::string(m_buffer.data(), length), m_strEndpoint, m_strXaddr, m_strScopes);
            if (!m_strReply.empty()) {
                boost::system::error_code ignored;
                m_socket.send_to(boost::asio::buffer(m_strReply), m_from, 0, ignored);
                if (!ignored) ++m_nAnswered;
            }
        }
        Receive();
    });
}

std::string CProbeResponder::Answer(const std::string& probe, const std::string& endpoint, const std::string& xaddr,
                                    const std::string& scopes)
{
    pugi::xml_document document;
    if (!document.load_buffer(probe.data(), probe.size())) return {};
    const pugi::xml_node envelope = Child(document.root(), "Envelope");
    const pugi::xml_node request = Child(Child(envelope, "Body"), "Probe");
    const std::string messageId = Child(Child(envelope, "Header"), "MessageID").child_value();
    const std::string types = Child(request, "Types").child_value();
    if (!request || messageId.empty()) return {};
    if (!types.empty() && types.find("NetworkVideoTransmitter") == std::string::npos &&
        types.find("Device") == std::string::npos)
        return {};
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><e:Envelope xmlns:e=\"") + onvif::kNsSoap +
           "\" xmlns:w=\"" + kNsAddressing + "\" xmlns:disc=\"" + kNsDiscovery +
           "\" xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" xmlns:tds=\"" + onvif::kNsDevice +
           "\"><e:Header><w:MessageID>" + RandomUuid() + "</w:MessageID><w:RelatesTo>" + onvif::XmlEscape(messageId) +
           "</w:RelatesTo><w:To>" + kNsAddressing + "/role/anonymous</w:To><w:Action>" + kNsDiscovery +
           "/ProbeMatches</w:Action></e:Header><e:Body><disc:ProbeMatches><disc:ProbeMatch><w:EndpointReference>"
           "<w:Address>" + onvif::XmlEscape(endpoint) + "</w:Address></w:EndpointReference><disc:Types>dn:NetworkVideoTransmitter "
           "tds:Device</disc:Types><disc:Scopes>" + onvif::XmlEscape(scopes) + "</disc:Scopes><disc:XAddrs>" +
           onvif::XmlEscape(xaddr) + "</disc:XAddrs><disc:MetadataVersion>1</disc:MetadataVersion>"
           "</disc:ProbeMatch></disc:ProbeMatches></e:Body></e:Envelope>";
}

}  // namespace korvane::sim
