#include "Files.h"

#include <windows.h>

#include <filesystem>

namespace korvane::platform {

namespace {

std::wstring Wide(const std::string& path) { return std::filesystem::u8path(path).wstring(); }

std::string Reason(DWORD code) { return "system error " + std::to_string(code); }

}  // namespace

struct CFileLock::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle() { CloseHandle(file); }  // closing drops the lock
};

CFileLock::CFileLock(const std::string& path)
{
    auto handle = std::make_unique<Handle>();
    handle->file = CreateFileW(Wide(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole{};
    if (handle->file == INVALID_HANDLE_VALUE) {
        m_error = path + ".lock: " + Reason(GetLastError());
        return;
    }
    if (!LockFileEx(handle->file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        m_error = path + ".lock: " + Reason(GetLastError());
        return;
    }
    m_pHandle = std::move(handle);
}

CFileLock::~CFileLock() = default;

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error)
{
    const std::wstring temporary = Wide(path + ".tmp-" + std::to_string(GetCurrentProcessId()));
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Reason(GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool done = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                      written == text.size() && FlushFileBuffers(file);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!done || !MoveFileExW(temporary.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Reason(done ? GetLastError() : code);
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane::platform
