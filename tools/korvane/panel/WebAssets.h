// The page, its style and its script, built into the binary from web/ (see
// Embed.cmake): a room PC without internet needs nothing else.
#pragma once

namespace korvane::tool::panel {

extern const char kPanelHtml[];
extern const char kPanelCss[];
extern const char kPanelJs[];

}  // namespace korvane::tool::panel
