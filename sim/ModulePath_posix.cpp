#include "sim/ModulePath.h"

#include <dlfcn.h>

namespace korvane::sim {

std::string ModulePathOf(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
    return info.dli_fname;
}

}  // namespace korvane::sim
