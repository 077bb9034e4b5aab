#include "SimCommand.h"

#include "Camera.h"
#include "CommandLine.h"
#include "Stopper.h"
#include "sim/FrameDecoder.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/TrackingPeer.h"
#include "sim/SerialPeer.h"
#include "sim/ViscaIpPeer.h"

#include <cctype>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace korvane::tool {

using namespace std::chrono_literals;

const char* const kSimHelp =
    "usage: korvane sim serial|tracking|relay|onvif|visca-ip [options]\n"
    "\n"
    "Runs one simulated peer in the foreground and prints what it receives, one\n"
    "line each, until Ctrl-C (or --for DURATION).\n"
    "\n"
    "  serial     a pseudo-terminal pair with the camera and the tracking system's\n"
    "             return codes at the far end; prints the device the camera opens.\n"
    "  tracking   the tracking system on 127.0.0.1:PORT (default 10001); reports go\n"
    "             to the library's port 10000.\n"
    "  relay      the relay service on 127.0.0.1:20715; events go to each opened\n"
    "             camera's event port.\n"
    "  onvif      an ONVIF PTZ camera on http://127.0.0.1:PORT (default 8080).\n"
    "  visca-ip   a VISCA-over-IP camera on 127.0.0.1:PORT (default 52381, 0: any).\n"
    "\n"
    "options:\n"
    "  --every DURATION   send a report (or event) this often: appears, then\n"
    "                     disappears, and so on (serial, tracking, relay)\n"
    "  --address N        camera address the reports are for (default 1)\n"
    "  --port N           listening port (tracking, onvif, visca-ip)\n"
    "  --ignore-moves     the VISCA-over-IP camera never answers a drive that moves\n"
    "  --lose-every N     it leaves the first copy of every Nth message unanswered\n"
    "  --duplicate        it sends every reply twice\n"
    "  --refuse           answer every open request with FAI (relay)\n"
    "  --user U --password P  the ONVIF camera's credentials (admin / secret)\n"
    "  --digest           the ONVIF camera asks for HTTP digest authentication\n"
    "  --tls              the ONVIF camera serves HTTPS with a self-signed certificate\n"
    "                     made at start (its SHA-256 fingerprint is printed)\n"
    "  --discoverable IP  the ONVIF camera answers discovery probes arriving on the\n"
    "                     interface with this IPv4 address (127.0.0.1: this machine's)\n"
    "  --for DURATION     stop after this long\n"
    "\n"
    "While it runs, type a line and Enter to send at once: a (appears), d\n"
    "(disappears), or for serial a return code such as 52 (close-up ready).\n";

namespace {

struct SimOptions {
    std::string kind;
    std::optional<std::chrono::milliseconds> every;
    std::optional<std::chrono::milliseconds> duration;
    unsigned address = 1;
    std::optional<unsigned> port;
    bool refuse = false;
    bool digest = false;
    bool tls = false;
    std::string discoverable;
    std::string user = "admin";
    std::string password = "secret";
    sim::ViscaIpPeerOptions viscaIp;
};

SimOptions ParseSimOptions(const std::vector<std::string>& args)
{
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--every") options.every = ParseDuration(next());
        else if (arg == "--for") options.duration = ParseDuration(next());
        else if (arg == "--address") options.address = ParseUnsigned(arg, next(), 99);
        else if (arg == "--port") options.port = ParseUnsigned(arg, next(), 65535);
        else if (arg == "--refuse") options.refuse = true;
        else if (arg == "--digest") options.digest = true;
        else if (arg == "--tls") options.tls = true;
        else if (arg == "--discoverable") options.discoverable = next();
        else if (arg == "--user") options.user = next();
        else if (arg == "--password") options.password = next();
        else if (arg == "--ignore-moves") options.viscaIp.ignoreMoves = true;
        else if (arg == "--duplicate") options.viscaIp.duplicate = true;
        else if (arg == "--lose-every") options.viscaIp.loseEvery = ParseUnsigned(arg, next(), 1000);
        else if (arg.rfind("--", 0) == 0) throw UsageError("unknown option " + arg + " for korvane sim");
        else if (options.kind.empty()) options.kind = arg;
        else throw UsageError("korvane sim takes one peer, not '" + arg + "' too");
    }
    if (options.kind.empty()) throw UsageError("korvane sim needs a peer: serial, tracking, relay, onvif or visca-ip");
    return options;
}

