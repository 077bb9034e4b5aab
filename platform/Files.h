// A file that is always whole: replaced by a temporary file written beside it,
// flushed to the disk and renamed over it, under a lock that concurrent
// writers of the same file take in turn. A full disk or a crash part-way
// leaves the old file as it was.
#pragma once

#include <memory>
#include <string>

namespace korvane::platform {

// Held from construction to destruction: an exclusive lock on PATH.lock (a
// file beside PATH, created when missing). Another process or thread locking
// the same path waits. Locked() is false when the lock file cannot be made.
class CFileLock {
public:
    explicit CFileLock(const std::string& path);
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;
    bool Locked() const { return m_pHandle != nullptr; }
    const std::string& Error() const { return m_error; }

private:
    struct Handle;
    std::unique_ptr<Handle> m_pHandle;
    std::string m_error;
};

// Writes text as the whole of path: a temporary file in the same folder,
// flushed to the disk, then renamed over path (an existing path keeps its
// permissions; a new one is the owner's only). False with the system's reason
// in error; then path is untouched and no temporary file is left.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace korvane::platform
