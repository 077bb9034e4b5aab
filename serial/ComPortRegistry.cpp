#include "serial/ComPortRegistry.h"

#include "platform/Platform.h"
#include "io/IoThread.h"
#include "io/ProcessWide.h"

#include <algorithm>

namespace korvane {

std::shared_ptr<CComPortRegistry> CComPortRegistry::Instance() { return ProcessWide<CComPortRegistry>(); }

CComPortRegistry::CComPortRegistry() : m_pReader(std::make_shared<CIoThread>()) {}

CComPortRegistry::~CComPortRegistry() { Shutdown(); }

void CComPortRegistry::Shutdown() { m_pReader->Stop(); }

std::shared_ptr<CComPort> CComPortRegistry::Acquire(const char* name, int address, const MYDCB& settings,
                                                    std::shared_ptr<CReportNotifier> camera,
                                                    boost::system::error_code& error)
{
    error = {};
    if (!name || !*name || !camera) {
        error = boost::system::errc::make_error_code(boost::system::errc::invalid_argument);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& port : m_vecPorts) {
        if (port->Name() != name) continue;
        if (!port->BindCamera(address, std::move(camera))) {
            error = boost::system::errc::make_error_code(boost::system::errc::address_in_use);
            return nullptr;
        }
        return port;
    }
    if (!m_pReader->Start()) {
        error = boost::system::errc::make_error_code(boost::system::errc::resource_unavailable_try_again);
        return nullptr;
    }
    auto port = std::make_shared<CComPort>(m_pReader, name);
    error = port->Open(settings);
    if (error) {
        platform::DebugOutput("delete CComPort\n");
        return nullptr;
    }
    port->BindCamera(address, std::move(camera));
    m_vecPorts.push_back(port);
    return port;
}

void CComPortRegistry::Release(const std::shared_ptr<CComPort>& port, int address)
{
    if (!port) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = std::find(m_vecPorts.begin(), m_vecPorts.end(), port);
        if (found == m_vecPorts.end()) return;
        if (!port->UnbindCamera(address)) return;
        m_vecPorts.erase(found);
    }
    // Outside the lock: the close runs on the I/O thread, whose callbacks may
    // themselves acquire or release.
    port->Close();
}

bool CComPortRegistry::StartPort(const std::shared_ptr<CComPort>& port)
{
    return port && port->StartReading();
}

}  // namespace korvane
