// "korvane demo": with no hardware at all, starts the simulated peers on this
// machine and drives one camera in each mode through a short scripted run.
#pragma once

#include <string>
#include <vector>

namespace korvane::tool {

extern const char* const kDemoHelp;
int RunDemo(const std::vector<std::string>& args);

}  // namespace korvane::tool
