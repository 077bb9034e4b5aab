// The panel's address as a QR code in the terminal, so that a tablet in the
// room joins by pointing its camera at the screen.
#pragma once

#include <string>
#include <vector>

namespace korvane::tool::panel {

// text as a QR code drawn with Unicode half blocks, two rows of modules to a
// line, light modules drawn (as a terminal shows text: light on dark) and a
// light margin of four modules around it. Empty when text does not fit.
std::vector<std::string> QrCodeLines(const std::string& text);

}  // namespace korvane::tool::panel
