// The exported discovery: the library's WS-Discovery probe behind the C++
// class and the C functions. Nothing thrown inside reaches the host.
#include <korvane/Korvane.h>
#include <korvane/korvane_c.h>

#include "discovery/Discovery.h"

#include <algorithm>
#include <memory>

namespace korvane {

struct CDiscoveryResult {
    std::vector<discovery::FoundDevice> devices;
    std::string error;

    const discovery::FoundDevice* At(int index) const
    {
        return index >= 0 && static_cast<std::size_t>(index) < devices.size() ? &devices[index] : nullptr;
    }
    template <typename Field>
    const char* Text(int index, Field field) const
    {
        const discovery::FoundDevice* device = At(index);
        return device ? (device->*field).c_str() : "";
    }
};

}  // namespace korvane

using korvane::CDiscoveryResult;
using korvane::discovery::FoundDevice;

CKorvaneDiscovery::CKorvaneDiscovery()
{
    try {
        m_pResult = std::make_unique<CDiscoveryResult>();
    } catch (...) {
    }
}

CKorvaneDiscovery::~CKorvaneDiscovery() = default;

int CKorvaneDiscovery::Run(int timeoutMs, const char* interfaceIp)
{
    if (!m_pResult) return 0;
    try {
        korvane::discovery::DiscoveryOptions options;
        options.timeout = std::chrono::milliseconds(std::clamp(timeoutMs, 0, 60000));
        options.interfaceAddress = interfaceIp ? interfaceIp : "";
        m_pResult->devices = korvane::discovery::Discover(options, m_pResult->error);
    } catch (...) {
        m_pResult->devices.clear();
        m_pResult->error = "out of memory";
    }
    return Count();
}

int CKorvaneDiscovery::Count() const { return m_pResult ? static_cast<int>(m_pResult->devices.size()) : 0; }
const char* CKorvaneDiscovery::Error() const { return m_pResult ? m_pResult->error.c_str() : "out of memory"; }
const char* CKorvaneDiscovery::Address(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::address) : ""; }
const char* CKorvaneDiscovery::Scheme(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::scheme) : ""; }
const char* CKorvaneDiscovery::Host(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::host) : ""; }
const char* CKorvaneDiscovery::Name(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::name) : ""; }
const char* CKorvaneDiscovery::Hardware(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::hardware) : ""; }
const char* CKorvaneDiscovery::Endpoint(int i) const { return m_pResult ? m_pResult->Text(i, &FoundDevice::endpoint) : ""; }

int CKorvaneDiscovery::Port(int i) const
{
    const FoundDevice* device = m_pResult ? m_pResult->At(i) : nullptr;
    return device ? static_cast<int>(device->port) : 0;
}

double CKorvaneDiscovery::AnsweredAfter(int i) const
{
    const FoundDevice* device = m_pResult ? m_pResult->At(i) : nullptr;
    return device ? std::chrono::duration<double>(device->after).count() : 0.0;
}

bool CKorvaneDiscovery::Ptz(int i) const
{
    const FoundDevice* device = m_pResult ? m_pResult->At(i) : nullptr;
    return device && device->ptz;
}

struct korvane_discovery {
    CKorvaneDiscovery finder;
};

extern "C" {

korvane_discovery* KORVANE_CALL korvane_discover(std::int32_t timeout_ms, const char* interface_ip)
{
    try {
        auto found = std::make_unique<korvane_discovery>();
        found->finder.Run(timeout_ms, interface_ip);
        return found.release();  // the host's until korvane_discovery_free
    } catch (...) {
        return nullptr;
    }
}

void KORVANE_CALL korvane_discovery_free(korvane_discovery* found) { std::unique_ptr<korvane_discovery> owned(found); }

std::int32_t KORVANE_CALL korvane_discovery_count(const korvane_discovery* found)
{
    return found ? found->finder.Count() : 0;
}

const char* KORVANE_CALL korvane_discovery_error(const korvane_discovery* found)
{
    return found ? found->finder.Error() : "";
}

#define KORVANE_DISCOVERY_TEXT(name, Field)                                                   \
    const char* KORVANE_CALL name(const korvane_discovery* found, std::int32_t index)         \
    {                                                                                         \
        return found ? found->finder.Field(index) : "";                                       \
    }

KORVANE_DISCOVERY_TEXT(korvane_discovery_address, Address)
KORVANE_DISCOVERY_TEXT(korvane_discovery_scheme, Scheme)
KORVANE_DISCOVERY_TEXT(korvane_discovery_host, Host)
KORVANE_DISCOVERY_TEXT(korvane_discovery_name, Name)
KORVANE_DISCOVERY_TEXT(korvane_discovery_hardware, Hardware)
KORVANE_DISCOVERY_TEXT(korvane_discovery_endpoint, Endpoint)

#undef KORVANE_DISCOVERY_TEXT

std::int32_t KORVANE_CALL korvane_discovery_port(const korvane_discovery* found, std::int32_t index)
{
    return found ? found->finder.Port(index) : 0;
}

std::int32_t KORVANE_CALL korvane_discovery_ptz(const korvane_discovery* found, std::int32_t index)
{
    return found && found->finder.Ptz(index) ? 1 : 0;
}

}  // extern "C"
