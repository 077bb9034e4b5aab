#include "platform/Wine.h"

#include <windows.h>

namespace korvane::platform {

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace korvane::platform
