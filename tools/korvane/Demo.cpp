#include "Demo.h"

#include "Camera.h"
#include "CommandLine.h"
#include "sim/FrameDecoder.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/TrackingPeer.h"
#include "sim/SerialPeer.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace korvane::tool {

using namespace std::chrono_literals;

const char* const kDemoHelp =
    "usage: korvane demo [--panel]\n"
    "\n"
    "Starts the simulated peers on this machine (a serial line on a pseudo-terminal,\n"
    "a tracking system and the relay service on UDP 127.0.0.1, an ONVIF camera on\n"
    "HTTP 127.0.0.1) and drives one camera in each mode through moves, zoom,\n"
    "presets and track on/off. Shows what the host called, what arrived at each\n"
    "peer and which reports came back, then one summary line per mode.\n"
    "Needs UDP ports 10000 and 20715 free. Exit code 0 when everything arrived.\n"
    "\n"
    "korvane demo --panel [--listen ADDR:PORT] [--every DURATION] starts the same\n"
    "peers with a ready camera file and serves the panel on them (korvane help panel).\n";

namespace {

struct Step {
    const char* call;
    std::function<int(CKorvane&)> run;
};

const std::vector<Step>& Script()
{
    static const std::vector<Step> script = {
        {"MoveLeft()", [](CKorvane& c) { return c.MoveLeft(); }},
        {"MoveTopRight()", [](CKorvane& c) { return c.MoveTopRight(); }},
        {"CameraStop()", [](CKorvane& c) { return c.CameraStop(); }},
        {"ZoomPlus()", [](CKorvane& c) { return c.ZoomPlus(); }},
        {"CameraStop()", [](CKorvane& c) { return c.CameraStop(); }},
        {"PreSet(5, 1)  set", [](CKorvane& c) { return c.PreSet(5, 1); }},
        {"PreSet(5, 0)  go", [](CKorvane& c) { return c.PreSet(5, 0); }},
        {"OpenTrack()", [](CKorvane& c) { return c.OpenTrack(); }},
        {"CloseTrack()", [](CKorvane& c) { return c.CloseTrack(); }},
    };
    return script;
}

// What a peer received since the last look, as readable lines.
using Collect = std::function<std::vector<std::string>(std::chrono::milliseconds firstWait)>;

// Everything a peer's next(timeout) yields: the first within wait, then
// whatever follows close behind it.
template <typename Next, typename Describe>
std::vector<std::string> Drain(std::chrono::milliseconds wait, Next next, Describe describe)
{
    std::vector<std::string> lines;
    while (auto item = next(lines.empty() ? wait : 100ms)) lines.push_back(describe(*item));
    return lines;
}

struct ModeResult {
    explicit ModeResult(std::string mode, std::string failure = {}) : name(std::move(mode)), note(std::move(failure)) {}
    std::string name;
    int expected = 0;
    int arrived = 0;
    int reportsSent = 0;
    int reportsBack = 0;
    std::string note;
    std::string skipped;  // why the mode did not run, through no fault of the library
    bool Ok() const { return note.empty() && arrived == expected && reportsBack == reportsSent; }
};

class CDemoHost {
public:
    static void OnReport(const unsigned char* data, int length, unsigned int message, void* context)
    {
        auto* self = static_cast<CDemoHost*>(context);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_reports.push_back(EventName(message) + " (0x" + HexCode(message) + ")  " + Hex(data, length));
        self->m_changed.notify_all();
    }
    // The next report the callback got, within the time.
    std::optional<std::string> Next(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, limit, [&] { return m_taken < m_reports.size(); })) return std::nullopt;
        return m_reports[m_taken++];
    }

private:
    static std::string HexCode(unsigned int message)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%04x", message);
        return text;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_reports;
    std::size_t m_taken = 0;
};

std::string DescribeWithBytes(const sim::Bytes& frame)
{
    return sim::DescribeFrame(frame) + "  [" + sim::HexBytes(frame) + "]";
}

void Heading(const std::string& text) { std::printf("\n== %s ==\n", text.c_str()); }

// Runs the script, printing each call beside what arrived; noTraffic names
// calls that have nothing to send in this mode.
void RunScript(CKorvane& camera, const Collect& collect, ModeResult& result,
               const std::function<bool(const std::string&)>& noTraffic = {})
{
    std::printf("  %-20s %s\n", "host called", "arrived at the peer");
    for (const Step& step : Script()) {
        step.run(camera);
        const bool silent = noTraffic && noTraffic(step.call);
        const std::vector<std::string> lines = collect(silent ? 300ms : 2000ms);
        if (!silent) ++result.expected;
        if (!silent && !lines.empty()) ++result.arrived;
        if (lines.empty()) std::printf("  %-20s %s\n", step.call, silent ? "(nothing: not in this mode)" : "(nothing!)");
        for (std::size_t i = 0; i < lines.size(); ++i)
            std::printf("  %-20s %s\n", i == 0 ? step.call : "", lines[i].c_str());
    }
}

