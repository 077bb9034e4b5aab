// Driving a camera from the keyboard: arrows move, space stops, a few letters
// zoom, focus and call presets; reports print as they arrive above a status
// line that shows the camera and its link.
#pragma once

#include "Camera.h"

namespace korvane::tool {

extern const char* const kInteractiveKeys;

// Runs until q, Ctrl-C or the end of input; the exit code.
int RunInteractive(CCameraLink& link, COutput& output);

}  // namespace korvane::tool
