// "korvane discover": the ONVIF cameras on the local network, listed, as JSON,
// or added to the camera file.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

class CKorvaneDiscovery;

namespace korvane::tool {

// What a search found, as "korvane discover --json" and the panel list it:
// [{address, scheme, host, port, name, hardware, ptz, endpoint}].
nlohmann::ordered_json FoundCameras(const CKorvaneDiscovery& found);

extern const char* const kDiscoverHelp;
int RunDiscover(const std::vector<std::string>& args);

}  // namespace korvane::tool
