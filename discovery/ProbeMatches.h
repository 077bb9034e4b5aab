// WS-Discovery messages for ONVIF cameras: the Probe for network video
// transmitters, and reading the ProbeMatches a camera answers with.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace korvane::discovery {

constexpr const char* kMulticastAddress = "239.255.255.250";
constexpr unsigned short kPort = 3702;

// One camera that answered.
struct FoundDevice {
    std::string endpoint;             // its WS-Addressing address, "urn:uuid:..."
    std::vector<std::string> xaddrs;  // its device service addresses, as advertised
    std::string address;              // the first http or https one
    std::string scheme;               // of address: "http" or "https"
    std::string host;                 // of address, without brackets
    unsigned port = 0;                // of address, 80/443 when it names none
    std::string name;                 // scope onvif://www.onvif.org/name/..., decoded
    std::string hardware;             // scope .../hardware/..., decoded
    bool ptz = false;                 // it advertises PTZ (a type or scope saying so)
    std::chrono::microseconds after{0};  // from the probe to this answer
};

// Every text of an answer (endpoint, name, hardware) is shown on terminals,
// in JSON and on a page: valid UTF-8 kept, any other byte as U+FFFD, control
// characters (C0, DEL, C1) dropped, at most this many bytes.
constexpr std::size_t kLongestText = 256;
std::string CleanText(const std::string& text);

// The probe, with this message id ("urn:uuid:...").
std::string ProbeMessage(const std::string& messageId);

// The matches of one datagram that answers the probe messageId (its
// RelatesTo); anything else reads as no match. A match without a usable
// http(s) address (printable ASCII, a host of letters, digits, dots, colons
// and dashes) is left out.
std::vector<FoundDevice> ParseProbeMatches(const std::string& datagram, const std::string& messageId);

// A fresh "urn:uuid:..." (random, version 4).
std::string NewMessageId();

}  // namespace korvane::discovery
