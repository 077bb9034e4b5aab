// POSIX: the library's load count, through the dynamic loader.
#include "platform/Platform.h"

#include <dlfcn.h>

namespace korvane::platform {

namespace {

// Another load of the object that holds this code; null when it is not a
// loaded shared object (linked into a program).
void* LoadSelf()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&HoldModule), &info) == 0 || !info.dli_fname) return nullptr;
    return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

}  // namespace

bool HoldModule() { return LoadSelf() != nullptr; }

void ReleaseModule()
{
    void* self = LoadSelf();
    if (!self) return;
    ::dlclose(self);  // this look-up's load
    ::dlclose(self);  // the hold
}

bool ProcessExiting() { return false; }

}  // namespace korvane::platform
