// Datagrams from the tracking system: only AA 50 02 <address> <state>, five
// bytes, with state 0 or 1, reaches the camera registered under the address
// (packed decimal, every byte from 0x80 up meaning camera 0), whole.
#include "Check.h"

#include "io/IoThread.h"
#include "report/ReportNotifier.h"
#include "tracking/UdpService.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <memory>
#include <vector>

using namespace korvane;

namespace {

struct Report {
    int address;
    unsigned message;
    std::vector<std::uint8_t> bytes;
};

struct Camera {
    int address;
    std::vector<Report>* seen;
    static void Notify(const unsigned char* data, int length, unsigned int message, void* context)
    {
        auto* camera = static_cast<Camera*>(context);
        camera->seen->push_back({camera->address, message, std::vector<std::uint8_t>(data, data + length)});
    }
};

int ReferenceAddress(std::uint8_t byte)
{
    if (byte >= 0x80) return 0;  // read as a signed byte: negative
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    int value = 0;
    for (const char* c = text; *c >= '0' && *c <= '9'; ++c) value = value * 10 + (*c - '0');
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto pattern = input.ConsumeIntegral<std::uint64_t>();
    std::vector<bool> bound(256);
    for (std::size_t a = 0; a < bound.size(); ++a) bound[a] = (pattern >> (a % 64)) & 1;

    // The cameras live across inputs; each input gets a fresh service.
    static struct Cameras {
        std::shared_ptr<CIoThread> io = std::make_shared<CIoThread>();
        std::vector<Report> seen;
        std::vector<Camera> cameras;
        std::vector<std::shared_ptr<CReportNotifier>> notifiers;
        Cameras()
        {
            for (int a = 0; a < 256; ++a) cameras.push_back({a, &seen});
            for (Camera& camera : cameras) {
                notifiers.push_back(std::make_shared<CReportNotifier>());
                notifiers.back()->Set(&Camera::Notify, &camera);
            }
        }
    } line;
    line.seen.clear();
    std::vector<Report>& seen = line.seen;
    auto service = std::make_shared<CUdpService>(line.io, 0);  // never started: datagrams are handed in
    for (std::size_t a = 0; a < bound.size(); ++a)
        if (bound[a]) FUZZ_REQUIRE(service->Attach(static_cast<int>(a), line.notifiers[a]), "address %zu taken twice", a);

    const boost::asio::ip::udp::endpoint from(boost::asio::ip::make_address_v4("192.0.2.7"), 10000);
    while (input.remaining_bytes() > 0) {
        const auto length = input.ConsumeIntegralInRange<std::size_t>(0, 2048);
        const std::vector<std::uint8_t> datagram = input.ConsumeBytes<std::uint8_t>(length);
        const std::size_t before = seen.size();
        service->HandleDatagram(datagram.data(), datagram.size(), from);

        const bool report = datagram.size() == 5 && datagram[0] == 0xAA && datagram[1] == 0x50 &&
                            datagram[2] == 0x02 && datagram[4] <= 1 && bound[ReferenceAddress(datagram[3])];
        FUZZ_REQUIRE(seen.size() == before + (report ? 1 : 0), "%zu reports for a datagram of %zu bytes",
                     seen.size() - before, datagram.size());
        if (!report) continue;
        const Report& got = seen.back();
        FUZZ_REQUIRE(got.address == ReferenceAddress(datagram[3]), "camera %d got the report for %d", got.address,
                     ReferenceAddress(datagram[3]));
        FUZZ_REQUIRE(got.message == (datagram[4] == 1 ? 0x8400u : 0x8401u), "message %x for state %d", got.message,
                     datagram[4]);
        FUZZ_REQUIRE(got.bytes == datagram, "the host got other bytes than the datagram");
    }
    return 0;
}
