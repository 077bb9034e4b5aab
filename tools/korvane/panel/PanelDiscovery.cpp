#include "PanelDiscovery.h"

#include "../Discover.h"

#include <korvane/Korvane.h>

#include <chrono>

namespace korvane::tool::panel {

CPanelDiscovery::~CPanelDiscovery()
{
    if (m_thread.joinable()) m_thread.join();
}

bool CPanelDiscovery::Start(int timeoutMs, const std::string& interfaceIp, std::function<void(nlohmann::json)> done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bRunning) return false;
    m_bRunning = true;
    if (m_thread.joinable()) m_thread.join();  // the last search, already past its answer
    m_thread = std::thread([this, timeoutMs, interfaceIp, done = std::move(done)] {
        CKorvaneDiscovery finder;
        const auto start = std::chrono::steady_clock::now();
        finder.Run(timeoutMs, interfaceIp.empty() ? nullptr : interfaceIp.c_str());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        nlohmann::json answer = {{"cameras", nlohmann::json(FoundCameras(finder))},
                                 {"error", finder.Error()},
                                 {"seconds", seconds}};
        {
            std::lock_guard<std::mutex> running(m_mutex);
            m_bRunning = false;
        }
        done(std::move(answer));
    });
    return true;
}

}  // namespace korvane::tool::panel
