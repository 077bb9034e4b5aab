#include "sim/ModulePath.h"

#include <windows.h>

namespace korvane::sim {

std::string ModulePathOf(const void* address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module))
        return {};
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

}  // namespace korvane::sim
