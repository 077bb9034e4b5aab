// "Find cameras" on the panel: the library's WS-Discovery search, which
// blocks for its whole time, on a thread of its own so that the server's
// I/O thread goes on answering. One search at a time.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace korvane::tool::panel {

class CPanelDiscovery {
public:
    CPanelDiscovery() = default;
    ~CPanelDiscovery();  // waits for a search under way (at most its time)
    CPanelDiscovery(const CPanelDiscovery&) = delete;
    CPanelDiscovery& operator=(const CPanelDiscovery&) = delete;

    // Starts a search; done gets {"cameras": [...], "error", "seconds"} on the
    // search's thread and must only hand it on. False while one runs.
    bool Start(int timeoutMs, const std::string& interfaceIp, std::function<void(nlohmann::json)> done);

private:
    std::mutex m_mutex;
    bool m_bRunning = false;
    std::thread m_thread;
};

}  // namespace korvane::tool::panel
