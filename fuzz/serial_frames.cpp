// The serial receive side: bytes arrive in chunks of any size, frames are cut
// and routed to the cameras bound on the port. Every report must equal what a
// plain reading of the 7-byte rule gives, in the same order, and the bytes
// left waiting must be the same.
#include "Check.h"

#include "io/IoThread.h"
#include "report/ReportNotifier.h"
#include "serial/ComPort.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using namespace korvane;

namespace {

struct SeenReport {
    int address;
    unsigned message;
    std::vector<std::uint8_t> bytes;
    bool operator==(const SeenReport& other) const
    {
        return address == other.address && message == other.message && bytes == other.bytes;
    }
};

struct Camera {
    int address;
    std::vector<SeenReport>* seen;
    static void Notify(const unsigned char* data, int length, unsigned int message, void* context)
    {
        auto* camera = static_cast<Camera*>(context);
        camera->seen->push_back({camera->address, message, std::vector<std::uint8_t>(data, data + length)});
    }
};

// The address byte written as two lower-case hex digits and read as a
// decimal number up to the first non-digit.
int ReferenceAddress(std::uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    int value = 0;
    for (const char* c = text; *c >= '0' && *c <= '9'; ++c) value = value * 10 + (*c - '0');
    return value;
}

struct ReferenceScanner {
    std::vector<std::uint8_t> pending;
    std::vector<SeenReport> expected;

    void Feed(const std::vector<std::uint8_t>& chunk, const std::vector<bool>& bound)
    {
        pending.insert(pending.end(), chunk.begin(), chunk.end());
        while (pending.size() >= 7) {
            if (pending[0] != 0xFF) {
                pending.erase(pending.begin());
                continue;
            }
            const std::vector<std::uint8_t> frame(pending.begin(), pending.begin() + 7);
            pending.erase(pending.begin(), pending.begin() + 7);
            const int address = ReferenceAddress(frame[1]);
            if (bound[static_cast<std::size_t>(address)] && frame[5] >= 0x50 && frame[5] <= 0x57)
                expected.push_back({address, 0x8400u + (frame[5] - 0x50u), frame});
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // Which addresses have a camera: 0 to 255, so that addresses no frame
    // can name (above 99) are bound too and must stay silent.
    const auto pattern = input.ConsumeIntegral<std::uint64_t>();
    std::vector<bool> bound(256);
    for (std::size_t a = 0; a < bound.size(); ++a) bound[a] = (pattern >> (a % 64)) & 1;

    // The cameras live across inputs; each input gets a fresh port.
    static struct Cameras {
        std::shared_ptr<CIoThread> reader = std::make_shared<CIoThread>();
        std::vector<SeenReport> seen;
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
    std::vector<SeenReport>& seen = line.seen;
    auto port = std::make_shared<CComPort>(line.reader, "fuzz");
    for (std::size_t a = 0; a < bound.size(); ++a)
        if (bound[a]) FUZZ_REQUIRE(port->BindCamera(static_cast<int>(a), line.notifiers[a]), "address %zu taken twice", a);

    ReferenceScanner reference;
    while (input.remaining_bytes() > 0) {
        // A read delivers 1 to 64 bytes, as the port's receive buffer allows.
        const auto length = input.ConsumeIntegralInRange<std::size_t>(1, 64);
        const std::vector<std::uint8_t> chunk = input.ConsumeBytes<std::uint8_t>(length);
        if (chunk.empty()) break;
        port->AppendReceived(chunk.data(), chunk.size());
        port->ScanFrames();
        reference.Feed(chunk, bound);
        FUZZ_REQUIRE(port->PendingBytes() == reference.pending.size(), "%zu bytes wait, the rule leaves %zu",
                     port->PendingBytes(), reference.pending.size());
        FUZZ_REQUIRE(port->PendingBytes() < 7, "a whole frame left waiting");
        FUZZ_REQUIRE(seen.size() == reference.expected.size(), "%zu reports, the rule gives %zu", seen.size(),
                     reference.expected.size());
    }
    for (std::size_t i = 0; i < seen.size(); ++i)
        FUZZ_REQUIRE(seen[i] == reference.expected[i], "report %zu: address %d message %x, the rule gives %d %x", i,
                     seen[i].address, seen[i].message, reference.expected[i].address,
                     reference.expected[i].message);
    return 0;
}
