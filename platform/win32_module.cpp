// Windows: the module named Korvanu, else the executable.
#include "platform/Platform.h"

#include <windows.h>

namespace korvane::platform {

std::string LogBaseModulePath()
{
    char buffer[MAX_PATH] = {};
    const HMODULE module = ::GetModuleHandleA("Korvanu");
    const DWORD n = ::GetModuleFileNameA(module, buffer, MAX_PATH);
    return std::string(buffer, n);
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

char PathSeparator() { return '\\'; }

std::tm LocalTime(std::time_t when)
{
    std::tm local{};
    ::localtime_s(&local, &when);
    return local;
}

}  // namespace korvane::platform
