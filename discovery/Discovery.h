// Finding ONVIF cameras on the local network: one WS-Discovery probe to
// 239.255.255.250:3702 and the answers collected until a deadline.
#pragma once

#include "discovery/ProbeMatches.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace korvane::discovery {

// A search keeps at most this many cameras: a flood of answers (or a peer
// that answers with a new address each time) ends the search there.
constexpr std::size_t kMostCameras = 1000;

struct DiscoveryOptions {
    std::chrono::milliseconds timeout{3000};
    // The IPv4 address of the interface to probe from; empty: the system's
    // choice (the interface of the multicast route).
    std::string interfaceAddress;
    // Stop at this many cameras (0: wait out the time-out).
    std::size_t enough = 0;
};

// Probes and collects the cameras that answer, each once (by endpoint, else
// address), in the order they answered, at most kMostCameras. onFound sees
// each as it arrives.
// Returns within the time-out; error says why nothing could be sent or
// received (empty when the probe went out, whether or not anyone answered).
std::vector<FoundDevice> Discover(const DiscoveryOptions& options, std::string& error,
                                  const std::function<void(const FoundDevice&)>& onFound = {});

}  // namespace korvane::discovery
