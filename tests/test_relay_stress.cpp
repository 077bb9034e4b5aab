// Relayed cameras opening and closing while events stream to every port the
// relay ever heard of: no event reaches a camera once its Close or destructor
// has returned, and each open camera gets its events.
#include "ReportCollector.h"
#include "sim/RelayPeer.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

using korvane::sim::CRelayPeer;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

namespace {

// A host's reports, and how many it had when its camera's Close or destructor
// returned: any later one is late.
struct Host {
    ReportCollector reports;
    std::size_t atGone = 0;
    void Gone() { atGone = reports.Count(); }
};

}  // namespace

TEST(RelayStress, CamerasOpenAndCloseWhileEventsStream)
{
    CRelayPeer relay;
    constexpr int kWorkers = 4;
    constexpr int kRounds = 12;
    std::mutex portsMutex;
    std::set<std::uint16_t> ports;  // every event port announced so far
    std::atomic<bool> done{false};

    std::thread relayReader([&] {
        while (!done) {
            const auto datagram = relay.NextDatagram(20ms);
            if (!datagram || datagram->bytes.size() < 4 || datagram->bytes[0] != 1) continue;
            std::lock_guard<std::mutex> lock(portsMutex);
            ports.insert(CRelayPeer::EventPortOf(datagram->bytes));
        }
    });
    std::thread streamer([&] {
        while (!done) {
            std::set<std::uint16_t> targets;
            {
                std::lock_guard<std::mutex> lock(portsMutex);
                targets = ports;
            }
            for (const std::uint16_t port : targets) CRelayPeer::SendEvent(port, "APPEARS");
            std::this_thread::yield();
        }
    });

    std::mutex hostsMutex;
    std::vector<std::unique_ptr<Host>> hosts;  // outlive their cameras: late events land here
    std::atomic<int> missed{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                auto host = std::make_unique<Host>();
                {
                    CKorvane cam(MODE_NETWORK);
                    cam.SetDeviceType(DEVICE_TYPE_4);
                    cam.SetDeviceAddress(static_cast<unsigned>(w + 1));
                    cam.SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.1", 80, 9600, "", "", "");
                    host->reports.Attach(cam);
                    ASSERT_EQ(cam.Open(), 1);
                    cam.MoveLeft();
                    if (!host->reports.WaitFor(1, 3s)) ++missed;
                    if (round % 2 == 0) cam.Close();
                    if (round % 2 == 0) host->Gone();
                }
                if (round % 2 != 0) host->Gone();  // destroyed without Close
                std::lock_guard<std::mutex> lock(hostsMutex);
                hosts.push_back(std::move(host));
            }
        });
    }
    for (auto& worker : workers) worker.join();
    done = true;
    streamer.join();
    relayReader.join();

    EXPECT_EQ(missed.load(), 0);
    std::size_t late = 0;
    for (const auto& host : hosts) late += host->reports.Count() - host->atGone;
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(hosts.size(), static_cast<std::size_t>(kWorkers * kRounds));
}
