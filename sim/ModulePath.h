// Where a loaded module's file is, found by an address inside it: tests look
// beside the library for its log folder.
#pragma once

#include <string>

namespace korvane::sim {

// Full path of the module (shared library or program) holding the address;
// empty when unknown.
std::string ModulePathOf(const void* address);

}  // namespace korvane::sim
