// What a network answers a discovery probe with: any datagram. An answer
// counts for one probe only, and every camera read from one has a usable http(s)
// address whose host and port agree with it, and names without control
// characters (they end up on terminals and in the camera file).
#include "Check.h"

#include "discovery/ProbeMatches.h"

#include <cstdint>
#include <string>

using namespace korvane::discovery;

namespace {

bool Printable(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string datagram(reinterpret_cast<const char*>(data), size);
    const std::string probe = "urn:uuid:00000000-0000-4000-8000-000000000000";
    for (const FoundDevice& device : ParseProbeMatches(datagram, probe)) {
        FUZZ_REQUIRE(device.scheme == "http" || device.scheme == "https", "scheme '%s'", device.scheme.c_str());
        FUZZ_REQUIRE(device.address.rfind(device.scheme + "://", 0) == 0, "address '%s'", device.address.c_str());
        FUZZ_REQUIRE(!device.host.empty() && device.address.find(device.host) != std::string::npos,
                     "host '%s' of '%s'", device.host.c_str(), device.address.c_str());
        FUZZ_REQUIRE(device.port >= 1 && device.port <= 65535, "port %u", device.port);
        FUZZ_REQUIRE(Printable(device.name) && Printable(device.hardware), "name or hardware with control bytes");
    }
    // An answer relates to one probe.
    FUZZ_REQUIRE(ParseProbeMatches(datagram, probe).empty() || ParseProbeMatches(datagram, "urn:uuid:another").empty(),
                 "one answer taken for two probes");
    return 0;
}
