#include "Process.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

namespace korvane::platform {

std::vector<int> StopSignals() { return {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}; }

namespace {

std::atomic<bool> g_bWatched{false};
std::atomic<int> g_nKept{0};

sigset_t StopSet()
{
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : StopSignals()) sigaddset(&stops, signal);
    return stops;
}

// Nobody watches: the signal has its inherited effect. Ignored stays
// ignored; otherwise it ends the process as it would have.
void Inherited(int number, const std::vector<int>& ignored)
{
    if (std::find(ignored.begin(), ignored.end(), number) != ignored.end()) return;
    ::signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(number);
}

}  // namespace

void HoldStopSignals()
{
    const sigset_t stops = StopSet();
    // Every thread started from now on inherits the block: only the taker sees them.
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::vector<int> ignored;
    for (const int signal : StopSignals()) {
        struct sigaction now {};
        if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) ignored.push_back(signal);
    }
    // Blocked in it too, so a signal waits in the kernel until it is taken.
    std::thread([stops, ignored] {
        for (;;) {
            int number = 0;
            if (::sigwait(&stops, &number) != 0) continue;
            if (g_bWatched.load()) g_nKept.store(number);
            else Inherited(number, ignored);
        }
    }).detach();
}

void WatchStopSignals(bool watch)
{
    if (watch) g_nKept.store(0);
    g_bWatched.store(watch);
}

int TakeStopSignal() { return g_nKept.exchange(0); }

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool WriteStandardOutput(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadableByOthers(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

void RestrictToOwner(const std::string& path) { ::chmod(path.c_str(), S_IRUSR | S_IWUSR); }

std::vector<Ipv4Interface> Ipv4Interfaces()
{
    std::vector<Ipv4Interface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* each = list; each; each = each->ifa_next) {
        if (!each->ifa_addr || each->ifa_addr->sa_family != AF_INET || !(each->ifa_flags & IFF_UP)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(each->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) found.push_back({each->ifa_name, text});
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace korvane::platform
