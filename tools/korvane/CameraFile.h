// The room's cameras by name, from a small JSON file (cameras.json):
//
//   {"cameras": [
//     {"name": "podium", "mode": "serial", "device": "/dev/ttyUSB0", "baud": 9600,
//      "protocol": "pelco-d", "address": 1},
//     {"name": "room", "mode": "onvif", "host": "192.168.1.64", "port": 80,
//      "user": "admin", "password": "..."}
//   ]}
//
// mode is serial, onvif, relay1, relay2, relay4 or tracking; the other fields
// are the link options of the command line under their own names.
#pragma once

#include "CommandLine.h"

#include <string>
#include <vector>

namespace korvane::tool {

struct NamedCamera {
    std::string name;
    CameraOptions options;
};

// Reads the room's cameras; throws UsageError naming the file, the camera and the field (never a password).
std::vector<NamedCamera> LoadCameraFile(const std::string& path);

// LoadCameraFile on text already read; path only names it in messages.
std::vector<NamedCamera> ParseCameraFile(const std::string& text, const std::string& path);

// The command line with --camera NAME: the camera's link from the file, the
// command and its --for and speeds from the command line. Without --camera,
// the command line as it is. Throws UsageError.
CameraOptions ResolveCamera(const CameraOptions& commandLine);

}  // namespace korvane::tool