void ExpectReport(CDemoHost& host, const std::string& sent, ModeResult& result)
{
    ++result.reportsSent;
    const auto got = host.Next(3s);
    if (got) ++result.reportsBack;
    std::printf("  %-34s -> %s\n", sent.c_str(), got ? got->c_str() : "(no callback!)");
}

ModeResult SerialMode()
{
    ModeResult result("serial");
    sim::CSerialPeer peer;
    Heading("serial line: Pelco-D camera at address 1 on " + peer.DeviceName() + ", 9600 baud");
    CDemoHost host;
    CKorvane camera(MODE_SERIAL);
    camera.SetDeviceAddress(1);
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    camera.SetRecvNotify(&CDemoHost::OnReport, &host);
    if (!camera.SetCommDevice(peer.DeviceName().c_str(), dcb) || camera.Open() != 1) {
        result.note = "the line could not be opened";
        return result;
    }
    RunScript(camera, [&](std::chrono::milliseconds wait) {
        return Drain(wait, [&](auto limit) { return peer.NextFrame(limit); }, DescribeWithBytes);
    }, result);
    std::printf("  %-34s    %s\n", "the tracking system sends", "the host's callback got");
    for (const auto& [code, name] : {std::pair<std::uint8_t, const char*>{0x50, "appears"}, {0x54, "down podium"}, {0x51, "disappears"}}) {
        peer.SendReturnCode(1, code);
        ExpectReport(host, "return code " + sim::HexBytes({code}) + " (" + name + ")", result);
    }
    camera.Close();
    return result;
}

ModeResult TrackingMode()
{
    ModeResult result("tracking");
    sim::CTrackingPeer peer;
    Heading("tracking system: Pelco-D camera at address 1 behind the tracking system on 127.0.0.1:" +
            std::to_string(peer.Port()));
    CDemoHost host;
    CKorvane camera(MODE_TRACKSYSTEM);
    camera.SetDeviceAddress(1);
    camera.SetSystemType(TRACKSYSTEM_TYPE_1);
    camera.SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", peer.Port());
    camera.SetRecvNotify(&CDemoHost::OnReport, &host);
    if (camera.Open() != 1) {
        result.note = "local UDP port 10000 is taken";
        return result;
    }
    RunScript(camera, [&](std::chrono::milliseconds wait) {
        return Drain(wait, [&](auto limit) { return peer.NextDatagram(limit); }, DescribeWithBytes);
    }, result);
    std::printf("  %-34s    %s\n", "the tracking system sends", "the host's callback got");
    peer.SendReport(1, 1);
    ExpectReport(host, "report " + sim::HexBytes(sim::CTrackingPeer::Report(1, 1)), result);
    peer.SendReport(1, 0);
    ExpectReport(host, "report " + sim::HexBytes(sim::CTrackingPeer::Report(1, 0)), result);
    camera.Close();
    return result;
}

ModeResult RelayMode()
{
    ModeResult result("relay");
    std::optional<sim::CRelayPeer> relay;
    try {
        relay.emplace();
    } catch (const std::exception&) {
        result.note = "UDP port 20715 is taken (is a relay service running?)";
        return result;
    }
    Heading("relay service on 127.0.0.1:20715: device type 4 at 192.168.1.64:80, Pelco-D address 1");
    CDemoHost host;
    CKorvane camera(MODE_NETWORK);
    camera.SetDeviceType(DEVICE_TYPE_4);
    camera.SetDeviceAddress(1);
    camera.SetSocketParam(PROTOCOL_PELCO_D, "192.168.1.64", 80, 9600, "admin", "secret", "");
    camera.SetRecvNotify(&CDemoHost::OnReport, &host);
    if (camera.Open() != 1) {
        result.note = "the relay did not accept the camera";
        return result;
    }
    const auto request = relay->NextOfKind(1, 2s);
    const std::uint16_t eventPort = request ? sim::CRelayPeer::EventPortOf(request->bytes) : 0;
    if (request) std::printf("  %-20s %s\n", "Open()", sim::CRelayPeer::Describe(request->bytes).c_str());
    RunScript(camera, [&](std::chrono::milliseconds wait) {
        return Drain(wait, [&](auto limit) { return relay->NextDatagram(limit); },
                     [](const sim::RelayDatagram& datagram) { return sim::CRelayPeer::Describe(datagram.bytes); });
    }, result);
    std::printf("  %-34s    %s\n", "the relay sends", "the host's callback got");
    for (const char* text : {"APPEARS", "DISAPPEARS"}) {
        sim::CRelayPeer::SendEvent(eventPort, text);
        ExpectReport(host, std::string("\"") + text + "\" to event port " + std::to_string(eventPort), result);
    }
    camera.Close();
    if (const auto notice = relay->NextOfKind(3, 2s))
        std::printf("  %-20s %s\n", "Close()", sim::CRelayPeer::Describe(notice->bytes).c_str());
    return result;
}

