#include "Measure.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>

namespace korvane::bench {

double Samples::Percentile(double fraction) const
{
    if (micros.empty()) return 0;
    std::vector<double> sorted(micros);
    std::sort(sorted.begin(), sorted.end());
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

void CArrival::Mark()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = Clock::now();
        ++m_count;
    }
    m_changed.notify_all();
}

bool CArrival::WaitFor(std::uint64_t count, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_count.load() >= count; });
}

Clock::time_point CArrival::LastAt()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

namespace {

int CountEntries(const char* folder)
{
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

}  // namespace

ProcessUsage CurrentUsage()
{
    ProcessUsage usage;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kib = 0;
            status >> kib;
            usage.rssMiB = kib / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    const struct mallinfo2 heap = ::mallinfo2();
    usage.heapKiB = static_cast<double>(heap.uordblks + heap.hblkhd) / 1024.0;
    usage.threads = CountEntries("/proc/self/task");
    usage.openFiles = CountEntries("/proc/self/fd");
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    usage.cpuSeconds = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                       static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    return usage;
}

void RaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace korvane::bench
