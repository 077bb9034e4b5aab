// POSIX has no message box: one line on standard error; debugger output goes
// to standard error only while KORVANE_DEBUG is set.
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace korvane::platform {

namespace {
std::mutex g_stderrMutex;  // whole lines, even from several threads
}

void ShowSystemMessageBox(const char* title, const std::string& textUtf8)
{
    std::lock_guard<std::mutex> lock(g_stderrMutex);
    std::fprintf(stderr, "%s: %s\n", title, textUtf8.c_str());
    std::fflush(stderr);
}

void DebugOutput(const std::string& line)
{
    if (!std::getenv("KORVANE_DEBUG")) return;
    std::lock_guard<std::mutex> lock(g_stderrMutex);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace korvane::platform
