// What "korvane panel" and "korvane demo --panel" share: their options and
// the serving itself.
#pragma once

#include "../Camera.h"
#include "../CameraFile.h"
#include "Server.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::tool::panel {

struct PanelArgs {
    std::string cameraFile;
    ServerOptions server;
    bool tokenMadeUp = false;
    std::string tokenKept;  // the file the panel keeps its own token in (empty: none)
    std::optional<std::chrono::milliseconds> duration;
    std::optional<std::chrono::milliseconds> every;  // the demo's reports
};

// "127.0.0.1:8420", "[::1]:0"; throws UsageError.
std::pair<std::string, std::uint16_t> ParseListen(const std::string& text);
// Throws UsageError. Listening beyond loopback without a token, it uses the
// one it kept (beside the camera file, else in the user's state folder), or
// makes one up and keeps it there, so that the room's pages and bookmarks
// survive a restart.
PanelArgs ParsePanelArgs(const std::vector<std::string>& args, bool needCameras);
// Serves until Ctrl-C or the duration; the exit code.
int Serve(const PanelArgs& args, std::vector<NamedCamera> cameras, COutput& output, const std::string& from);

}  // namespace korvane::tool::panel
