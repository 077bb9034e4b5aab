// Many cameras on several lines at once: binding, releasing, commanding and
// receiving together. Run under ThreadSanitizer and AddressSanitizer in CI.
#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using korvane::sim::CSerialPeer;
using namespace std::chrono_literals;

namespace {

// A camera's context; the notify function checks that no report arrives
// once Close has returned.
struct Guarded {
    std::atomic<bool> closed{false};
    std::atomic<int> received{0};
    std::atomic<int> lateReports{0};
    std::mutex mutex;
    std::condition_variable arrived;

    static void Notify(const unsigned char*, int, unsigned int, void* ctx)
    {
        auto* self = static_cast<Guarded*>(ctx);
        if (self->closed) ++self->lateReports;
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->received;
        self->arrived.notify_all();
    }

    bool WaitForReport()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, 3s, [&] { return received > 0; });
    }
};

}  // namespace

TEST(SerialStress, CamerasComeAndGoWhileReportsStream)
{
    constexpr int kLines = 3;
    constexpr int kWorkers = 4;
    constexpr int kRounds = 40;
    std::vector<std::unique_ptr<CSerialPeer>> lines;
    for (int i = 0; i < kLines; ++i) lines.push_back(std::make_unique<CSerialPeer>());

    std::atomic<bool> stop{false};
    std::atomic<int> late{0};
    std::atomic<int> delivered{0};
    std::atomic<int> missed{0};
    // Each line's peer streams return codes for addresses 1..4 and drains
    // what the cameras write, so the pseudo-terminals never fill up.
    std::vector<std::thread> peers;
    for (auto& line : lines)
        peers.emplace_back([&stop, peer = line.get()] {
            int address = 1;
            while (!stop) {
                peer->SendReturnCode(address, static_cast<std::uint8_t>(0x50 + address));
                address = address % 4 + 1;
                peer->ReadBytes(4096, 1ms);
            }
        });

    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                Guarded guard;
                const auto& device = lines[static_cast<std::size_t>((w + round) % kLines)]->DeviceName();
                auto cam = korvane::test::SerialCamera(device, static_cast<unsigned>(w + 1));
                if (!cam) continue;  // another process-wide open of this line raced us: try the next
                cam->SetRecvNotify(&Guarded::Notify, &guard);
                cam->Open();
                for (int i = 0; i < 10; ++i) {
                    cam->MoveLeft();
                    cam->CameraStop();
                }
                // Every other round stays until a report of its own came in.
                if (round % 4 < 2 && !guard.WaitForReport()) ++missed;
                if (round % 2) {
                    cam->Close();
                    guard.closed = true;
                } else {
                    cam.reset();  // destroyed without Close
                    guard.closed = true;
                }
                late += guard.lateReports;
                delivered += guard.received;
            }
        });
    for (auto& t : workers) t.join();
    stop = true;
    for (auto& t : peers) t.join();
    EXPECT_EQ(late.load(), 0) << "a report ran after Close had returned";
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(missed.load(), 0) << "an open camera got none of the reports streaming to it";
}
