#include "Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace korvane::platform {

struct CFileLock::Handle {
    int fd = -1;
    ~Handle() { ::close(fd); }  // closing drops the lock
};

CFileLock::CFileLock(const std::string& path)
{
    const std::string name = path + ".lock";
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = name + ": " + std::strerror(errno);
        return;
    }
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        m_error = name + ": " + std::strerror(errno);
        return;
    }
    m_pHandle = std::move(handle);
}

CFileLock::~CFileLock() = default;

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::vector<char> temporary(path.begin(), path.end());
    const std::string suffix = ".tmp-XXXXXX";
    temporary.insert(temporary.end(), suffix.begin(), suffix.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const auto fail = [&](int code) {
        error = std::strerror(code);
        ::close(fd);
        ::unlink(temporary.data());
        return false;
    };
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) return fail(errno);
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    // On the disk before the name points at it: a crash leaves one file or the other.
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(temporary.data());
        return false;
    }
    if (::rename(temporary.data(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(temporary.data());
        return false;
    }
    // The rename itself on the disk.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace korvane::platform
