// "korvane discover": the ONVIF cameras on the local network, listed, as JSON,
// or added to the camera file.
#pragma once

#include <string>
#include <vector>

namespace korvane::tool {

extern const char* const kDiscoverHelp;
int RunDiscover(const std::vector<std::string>& args);

}  // namespace korvane::tool
