// Report throughput: frames per second that the one serial receive thread
// delivers from 1, 8 and 32 lines (and how many it lost), and datagrams per
// second through the tracking service, each against one raw reader thread.
#include "Cameras.h"
#include "RawLinks.h"
#include "Sections.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"

#include <unistd.h>

#include <functional>

namespace korvane::bench {

namespace {

constexpr std::uint64_t kSerialFrames = 96000;
constexpr std::uint64_t kDatagrams = 40000;
constexpr std::uint64_t kWindow = 64;  // datagrams in flight at most: within one socket buffer
constexpr double kTargetFps = 53000;    // 32 lines at 115200 baud, 7-byte frames
const sim::Bytes kAppearsReport = sim::CTrackingPeer::Report(1, 1);

sim::Bytes FrameBurst(std::size_t frames)
{
    sim::Bytes burst;
    const sim::Bytes appears = sim::ReturnCodeFrame(1, 0x50);
    for (std::size_t i = 0; i < frames; ++i) burst.insert(burst.end(), appears.begin(), appears.end());
    return burst;
}

struct Rate {
    double perSecond = 0;
    std::uint64_t lost = 0;
};

// Starts one writer per line, each writing its share in bursts; counts the
// marks until all arrived (or the wait gave up).
Rate RunLines(std::size_t lines, CArrival& arrival, const std::function<void(std::size_t, const sim::Bytes&)>& write)
{
    const std::uint64_t perLine = kSerialFrames / lines;
    const sim::Bytes burst = FrameBurst(64);
    const std::uint64_t before = arrival.Count();
    const auto start = Clock::now();
    std::vector<std::thread> writers;
    for (std::size_t line = 0; line < lines; ++line)
        writers.emplace_back([&, line] {
            for (std::uint64_t sent = 0; sent < perLine; sent += 64) write(line, burst);
        });
    for (auto& writer : writers) writer.join();
    const std::uint64_t expected = before + (perLine + 63) / 64 * 64 * lines;
    arrival.WaitFor(expected, std::chrono::seconds(20));
    const double seconds = std::chrono::duration<double>(arrival.LastAt() - start).count();
    const std::uint64_t got = arrival.Count() - before;
    return Rate{static_cast<double>(got) / seconds, expected - before - got};
}

template <typename Send>
Rate RunWindowed(CArrival& arrival, Send send)
{
    const std::uint64_t before = arrival.Count();
    const auto start = Clock::now();
    for (std::uint64_t sent = 0; sent < kDatagrams; ++sent) {
        if (sent >= kWindow && !arrival.WaitFor(before + sent - kWindow + 1, std::chrono::seconds(1))) break;
        send();
    }
    arrival.WaitFor(before + kDatagrams, std::chrono::seconds(2));
    const double seconds = std::chrono::duration<double>(arrival.LastAt() - start).count();
    const std::uint64_t got = arrival.Count() - before;
    return Rate{static_cast<double>(got) / seconds, kDatagrams - got};
}

}  // namespace

void ReportThroughput(CReport& report)
{
    report.Section("3. report throughput");
    for (const std::size_t lines : {std::size_t{1}, std::size_t{8}, std::size_t{32}}) {
        Rate raw;
        {
            std::vector<std::unique_ptr<CRawPty>> ptys;
            std::vector<int> slaves;
            for (std::size_t i = 0; i < lines; ++i) {
                ptys.push_back(std::make_unique<CRawPty>());
                slaves.push_back(ptys.back()->slave);
            }
            CArrival arrival;
            CRawFrameReader reader(slaves, arrival);
            raw = RunLines(lines, arrival, [&](std::size_t line, const sim::Bytes& burst) {
                std::size_t done = 0;
                while (done < burst.size()) {
                    const ssize_t n = ::write(ptys[line]->master, burst.data() + done, burst.size() - done);
                    if (n <= 0) return;
                    done += static_cast<std::size_t>(n);
                }
            });
        }
        Rate library;
        {
            std::vector<std::unique_ptr<sim::CSerialPeer>> peers;
            std::vector<std::unique_ptr<CKorvane>> cameras;
            CArrival arrival;
            for (std::size_t i = 0; i < lines; ++i) {
                peers.push_back(std::make_unique<sim::CSerialPeer>());
                cameras.push_back(OpenSerialCamera(peers.back()->DeviceName(), 1, &arrival));
                if (!cameras.back()) throw std::runtime_error("serial camera for the throughput");
            }
            library = RunLines(lines, arrival,
                               [&](std::size_t line, const sim::Bytes& burst) { peers[line]->Send(burst); });
        }
        const bool target = lines == 32;
        report.Add(Figure{"serial frames/s over " + std::to_string(lines) + " line(s)", library.perSecond,
                          raw.perSecond, "frames/s", target ? ">= 53000, 0 lost" : "0 lost",
                          library.lost == 0 && (!target || library.perSecond >= kTargetFps),
                          std::to_string(library.lost) + " lost"});
    }
    Rate raw;
    {
        CArrival arrival;
        CRawUdpReceiver receiver(arrival);
        CRawUdpSender sender;
        raw = RunWindowed(arrival, [&] { sender.Send(receiver.Port(), kAppearsReport.data(), kAppearsReport.size()); });
    }
    Rate library;
    {
        sim::CTrackingPeer peer;
        CArrival arrival;
        auto camera = OpenTrackingCamera(peer.Port(), 1, &arrival);
        if (!camera) throw std::runtime_error("tracking camera for the throughput (is UDP port 10000 free?)");
        CRawUdpSender sender;
        library = RunWindowed(arrival, [&] { sender.Send(10000, kAppearsReport.data(), kAppearsReport.size()); });
    }
    report.Add(Figure{"tracking datagrams/s (64 in flight)", library.perSecond, raw.perSecond, "datagrams/s",
                      "0 lost", library.lost == 0, std::to_string(library.lost) + " lost"});
}

}  // namespace korvane::bench
