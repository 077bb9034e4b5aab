// "korvane panel": the room's cameras on one web page served by the tool.
#pragma once

#include <string>
#include <vector>

namespace korvane::tool {

extern const char* const kPanelHelp;
int RunPanel(const std::vector<std::string>& args);
// "korvane demo --panel": the simulated peers and a ready camera file behind
// the panel.
int RunPanelDemo(const std::vector<std::string>& args);

}  // namespace korvane::tool
