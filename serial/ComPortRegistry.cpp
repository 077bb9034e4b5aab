#include "serial/ComPortRegistry.h"

#include "platform/Platform.h"
#include "io/IoService.h"
#include "io/ProcessWide.h"

#include <algorithm>
#include <chrono>
#include <future>

namespace korvane {
namespace {
// A closing port's drain.
constexpr auto kCloseLimit = std::chrono::seconds(2);
}  // namespace
}  // namespace korvane

namespace korvane {

std::shared_ptr<CComPortRegistry> CComPortRegistry::Instance() { return ProcessWide<CComPortRegistry>(); }

CComPortRegistry::CComPortRegistry() : m_pIo(CIoService::Instance()) {}

CComPortRegistry::~CComPortRegistry() = default;

bool CComPortRegistry::Idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecPorts.empty() && m_pIo->Idle();
}

std::shared_ptr<CComPort> CComPortRegistry::Acquire(const char* name, int address, const MYDCB& settings,
                                                    std::shared_ptr<CReportNotifier> camera,
                                                    boost::system::error_code& error)
{
    error = {};
    if (!name || !*name || !camera) {
        error = boost::system::errc::make_error_code(boost::system::errc::invalid_argument);
        return nullptr;
    }
    // One handle per device: a line reopened right after its last camera
    // left waits for the old handle to close (bounded; not on the I/O thread,
    // which does that close). Windows refuses a second handle only for a
    // while, wine not at all, and two handles would split what comes in.
    std::shared_ptr<CComPort> closing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ForgetClosed();
        for (const auto& port : m_vecClosing)
            if (port->Name() == name) closing = port;
    }
    if (closing && !m_pIo->Thread()->InThread() &&
        closing->Closed().wait_for(kCloseLimit) != std::future_status::ready)
        closing->CloseNow();  // its drain took too long

    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& port : m_vecPorts) {
        if (port->Name() != name) continue;
        if (!port->BindCamera(address, std::move(camera))) {
            error = boost::system::errc::make_error_code(boost::system::errc::address_in_use);
            return nullptr;
        }
        return port;
    }
    // The thread starts only for a device that opened: a failed set-up
    // leaves no thread behind for a Close to end.
    auto port = std::make_shared<CComPort>(m_pIo->Thread(), name);
    error = port->Open(settings);
    if (error) {
        platform::DebugOutput("delete CComPort\n");
        return nullptr;
    }
    if (!m_pIo->Acquire()) {
        error = boost::system::errc::make_error_code(boost::system::errc::resource_unavailable_try_again);
        return nullptr;  // the port closes with its last reference, here
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
        m_vecClosing.push_back(port);
    }
    // Outside the lock: the close runs on the I/O thread, whose callbacks may
    // themselves acquire or release.
    port->Close();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ForgetClosed();
    }
    m_pIo->Release();  // the line's use: the last one leaves nothing for an unload to wait for
}

void CComPortRegistry::ForgetClosed()
{
    m_vecClosing.erase(std::remove_if(m_vecClosing.begin(), m_vecClosing.end(),
                                      [](const std::shared_ptr<CComPort>& port) {
                                          return port->Closed().wait_for(std::chrono::seconds(0)) ==
                                                 std::future_status::ready;
                                      }),
                       m_vecClosing.end());
}

bool CComPortRegistry::StartPort(const std::shared_ptr<CComPort>& port)
{
    return port && port->StartReading();
}

}  // namespace korvane
