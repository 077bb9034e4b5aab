#include "Process.h"

#include <windows.h>

#include <csignal>

namespace korvane::platform {

std::vector<int> StopSignals() { return {SIGINT, SIGTERM, SIGBREAK}; }

// A parent may have started the tool with Ctrl-C turned off (a new process group).
void AcceptStopSignals() { ::SetConsoleCtrlHandler(nullptr, FALSE); }

void IgnoreBrokenPipe() {}  // a broken pipe is an error from the write, never a signal

void RaiseDescriptorLimit() {}  // sockets are handles, without a per-process limit to raise

bool WriteStandardOutput(const std::string& text)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(text.size() - done > 65536 ? 65536 : text.size() - done);
        if (!::WriteFile(out, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

// A file's readers are its ACL, which the user's profile folder already keeps to its owner.
bool ReadableByOthers(const std::string&) { return false; }
void RestrictToOwner(const std::string&) {}

}  // namespace korvane::platform
