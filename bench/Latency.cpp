// Report latency: bytes written at the far end until the host callback runs,
// against a raw blocking read on the same kind of link.
#include "Cameras.h"
#include "RawLinks.h"
#include "Sections.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"

#include <unistd.h>

#include <cstring>

namespace korvane::bench {

namespace {

constexpr int kSamples = 2000;
// "Target appears" for camera 1: on the serial line and from the tracking system.
const sim::Bytes kAppearsFrame = sim::ReturnCodeFrame(1, 0x50);
const sim::Bytes kAppearsReport = sim::CTrackingPeer::Report(1, 1);

void AddLatency(CReport& report, const std::string& name, const Samples& library, const Samples& raw)
{
    const bool met = library.Median() <= raw.Median() + 100.0;
    report.Add(Figure{name + " median", library.Median(), raw.Median(), "us", "<= raw + 100us", met,
                      library.lost ? std::to_string(library.lost) + " lost" : ""});
    report.Add(Figure{name + " p99", library.P99(), raw.P99(), "us", "", true, ""});
}

}  // namespace

void ReportLatency(CReport& report)
{
    report.Section("2. report latency (far end writes -> callback runs)");
    Samples rawPty;
    {
        CRawPty pty;
        CArrival arrival;
        CRawFrameReader reader({pty.slave}, arrival);
        rawPty = MeasureLatency(kSamples, arrival, [&] { (void)::write(pty.master, kAppearsFrame.data(), kAppearsFrame.size()); });
    }
    Samples serial;
    {
        sim::CSerialPeer peer;
        CArrival arrival;
        auto camera = OpenSerialCamera(peer.DeviceName(), 1, &arrival);
        if (!camera) throw std::runtime_error("serial camera for the latency");
        serial = MeasureLatency(kSamples, arrival, [&] { peer.Send(kAppearsFrame); });
    }
    AddLatency(report, "serial report vs raw read()", serial, rawPty);

    Samples rawUdp;
    {
        CArrival arrival;
        CRawUdpReceiver receiver(arrival);
        CRawUdpSender sender;
        rawUdp = MeasureLatency(kSamples, arrival, [&] { sender.Send(receiver.Port(), kAppearsReport.data(), kAppearsReport.size()); });
    }
    Samples tracking;
    {
        sim::CTrackingPeer peer;
        CArrival arrival;
        auto camera = OpenTrackingCamera(peer.Port(), 1, &arrival);
        if (!camera) throw std::runtime_error("tracking camera for the latency (is UDP port 10000 free?)");
        CRawUdpSender sender;
        tracking = MeasureLatency(kSamples, arrival, [&] { sender.Send(10000, kAppearsReport.data(), kAppearsReport.size()); });
    }
    AddLatency(report, "tracking report vs raw recvfrom()", tracking, rawUdp);

    Samples relayed;
    {
        sim::CRelayPeer relay;
        CArrival arrival;
        auto camera = OpenRelayCamera(1, &arrival);
        const auto request = relay.NextOfKind(1, std::chrono::seconds(2));
        if (!camera || !request) throw std::runtime_error("relayed camera for the latency (is port 20715 free?)");
        const std::uint16_t eventPort = sim::CRelayPeer::EventPortOf(request->bytes);
        CRawUdpSender sender;
        relayed = MeasureLatency(kSamples, arrival, [&] { sender.Send(eventPort, "APPEARS", 7); });
    }
    AddLatency(report, "relayed APPEARS vs raw recvfrom()", relayed, rawUdp);
}

}  // namespace korvane::bench
