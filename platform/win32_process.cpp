#include "Process.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <atomic>
#include <csignal>

namespace korvane::platform {

std::vector<int> StopSignals() { return {SIGINT, SIGTERM, SIGBREAK}; }

namespace {

std::atomic<int> g_nKept{0};

// On the console's control thread (the C runtime's signal), which is no
// interrupt: storing is all it does.
extern "C" void OnStopSignal(int number)
{
    g_nKept.store(number);
    std::signal(number, OnStopSignal);  // the C runtime resets a handler once it ran
}

}  // namespace

// A parent may have started the tool with Ctrl-C turned off (a new process group).
void HoldStopSignals() { ::SetConsoleCtrlHandler(nullptr, FALSE); }

void WatchStopSignals(bool watch)
{
    if (watch) g_nKept.store(0);
    for (const int signal : StopSignals()) std::signal(signal, watch ? OnStopSignal : SIG_DFL);
}

int TakeStopSignal() { return g_nKept.exchange(0); }

void IgnoreBrokenPipe() {}  // a broken pipe is an error from the write, never a signal

void RaiseDescriptorLimit() {}  // sockets are handles, without a per-process limit to raise

bool WriteStandardOutput(const std::string& text)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    // A console shows bytes in its own code page, not UTF-8: it is given the
    // text as UTF-16 (names, the panel's QR code), leaving its code page alone.
    if (DWORD mode = 0; ::GetConsoleMode(out, &mode) && !text.empty()) {
        const int size = static_cast<int>(text.size());
        std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
        // In pieces older consoles take whole, never splitting a surrogate pair.
        for (std::size_t at = 0; at < wide.size();) {
            std::size_t piece = wide.size() - at > 8192 ? 8192 : wide.size() - at;
            if (at + piece < wide.size() && IS_HIGH_SURROGATE(wide[at + piece - 1])) --piece;
            DWORD written = 0;
            if (!::WriteConsoleW(out, wide.data() + at, static_cast<DWORD>(piece), &written, nullptr) || written == 0)
                return false;
            at += written;
        }
        return true;
    }
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

std::vector<Ipv4Interface> Ipv4Interfaces()
{
    std::vector<Ipv4Interface> found;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; result == ERROR_BUFFER_OVERFLOW && tries < 3; ++tries) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return found;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) continue;
        char name[256] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, adapter->FriendlyName, -1, name, sizeof name, nullptr, nullptr);
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            char text[INET_ADDRSTRLEN] = {};
            const auto* address = reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr);
            if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) found.push_back({name, text});
        }
    }
    return found;
}

}  // namespace korvane::platform
