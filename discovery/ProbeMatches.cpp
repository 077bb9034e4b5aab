#include "discovery/ProbeMatches.h"

#include "onvif/Soap.h"
#include "platform/Crypto.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace korvane::discovery {

using onvif::Child;
using onvif::Descendant;
using onvif::LocalName;

namespace {

constexpr const char* kNsAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kNsDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// %20 and the like; a broken escape stays as it is. Control characters go:
// the text ends up on terminals and in files.
std::string PercentDecoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        char c = text[i];
        if (c == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            c = static_cast<char>(value);
            i += 2;
        }
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out += c;
    }
    return out;
}

// A host as a URL writes it: an IP address or a DNS name (an IPv6 zone after %).
bool IsHostText(const std::string& host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '%' || c == '_';
    });
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The scheme, host and port of an http(s) address; false for anything else.
bool SplitAddress(const std::string& url, FoundDevice& device)
{
    const std::size_t colon = url.find("://");
    if (colon == std::string::npos || url.size() > 2048) return false;
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
    const std::string scheme = Lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    const std::size_t start = colon + 3;
    const std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    if (authority.empty() || authority.find('@') != std::string::npos) return false;
    std::string host = authority;
    std::string port;
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return false;
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            port = host.substr(close + 2);
        }
        host = host.substr(1, close - 1);
    } else if (const std::size_t at = host.find(':'); at != std::string::npos) {
        port = host.substr(at + 1);
        host.erase(at);
    }
    unsigned number = scheme == "https" ? 443 : 80;
    if (!port.empty()) {
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number == 0 || number > 65535) return false;
    }
    if (!IsHostText(host)) return false;
    device.address = scheme + url.substr(colon);  // "HTTP://" as "http://"
    device.scheme = scheme;
    device.host = host;
    device.port = number;
    return true;
}

}  // namespace

std::string CleanText(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // The length of a well-formed UTF-8 sequence starting here, or 0.
        std::size_t length = byte < 0x80 ? 1 : byte >= 0xc2 && byte <= 0xdf ? 2 : byte >= 0xe0 && byte <= 0xef ? 3
                             : byte >= 0xf0 && byte <= 0xf4 ? 4 : 0;
        if (i + length > text.size()) length = 0;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) length = 0;
        if (length >= 3) {  // no overlong forms, no surrogates, nothing past U+10FFFF
            const auto second = static_cast<unsigned char>(text[i + 1]);
            if ((byte == 0xe0 && second < 0xa0) || (byte == 0xed && second >= 0xa0) ||
                (byte == 0xf0 && second < 0x90) || (byte == 0xf4 && second >= 0x90))
                length = 0;
        }
        const std::string piece = length ? text.substr(i, length) : "\xef\xbf\xbd";
        i += length ? length : 1;
        const bool control = (length == 1 && (byte < 0x20 || byte == 0x7f)) ||
                             (length == 2 && byte == 0xc2 && static_cast<unsigned char>(piece[1]) < 0xa0);
        if (control) continue;
        if (out.size() + piece.size() > kLongestText) break;
        out += piece;
    }
    return out;
}

std::string ProbeMessage(const std::string& messageId)
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"") + onvif::kNsSoap +
           "\" xmlns:a=\"" + kNsAddressing + "\" xmlns:d=\"" + kNsDiscovery +
           "\" xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><s:Header><a:Action s:mustUnderstand=\"1\">" +
           kNsDiscovery + "/Probe</a:Action><a:MessageID>" + onvif::XmlEscape(messageId) +
           "</a:MessageID><a:ReplyTo><a:Address>" + kNsAddressing +
           "/role/anonymous</a:Address></a:ReplyTo><a:To s:mustUnderstand=\"1\">"
           "urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header><s:Body><d:Probe><d:Types>"
           "dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body></s:Envelope>";
}

std::vector<FoundDevice> ParseProbeMatches(const std::string& datagram, const std::string& messageId)
{
    std::vector<FoundDevice> found;
    pugi::xml_document document;
    if (!document.load_buffer(datagram.data(), datagram.size())) return found;
    const pugi::xml_node envelope = Child(document.root(), "Envelope");
    const std::string relatesTo = Trimmed(Child(Child(envelope, "Header"), "RelatesTo").child_value());
    if (relatesTo != messageId) return found;  // another probe's answer, or none
    for (pugi::xml_node match : Child(Child(envelope, "Body"), "ProbeMatches").children()) {
        if (match.type() != pugi::node_element || std::string(LocalName(match)) != "ProbeMatch") continue;
        FoundDevice device;
        device.endpoint = CleanText(Trimmed(Descendant(Child(match, "EndpointReference"), "Address").child_value()));
        device.xaddrs = Words(Child(match, "XAddrs").child_value());
        for (const std::string& xaddr : device.xaddrs)
            if (SplitAddress(xaddr, device)) break;
        if (device.address.empty()) continue;
        for (std::string& xaddr : device.xaddrs) xaddr = CleanText(xaddr);
        for (const std::string& type : Words(Child(match, "Types").child_value()))
            if (Lower(type).find("ptz") != std::string::npos) device.ptz = true;
        for (const std::string& scope : Words(Child(match, "Scopes").child_value())) {
            const std::string lower = Lower(scope);
            const std::string base = "onvif://www.onvif.org/";
            if (lower.rfind(base, 0) != 0) continue;
            const std::string rest = scope.substr(base.size());
            if (Lower(rest).rfind("name/", 0) == 0 && device.name.empty()) device.name = CleanText(PercentDecoded(rest.substr(5)));
            if (Lower(rest).rfind("hardware/", 0) == 0 && device.hardware.empty())
                device.hardware = CleanText(PercentDecoded(rest.substr(9)));
            if (Lower(rest) == "type/ptz") device.ptz = true;
        }
        found.push_back(std::move(device));
    }
    return found;
}

std::string NewMessageId()
{
    std::uint8_t bytes[16] = {};
    platform::RandomBytes(bytes, sizeof bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

}  // namespace korvane::discovery
