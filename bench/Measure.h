// What the benchmark measures with: latency samples and their percentiles, a
// signal that records when an awaited event arrived, and the process's own
// memory, threads and CPU time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace korvane::bench {

using Clock = std::chrono::steady_clock;

struct Samples {
    std::vector<double> micros;
    int lost = 0;
    double Percentile(double fraction) const;
    double Median() const { return Percentile(0.5); }
    double P99() const { return Percentile(0.99); }
};

// Marked by whoever sees the event (a host callback, a raw read loop); the
// time of the latest mark and the number of marks.
class CArrival {
public:
    void Mark();
    // Waits until count marks have been seen; false after the limit.
    bool WaitFor(std::uint64_t count, std::chrono::milliseconds limit);
    Clock::time_point LastAt();
    std::uint64_t Count() const { return m_count.load(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Clock::time_point m_last;
    std::atomic<std::uint64_t> m_count{0};
};

// Sends one event n times, each after the previous one arrived; the time
// from just before the send to the mark.
template <typename Send>
Samples MeasureLatency(int n, CArrival& arrival, Send send)
{
    Samples samples;
    for (int i = 0; i < n; ++i) {
        const std::uint64_t target = arrival.Count() + 1;
        const Clock::time_point start = Clock::now();
        send();
        if (!arrival.WaitFor(target, std::chrono::milliseconds(1000))) {
            ++samples.lost;
            continue;
        }
        samples.micros.push_back(std::chrono::duration<double, std::micro>(arrival.LastAt() - start).count());
    }
    return samples;
}

struct ProcessUsage {
    double rssMiB = 0;
    double heapKiB = 0;  // heap in use (allocator statistics): unlike RSS it falls when memory is freed
    int threads = 0;
    int openFiles = 0;
    double cpuSeconds = 0;  // user + system
};
ProcessUsage CurrentUsage();

// Raises the open-file limit to what the system allows (1000 cameras hold
// thousands of sockets and terminals).
void RaiseFileLimit();

}  // namespace korvane::bench
