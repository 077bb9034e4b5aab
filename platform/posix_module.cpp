// Where the library's code lives: dladdr on one of its own functions.
#include "platform/Platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace korvane::platform {

namespace {

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool IsKorvanuModule(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // libKorvanu.so, libKorvanu.so.1, libKorvanu.so.1.2.3
    return name.rfind("libKorvanu.so", 0) == 0;
}

}  // namespace

std::string LogBaseModulePath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LogBaseModulePath), &info) != 0 && info.dli_fname &&
        IsKorvanuModule(info.dli_fname)) {
        char resolved[PATH_MAX];
        if (::realpath(info.dli_fname, resolved)) return resolved;
        return info.dli_fname;
    }
    return ExecutablePath();
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

char PathSeparator() { return '/'; }

std::tm LocalTime(std::time_t when)
{
    std::tm local{};
    ::localtime_r(&when, &local);
    return local;
}

}  // namespace korvane::platform