// Lines typed on standard input, collected by a thread of their own: a
// read of the console cannot be interrupted, so that thread is left behind
// when the peer stops (the process ends right after).
class CTypedLines {
public:
    CTypedLines()
    {
        std::thread([shared = m_pShared] {
            std::string line;
            while (std::getline(std::cin, line)) {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->lines.push_back(line);
            }
        }).detach();
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(m_pShared->mutex);
        return std::exchange(m_pShared->lines, {});
    }

private:
    struct Shared {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Shared> m_pShared = std::make_shared<Shared>();
};

// Alternates appears / disappears on a schedule and on typed lines.
class CReportSchedule {
public:
    explicit CReportSchedule(std::optional<std::chrono::milliseconds> every) : m_every(every) {}
    // Each entry: true for appears, false for disappears; or a serial code.
    template <typename Send>
    void Run(CTypedLines& typed, Send send)
    {
        for (const std::string& line : typed.Take()) {
            if (line == "a" || line == "appears") send(0x50);
            else if (line == "d" || line == "disappears") send(0x51);
            else if (line.size() == 2 && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                     std::isxdigit(static_cast<unsigned char>(line[1])))
                send(static_cast<std::uint8_t>(std::stoul(line, nullptr, 16)));
            else if (!line.empty()) std::cout << "(type a, d, or a two-digit return code)" << std::endl;
        }
        if (!m_every) return;
        const auto now = std::chrono::steady_clock::now();
        if (now < m_next) return;
        m_next = now + *m_every;
        send(m_bAppears ? 0x50 : 0x51);
        m_bAppears = !m_bAppears;
    }

private:
    std::optional<std::chrono::milliseconds> m_every;
    std::chrono::steady_clock::time_point m_next = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    bool m_bAppears = true;
};

void Say(const std::string& line) { std::cout << ClockTime() << "  " << line << std::endl; }

int RunSerial(const SimOptions& options, CStopper& stopper, CTypedLines& typed)
{
    sim::CSerialPeer peer;
    std::cout << "simulated serial camera and tracking system; the camera side is " << peer.DeviceName() << "\n"
              << "try: korvane --serial " << peer.DeviceName() << " interactive" << std::endl;
    CReportSchedule schedule(options.every);
    while (!stopper.Stopped()) {
        if (auto frame = peer.NextFrame(100ms)) Say(sim::DescribeFrame(*frame) + "   (" + sim::HexBytes(*frame) + ")");
        schedule.Run(typed, [&](std::uint8_t code) {
            const sim::Bytes report = sim::ReturnCodeFrame(static_cast<int>(options.address), code);
            peer.Send(report);
            Say("sent return code " + sim::HexBytes(report));
        });
        stopper.WaitFor(0ms);
    }
    return 0;
}

int RunTracking(const SimOptions& options, CStopper& stopper, CTypedLines& typed)
{
    sim::CTrackingPeer peer(static_cast<std::uint16_t>(options.port.value_or(10001)));
    std::cout << "simulated tracking system on 127.0.0.1:" << peer.Port() << "\n"
              << "try: korvane --tracking 127.0.0.1 --port " << peer.Port() << " interactive" << std::endl;
    CReportSchedule schedule(options.every);
    while (!stopper.Stopped()) {
        if (auto datagram = peer.NextDatagram(100ms))
            Say(sim::DescribeFrame(*datagram) + "   (" + sim::HexBytes(*datagram) + ")");
        schedule.Run(typed, [&](std::uint8_t code) {
            const sim::Bytes report = sim::CTrackingPeer::Report(static_cast<int>(options.address), code == 0x50 ? 1 : 0);
            peer.SendRaw(report);
            Say("sent report " + sim::HexBytes(report) + " to 127.0.0.1:10000");
        });
        stopper.WaitFor(0ms);
    }
    return 0;
}

int RunRelay(const SimOptions& options, CStopper& stopper, CTypedLines& typed)
{
    sim::CRelayPeer relay;
    if (options.refuse) relay.Refuse();
    std::cout << "simulated relay service on 127.0.0.1:20715" << (options.refuse ? " (refusing every camera)" : "")
              << "\ntry: korvane --network 192.168.1.64 --device-type relay4 --port 80 interactive" << std::endl;
    std::set<std::uint16_t> eventPorts;
    bool warned = false;  // said once while no camera is open
    CReportSchedule schedule(options.every);
    while (!stopper.Stopped()) {
        if (auto datagram = relay.NextDatagram(100ms)) {
            Say(sim::CRelayPeer::Describe(datagram->bytes));
            const std::uint32_t kind = datagram->bytes.empty() ? 0 : datagram->bytes[0];
            const std::uint16_t port = sim::CRelayPeer::EventPortOf(datagram->bytes);
            if (kind == 1 && port) eventPorts.insert(port);
            if (kind == 3) eventPorts.erase(port);
        }
        schedule.Run(typed, [&](std::uint8_t code) {
            const char* text = code == 0x51 ? "DISAPPEARS" : "APPEARS";
            for (const std::uint16_t port : eventPorts) {
                sim::CRelayPeer::SendEvent(port, text);
                Say(std::string("sent ") + text + " to event port " + std::to_string(port));
            }
            if (eventPorts.empty() && !warned) Say("no camera is open: events wait for one");
            warned = eventPorts.empty();
        });
        stopper.WaitFor(0ms);
    }
    return 0;
}

int RunOnvif(const SimOptions& options, CStopper& stopper)
{
    sim::OnvifCameraOptions cameraOptions;
    cameraOptions.user = options.user;
    cameraOptions.password = options.password;
    cameraOptions.requireHttpDigest = options.digest;
    cameraOptions.tls = options.tls;
    cameraOptions.probeInterface = options.discoverable;
    sim::COnvifCamera camera(cameraOptions, static_cast<std::uint16_t>(options.port.value_or(8080)));
    const std::string pin = options.tls ? " --tls-fingerprint " + camera.TlsFingerprint() : "";
    std::cout << "simulated ONVIF camera at " << camera.Origin() << "/onvif/device_service (user " << options.user
              << ", password " << options.password << ")\n";
    if (options.tls) std::cout << "certificate SHA-256 fingerprint: " << camera.TlsFingerprint() << "\n";
    if (!options.discoverable.empty())
        std::cout << "answers discovery probes on " << options.discoverable << ": korvane discover --interface "
                  << options.discoverable << "\n";
    std::cout << "try: korvane --network "
              << (options.tls ? "https://127.0.0.1:" + std::to_string(camera.Port())
                              : "127.0.0.1 --port " + std::to_string(camera.Port()))
              << " --user " << options.user << " --password " << options.password << pin
              << " interactive" << std::endl;
    while (!stopper.Stopped()) {
        if (auto request = camera.NextRequest(100ms)) Say(sim::COnvifCamera::Describe(*request));
        stopper.WaitFor(0ms);
    }
    return 0;
}

int RunViscaIp(const SimOptions& options, CStopper& stopper)
{
    sim::CViscaIpPeer camera(static_cast<std::uint16_t>(options.port.value_or(kViscaIpPort)), options.viscaIp);
    std::cout << "simulated VISCA-over-IP camera on 127.0.0.1:" << camera.Port() << std::endl;
    while (!stopper.Stopped()) {
        if (auto line = camera.NextLine(100ms)) Say(*line);
        stopper.WaitFor(0ms);
    }
    return 0;
}

}  // namespace

int RunSim(const std::vector<std::string>& args)
{
    const SimOptions options = ParseSimOptions(args);
    CStopper stopper(options.duration);
    CTypedLines typed;
    try {
        if (options.kind == "serial") return RunSerial(options, stopper, typed);
        if (options.kind == "tracking") return RunTracking(options, stopper, typed);
        if (options.kind == "relay") return RunRelay(options, stopper, typed);
        if (options.kind == "onvif") return RunOnvif(options, stopper);
        if (options.kind == "visca-ip") return RunViscaIp(options, stopper);
    } catch (const std::exception& error) {
        throw RunError("cannot start the simulated " + options.kind + ": " + error.what() +
                       " (is another one running on that port?)");
    }
    throw UsageError("unknown peer '" + options.kind + "' (serial, tracking, relay, onvif or visca-ip)");
}

}  // namespace korvane::tool
