// Relayed cameras opening and closing while events stream to every port the
// relay ever heard of: no event reaches a camera once its Close or destructor
// has returned, and each open camera gets its events.
#include "sim/RelayPeer.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

using korvane::sim::CRelayPeer;
using namespace std::chrono_literals;

namespace {

struct Host {
    std::mutex mutex;
    std::condition_variable changed;
    int events = 0;
    bool gone = false;  // set once Close or the destructor has returned
    int late = 0;       // events after that

    static void Notify(const unsigned char*, int, unsigned int, void* context)
    {
        auto* self = static_cast<Host*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (self->gone) ++self->late;
        ++self->events;
        self->changed.notify_all();
    }

    bool WaitForEvent()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 3s, [&] { return events > 0; });
    }

    void Gone()
    {
        std::lock_guard<std::mutex> lock(mutex);
        gone = true;
    }
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
                    cam.SetRecvNotify(&Host::Notify, host.get());
                    ASSERT_EQ(cam.Open(), 1);
                    cam.MoveLeft();
                    if (!host->WaitForEvent()) ++missed;
                    if (round % 2 == 0) {
                        cam.Close();
                        host->Gone();
                    }
                }
                host->Gone();  // destroyed, with or without Close
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
    int late = 0;
    for (const auto& host : hosts) {
        std::lock_guard<std::mutex> lock(host->mutex);
        late += host->late;
    }
    EXPECT_EQ(late, 0);
    EXPECT_EQ(hosts.size(), static_cast<std::size_t>(kWorkers * kRounds));
}
