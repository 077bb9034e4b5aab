#include "Panel.h"
#include "PanelRun.h"

#include "platform/Process.h"
#include "sim/FrameDecoder.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/TrackingPeer.h"
#ifndef _WIN32
#include "sim/SerialPeer.h"
#endif

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

namespace korvane::tool {

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// The peers' own threads: each prints what reaches its peer and, on a
// schedule, sends reports as the tracking system would.
class CPeerThreads {
public:
    ~CPeerThreads()
    {
        m_bStop = true;
        for (std::thread& thread : m_threads) thread.join();
    }
    // poll: waits up to 100 ms for one arrival and prints it; report: sends one
    // report (true appears, false disappears).
    void Add(std::function<void()> poll, std::function<void(bool)> report, std::optional<std::chrono::milliseconds> every)
    {
        m_threads.emplace_back([this, poll = std::move(poll), report = std::move(report), every] {
            auto next = std::chrono::steady_clock::now() + (every ? *every : 0ms);
            bool appears = true;
            while (!m_bStop) {
                poll();
                if (every && std::chrono::steady_clock::now() >= next) {
                    report(appears);
                    appears = !appears;
                    next += *every;
                }
            }
        });
    }

private:
    std::atomic<bool> m_bStop{false};
    std::vector<std::thread> m_threads;
};

std::string TempCameraFile()
{
    std::random_device random;
    return (std::filesystem::temp_directory_path() / ("korvane-demo-cameras-" + std::to_string(random()) + ".json"))
        .string();
}

}  // namespace

int RunPanelDemo(const std::vector<std::string>& args)
{
    panel::PanelArgs parsed = panel::ParsePanelArgs(args, false);
    if (!parsed.every) parsed.every = 10s;
    COutput output{COutput::Queued{}};
    const auto say = [&output](const std::string& peer, const std::string& text) {
        output.Line(ClockTime() + "  [" + peer + " peer] " + text);
    };
    json cameras = json::array();

    // Declared before the threads that use them, so that they outlive them.
#ifndef _WIN32
    sim::CSerialPeer serial;
#endif
    sim::CTrackingPeer tracking;
    std::unique_ptr<sim::CRelayPeer> relay;
    try {
        relay = std::make_unique<sim::CRelayPeer>();
    } catch (const std::exception& error) {
        output.Line("no relayed camera: UDP 127.0.0.1:20715 is taken (" + std::string(error.what()) + ")");
    }
    sim::COnvifCamera onvif;
    std::mutex relayMutex;  // the relay's event ports
    std::set<std::uint16_t> eventPorts;

    CPeerThreads peers;
#ifndef _WIN32
    cameras.push_back({{"name", "podium"}, {"mode", "serial"}, {"device", serial.DeviceName()}, {"baud", 9600},
                       {"protocol", "pelco-d"}, {"address", 1}});
    cameras.push_back({{"name", "board"}, {"mode", "serial"}, {"device", serial.DeviceName()}, {"baud", 9600},
                       {"protocol", "pelco-d"}, {"address", 2}, {"pan_speed", 20}, {"tilt_speed", 20}});
    peers.Add([&] { if (auto frame = serial.NextFrame(100ms)) say("serial", sim::DescribeFrame(*frame) + "  (" + sim::HexBytes(*frame) + ")"); },
              [&](bool appears) {
                  serial.SendReturnCode(1, appears ? 0x50 : 0x51);
                  say("serial", std::string("sent ") + (appears ? "target appears" : "target disappears") + " for address 1");
              },
              parsed.every);
#endif
    cameras.push_back({{"name", "room"}, {"mode", "onvif"}, {"host", "127.0.0.1"}, {"port", onvif.Port()},
                       {"user", "admin"}, {"password", "secret"}});
    peers.Add([&] { if (auto request = onvif.NextRequest(100ms)) say("onvif", sim::COnvifCamera::Describe(*request)); },
              [](bool) {}, std::nullopt);
    cameras.push_back({{"name", "desk"}, {"mode", "tracking"}, {"host", "127.0.0.1"}, {"port", tracking.Port()},
                       {"protocol", "pelco-d"}, {"address", 1}});
    peers.Add([&] { if (auto datagram = tracking.NextDatagram(100ms)) say("tracking", sim::DescribeFrame(*datagram)); },
              [&](bool appears) {
                  tracking.SendReport(1, appears ? 1 : 0);
                  say("tracking", std::string("sent ") + (appears ? "target appears" : "target disappears") + " for address 1");
              },
              parsed.every);
    if (relay) {
        cameras.push_back({{"name", "side"}, {"mode", "relay4"}, {"host", "127.0.0.1"}, {"port", 80},
                           {"protocol", "pelco-d"}, {"address", 3}});
        peers.Add(
            [&] {
                const auto datagram = relay->NextDatagram(100ms);
                if (!datagram) return;
                say("relay", sim::CRelayPeer::Describe(datagram->bytes));
                const std::uint16_t port = sim::CRelayPeer::EventPortOf(datagram->bytes);
                std::lock_guard<std::mutex> lock(relayMutex);
                if (!datagram->bytes.empty() && datagram->bytes[0] == 1 && port) eventPorts.insert(port);
                if (!datagram->bytes.empty() && datagram->bytes[0] == 3) eventPorts.erase(port);
            },
            [&](bool appears) {
                std::lock_guard<std::mutex> lock(relayMutex);
                for (const std::uint16_t port : eventPorts) {
                    sim::CRelayPeer::SendEvent(port, appears ? "APPEARS" : "DISAPPEARS");
                    say("relay", std::string("sent ") + (appears ? "APPEARS" : "DISAPPEARS") + " to event port " +
                                     std::to_string(port));
                }
            },
            parsed.every);
    }

    const std::string path = TempCameraFile();
    {
        std::ofstream file(path);
        // It holds the simulated camera's password: for the user alone, before a byte is in it.
        platform::RestrictToOwner(path);
        file << json{{"cameras", cameras}}.dump(2) << "\n";
        if (!file) throw RunError("cannot write the demo's camera file " + path);
    }
    output.Line("korvane demo --panel: simulated peers running; their camera file is " + path);
    int result = 0;
    try {
        result = panel::Serve(parsed, LoadCameraFile(path), output, path);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw;
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return result;
}

}  // namespace korvane::tool
