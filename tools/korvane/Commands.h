// The camera commands of the korvane tool, by their words: "up", "zoom in",
// "preset go 5", "track on", ...
#pragma once

#include <korvane/Korvane.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane::tool {

struct Action {
    std::string label;                       // "preset go 5"
    std::function<int(CKorvane&)> run;
    bool keepsMoving = false;                // a stop ends it (--for)
};

// The action for the words; throws UsageError for unknown words or arguments.
Action FindAction(const std::vector<std::string>& words);

}  // namespace korvane::tool
