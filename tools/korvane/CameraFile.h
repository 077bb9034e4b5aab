// The room's cameras, read from a JSON file: each with a name and how it is
// reached.
#pragma once

#include "CommandLine.h"

#include <string>
#include <vector>

namespace korvane::tool {

struct NamedCamera {
    std::string name;
    CameraOptions options;
};

// Reads the room's cameras; throws UsageError naming the file, the camera and
// the field (never a password).
std::vector<NamedCamera> LoadCameraFile(const std::string& path);

}  // namespace korvane::tool
