// VISCA over IP against the simulated camera: what a drive costs through the
// link (datagram out, ACK and completion back, sequence and resend bookkeeping)
// against the same datagrams sent with raw send() and their answers read with
// raw recv() on a socket connected to the same camera.
#include "Measure.h"
#include "Sections.h"
#include "netcam/ViscaIpLink.h"
#include "sim/ViscaIpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

namespace korvane::bench {

namespace {

constexpr int kRounds = 2000;
constexpr int kWarmUp = 100;  // rounds not measured, on both sides
const Frame kDrives[2] = {{0x81, 0x01, 0x06, 0x01, 0x0D, 0x01, 0x01, 0x03, 0xFF},   // left
                          {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x03, 0x03, 0xFF}};  // stop

double Micros(Clock::time_point since) { return std::chrono::duration<double, std::micro>(Clock::now() - since).count(); }

// Raw: RESET, then each drive with the next sequence number, reading replies
// until its completion.
Samples RawRounds(std::uint16_t port, double& cpuSeconds)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    camera.sin_port = htons(port);
    const timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&camera), sizeof camera) != 0) throw std::runtime_error("connect");
    std::vector<Frame> datagrams{ViscaIpReset(0)};
    for (std::uint32_t i = 0; i < kWarmUp + kRounds; ++i) datagrams.push_back(ViscaIpDatagram(viscaip::kCommand, i + 1, kDrives[i % 2]));
    std::uint8_t reply[64];
    // Sends a drive and reads its replies up to the completion (90 51 FF).
    const auto exchange = [&](const Frame& datagram) {
        ::send(fd, datagram.data(), datagram.size(), 0);
        for (;;) {
            const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
            if (n <= 0) return false;
            if (n == 11 && reply[9] == 0x51) return true;
        }
    };
    ::send(fd, datagrams[0].data(), datagrams[0].size(), 0);
    if (::recv(fd, reply, sizeof reply, 0) != 9 || reply[1] != 0x01) throw std::runtime_error("no RESET reply");
    for (int i = 1; i <= kWarmUp; ++i) exchange(datagrams[static_cast<std::size_t>(i)]);
    Samples samples;
    const double cpuBefore = CurrentUsage().cpuSeconds;
    for (int i = kWarmUp + 1; i <= kWarmUp + kRounds; ++i) {
        const auto start = Clock::now();
        if (exchange(datagrams[static_cast<std::size_t>(i)])) samples.micros.push_back(Micros(start));
        else ++samples.lost;
    }
    cpuSeconds = CurrentUsage().cpuSeconds - cpuBefore;
    ::close(fd);
    return samples;
}

}  // namespace

void ViscaIpRoundTrip(CReport& report)
{
    report.Section("8. VISCA over IP (drive: ACK + completion, simulated camera)");
    double libraryCpu = 0, rawCpu = 0;
    Samples library, raw;
    {
        sim::CViscaIpPeer camera(0);
        CViscaIpLink link;
        const ViscaIpResult opened = link.Open("127.0.0.1", camera.Port());
        if (!opened.ok) throw std::runtime_error("VISCA-over-IP camera: " + opened.reason);
        for (int i = 0; i < kWarmUp; ++i) link.Send(kDrives[i % 2]);
        const double cpuBefore = CurrentUsage().cpuSeconds;
        for (int i = 0; i < kRounds; ++i) {
            const auto start = Clock::now();
            if (link.Send(kDrives[i % 2]).ok) library.micros.push_back(Micros(start));
            else ++library.lost;
        }
        libraryCpu = CurrentUsage().cpuSeconds - cpuBefore;
    }
    {
        sim::CViscaIpPeer camera(0);
        raw = RawRounds(camera.Port(), rawCpu);
    }
    if (library.micros.empty() || raw.micros.empty()) throw std::runtime_error("VISCA-over-IP rounds lost");
    const auto add = [&](const char* name, double value, double baseline, const char* unit) {
        report.Add(Figure{name, value, baseline, unit, "<= 2x raw", value <= 2 * baseline,
                          library.lost + raw.lost ? "rounds lost" : ""});
    };
    add("drive round trip median", library.Median(), raw.Median(), "us");
    add("drive round trip p99", library.P99(), raw.P99(), "us");
    // CPU per command, the simulated camera's share included on both sides.
    add("drive command cost (CPU)", 1e6 * libraryCpu / kRounds, 1e6 * rawCpu / kRounds, "us/call");
}

}  // namespace korvane::bench
