// Many cameras on several lines at once: binding, releasing, commanding and
// receiving together. Run under ThreadSanitizer and AddressSanitizer in CI.
#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

TEST(SerialStress, CamerasComeAndGoWhileReportsStream)
{
    constexpr int kLines = 3;
    constexpr int kWorkers = 4;
    constexpr int kRounds = 40;
    std::vector<std::unique_ptr<CSerialPeer>> lines;
    for (int i = 0; i < kLines; ++i) lines.push_back(std::make_unique<CSerialPeer>());

    std::atomic<bool> stop{false};
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

    // Each camera's reports outlive it: late ones land there. How many it had
    // when its Close or destructor returned: any later one is late.
    std::vector<ReportCollector> reports(kWorkers * kRounds);
    std::vector<std::size_t> atGone(reports.size());
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                ReportCollector& got = reports[static_cast<std::size_t>(w * kRounds + round)];
                const auto& device = lines[static_cast<std::size_t>((w + round) % kLines)]->DeviceName();
                auto cam = korvane::test::SerialCamera(device, static_cast<unsigned>(w + 1), &got);
                if (!cam) continue;  // another process-wide open of this line raced us: try the next
                cam->Open();
                for (int i = 0; i < 10; ++i) {
                    cam->MoveLeft();
                    cam->CameraStop();
                }
                // Every other round stays until a report of its own came in.
                if (round % 4 < 2 && !got.WaitFor(1, 3s)) ++missed;
                if (round % 2)
                    cam->Close();
                else
                    cam.reset();  // destroyed without Close
                atGone[static_cast<std::size_t>(w * kRounds + round)] = got.Count();
            }
        });
    for (auto& t : workers) t.join();
    stop = true;
    for (auto& t : peers) t.join();
    std::size_t late = 0, delivered = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        late += reports[i].Count() - atGone[i];
        delivered += reports[i].Count();
    }
    EXPECT_EQ(late, 0u) << "a report ran after Close had returned";
    EXPECT_GT(delivered, 0u);
    EXPECT_EQ(missed.load(), 0) << "an open camera got none of the reports streaming to it";
}
