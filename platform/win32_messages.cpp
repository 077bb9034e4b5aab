// Windows: MessageBoxW and OutputDebugStringW.
#include "platform/Platform.h"

#include <windows.h>

namespace korvane::platform {

namespace {

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

}  // namespace

void ShowSystemMessageBox(const char* title, const std::string& textUtf8)
{
    ::MessageBoxW(nullptr, Widen(textUtf8).c_str(), Widen(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

void DebugOutput(const std::string& line)
{
    ::OutputDebugStringW(Widen(line).c_str());
}

}  // namespace korvane::platform
