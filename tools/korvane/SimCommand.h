// "korvane sim serial|tracking|relay|onvif|visca-ip": one simulated peer in the
// foreground, printing what it receives in readable form.
#pragma once

#include <string>
#include <vector>

namespace korvane::tool {

extern const char* const kSimHelp;
int RunSim(const std::vector<std::string>& args);

}  // namespace korvane::tool
