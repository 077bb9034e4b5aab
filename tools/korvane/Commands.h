// The camera commands of the korvane tool, by their words: "up", "zoom in",
// "preset go 5", "track on", ...
#pragma once

#include "CommandLine.h"

#include <korvane/Korvane.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvane::tool {

struct Action {
    std::string label;                       // "preset go 5"
    std::function<int(CKorvane&)> run;
    bool keepsMoving = false;                // a stop ends it (--for)
    std::string verb;                        // "preset", "zoom", "up", ...
    int preset = -1;                         // the preset's number, for "preset"
};

// The action for the words; throws UsageError for unknown words or arguments.
// Presets are taken from 0 to 256; whether the link carries the number is
// for Unsendable to say.
Action FindAction(const std::vector<std::string>& words);

// The library's operation for a command's verb ("up" and "stop" are moves).
KORVANEOPERATION OperationOf(const std::string& verb);

// Why the library would send nothing for the action on this link (its
// capability table: ONVIF has no focus, VISCA no test frame, Pelco no preset
// 256, ...), or nothing when it sends.
std::optional<std::string> Unsendable(const Action& action, const CameraOptions& link);

// FindAction, refusing with UsageError what the link would not send.
Action FindAction(const std::vector<std::string>& words, const CameraOptions& link);

}  // namespace korvane::tool
