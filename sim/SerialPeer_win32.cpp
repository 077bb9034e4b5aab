// Windows: one end of a COM-port pair, the camera opening the other. The
// pairs are named in KORVANE_COM_PAIRS as "peer:camera,peer:camera", e.g.
// "CNCA0:CNCB0" for com0com, or COM ports that wine maps to the two ends of
// a socat pseudo-terminal pair (scripts/test-windows.sh).
#include "sim/SerialPeer.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvane::sim {

namespace {

std::vector<std::pair<std::string, std::string>> ConfiguredPairs()
{
    std::vector<std::pair<std::string, std::string>> pairs;
    const char* text = std::getenv("KORVANE_COM_PAIRS");
    std::stringstream list(text ? text : "");
    for (std::string item; std::getline(list, item, ',');) {
        const std::size_t colon = item.find(':');
        if (colon != std::string::npos) pairs.emplace_back(item.substr(0, colon), item.substr(colon + 1));
    }
    return pairs;
}

std::string DevicePath(const std::string& name) { return "\\\\.\\" + name; }

// Pairs in use by this process: one peer per pair.
std::mutex g_pairsMutex;
std::set<std::size_t> g_pairsInUse;

}  // namespace

struct CSerialPeer::Line {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::size_t pair = 0;
    ~Line()
    {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
        std::lock_guard<std::mutex> lock(g_pairsMutex);
        g_pairsInUse.erase(pair);
    }
};

CSerialPeer::CSerialPeer()
{
    const auto pairs = ConfiguredPairs();
    if (pairs.empty())
        throw std::runtime_error("no COM-port pair: set KORVANE_COM_PAIRS to peer:camera pairs (com0com, or wine "
                                 "with socat as scripts/test-windows.sh does)");
    std::lock_guard<std::mutex> lock(g_pairsMutex);
    for (std::size_t i = 0; i < pairs.size() && !m_pLine; ++i) {
        if (g_pairsInUse.count(i)) continue;
        const HANDLE handle = ::CreateFileA(DevicePath(pairs[i].first).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        g_pairsInUse.insert(i);
        m_pLine = std::make_unique<Line>();
        m_pLine->handle = handle;
        m_pLine->pair = i;
        m_strDevice = pairs[i].second;
    }
    if (!m_pLine) throw std::runtime_error("every COM-port pair in KORVANE_COM_PAIRS is taken or cannot be opened");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(m_pLine->handle, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    ::SetCommState(m_pLine->handle, &dcb);
    // What an earlier test left on the line is not ours.
    ::PurgeComm(m_pLine->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

CSerialPeer::~CSerialPeer() = default;

void CSerialPeer::Hangup()
{
    if (m_pLine->handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_pLine->handle);
    m_pLine->handle = INVALID_HANDLE_VALUE;
}

bool CSerialPeer::HangupReachesTheCamera() { return false; }

bool CSerialPeer::Send(const Bytes& bytes)
{
    if (m_pLine->handle == INVALID_HANDLE_VALUE) return false;
    // A line that nobody reads fills up: give up after a second.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 1000;
    ::SetCommTimeouts(m_pLine->handle, &timeouts);
    DWORD written = 0;
    return ::WriteFile(m_pLine->handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

long CSerialPeer::ReadSome(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout)
{
    if (m_pLine->handle == INVALID_HANDLE_VALUE) return -1;
    // Return as soon as one byte is there, or when the time is up.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout.count() > 0 ? timeout.count() : 1);
    ::SetCommTimeouts(m_pLine->handle, &timeouts);
    DWORD n = 0;
    if (!::ReadFile(m_pLine->handle, buffer, static_cast<DWORD>(size), &n, nullptr)) return -1;
    return static_cast<long>(n);
}

struct CDeviceHolder::Handle {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

CDeviceHolder::CDeviceHolder(const std::string& device) : m_pHandle(std::make_unique<Handle>())
{
    // No sharing: while this handle is open, other opens are refused.
    m_pHandle->handle =
        ::CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    m_bHolds = m_pHandle->handle != INVALID_HANDLE_VALUE;
}

CDeviceHolder::~CDeviceHolder()
{
    if (m_pHandle->handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_pHandle->handle);
}

}  // namespace korvane::sim