ModeResult OnvifMode()
{
    ModeResult result("onvif");
    sim::COnvifCamera sim;
    Heading("ONVIF camera at http://127.0.0.1:" + std::to_string(sim.Port()) + "/onvif/device_service, user admin");
    CKorvane camera(MODE_NETWORK);
    camera.SetDeviceType(DEVICE_ONVIF);
    camera.SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", sim.Port(), 0, "admin", "secret", "");
    camera.SetHorizonSpeed(32);
    camera.SetVertcalSpeed(16);
    if (camera.Open() != 1) {
        result.note = "the ONVIF camera did not open";
        return result;
    }
    std::vector<std::string> opening;
    while (auto request = sim.NextRequest(200ms)) opening.push_back(request->operation);
    std::string joined;
    for (const std::string& op : opening) joined += (joined.empty() ? "" : ", ") + op;
    std::printf("  %-20s %s\n", "Open()", joined.c_str());
    RunScript(camera, [&](std::chrono::milliseconds wait) {
        return Drain(wait, [&](auto limit) { return sim.NextRequest(limit); }, &sim::COnvifCamera::Describe);
    }, result, [](const std::string& call) { return call.find("Track") != std::string::npos; });
    std::printf("  reports: an ONVIF camera sends none on this path\n");
    camera.Close();
    return result;
}

void PrintMessageBox(const char*, const char* text, void*) { std::printf("  message box: %s\n", text); }

}  // namespace

int RunDemo(const std::vector<std::string>& args)
{
    if (!args.empty()) throw UsageError("korvane demo takes no arguments");
    KorvaneSetMessageHandler(&PrintMessageBox, nullptr);
    std::printf("korvane demo: one camera in each mode, driven against simulated peers on this machine\n");
    std::vector<ModeResult> results;
    const auto guarded = [&](const char* name, ModeResult (*mode)()) {
        try {
            results.push_back(mode());
        } catch (const std::exception& error) {
            results.push_back(ModeResult(name, error.what()));
        }
    };
#ifdef _WIN32
    // Windows has no pseudo-terminals: the serial peer needs a COM-port pair
    // (com0com), which most machines lack. The other modes still show.
    const char* pairs = std::getenv("KORVANE_COM_PAIRS");
    if (!pairs || !*pairs) {
        std::printf("\nserial line: skipped (no COM-port pair: install com0com and set KORVANE_COM_PAIRS, "
                    "e.g. CNCA0:CNCB0)\n");
        results.push_back(ModeResult("serial"));
        results.back().skipped = "no COM-port pair (KORVANE_COM_PAIRS)";
    } else {
        guarded("serial", &SerialMode);
    }
#else
    guarded("serial", &SerialMode);
#endif
    guarded("tracking", &TrackingMode);
    guarded("relay", &RelayMode);
    guarded("onvif", &OnvifMode);
    KorvaneSetMessageHandler(nullptr, nullptr);

    std::printf("\nsummary\n");
    bool allOk = true;
    for (const ModeResult& r : results) {
        allOk = allOk && r.Ok();
        if (!r.note.empty()) {
            std::printf("  %-9s FAILED: %s\n", r.name.c_str(), r.note.c_str());
            continue;
        }
        if (!r.skipped.empty()) {
            std::printf("  %-9s skipped: %s\n", r.name.c_str(), r.skipped.c_str());
            continue;
        }
        std::printf("  %-9s %d of %d commands arrived, ", r.name.c_str(), r.arrived, r.expected);
        if (r.reportsSent)
            std::printf("%d of %d reports came back\n", r.reportsBack, r.reportsSent);
        else
            std::printf("no reports on this path\n");
    }
    std::printf("%s\n", !allOk ? "demo: something did not arrive (see above)"
                         : results.front().skipped.empty() ? "demo: every mode worked"
                                                           : "demo: every mode that ran worked");
    return allOk ? 0 : 1;
}

}  // namespace korvane::tool
