// korvane: drive a PTZ camera from the command line through the Korvane
// library, run a simulated peer, or watch the demo.
#include "Camera.h"
#include "CameraFile.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Demo.h"
#include "Discover.h"
#include "Interactive.h"
#include "SimCommand.h"
#include "Stopper.h"
#include "panel/Panel.h"
#include "platform/Process.h"

#include <korvane/korvane_c.h>


#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

using namespace korvane::tool;

namespace {

const char* const kUsage =
    "usage: korvane [link options] COMMAND [ARGS] [--for DURATION]\n"
    "       korvane sim serial|tracking|relay|onvif [options]\n"
    "       korvane panel [--cameras FILE] [--listen ADDR:PORT] [--token-file FILE]\n"
    "       korvane demo [--panel]\n"
    "       korvane discover [--timeout 3s] [--interface IP] [--json] [--write FILE]\n"
    "       korvane help [COMMAND]\n"
    "       korvane --version      the tool's and the library's versions\n"
    "\n"
    "link (pick one):\n"
    "  --camera NAME          a camera named in the camera file (--cameras FILE,\n"
    "                         default ./cameras.json; korvane help cameras)\n"
    "  --serial DEVICE        a serial line, e.g. /dev/ttyUSB0 (--baud 9600, --data-bits 8)\n"
    "  --network IP           a network camera; --device-type onvif (default), relay1,\n"
    "                         relay2 or relay4 (through the relay service on this\n"
    "                         machine), visca-ip (VISCA over IP, --port default\n"
    "                         52381); --port N (ONVIF default 80), --user,\n"
    "                         --password-file FILE (or KORVANE_PASSWORD; --password TEXT\n"
    "                         shows in the process list),\n"
    "                         --value4 N, --text7 TEXT for the relay; ONVIF over HTTPS:\n"
    "                         https://IP[:PORT] (or --port 443), --tls-fingerprint SHA256\n"
    "                         for a self-signed certificate; --profile TOKEN\n"
    "  --tracking IP          through the tracking system at IP; --port N (its UDP port,\n"
    "                         required), --system-type N (default 1)\n"
    "camera:\n"
    "  --protocol pelco-d|pelco-p|visca   (default pelco-d)\n"
    "  --address N            bus address (default 1)\n"
    "  --speed N              pan and tilt speed 0-63 (default 32); or --pan-speed,\n"
    "                         --tilt-speed\n"
    "\n"
    "commands:\n"
    "  up down left right up-left up-right down-left down-right   move (--for: then stop)\n"
    "  stop                   stop moving, zooming, focusing\n"
    "  zoom in|out, focus far|near, iris open|close               (--for: then stop)\n"
    "  preset go|set|clear N  call, store or clear preset N\n"
    "  track on|off, autozoom on|off, autowrite on|off\n"
    "  test                   test the link: answered, unconfirmed (sent) or failed\n"
    "  status                 where an ONVIF camera points: pan, tilt, zoom, moving\n"
    "  home [set]             ONVIF: go to the home position, or store it here\n"
    "  listen                 print every report as it arrives, until Ctrl-C or --for\n"
    "  interactive            drive the camera from the keyboard\n"
    "\n"
    "examples:\n"
    "  korvane --serial /dev/ttyUSB0 --address 2 left --for 1.5s\n"
    "  korvane --network 192.168.1.64 --user admin --password-file cam.pass preset go 3\n"
    "  korvane --tracking 192.168.1.20 --port 5000 listen\n"
    "  korvane --camera podium preset go 2\n"
    "\n"
    "A command, test and --for send only that command (and its stop); listen and\n"
    "interactive switch reports on: a serial camera is sent go to preset 88 and 100.\n"
    "A link or command with which nothing would go out is refused before anything\n"
    "is sent (--tracking takes an IPv4 address, ports are 1-65535, ONVIF has no\n"
    "focus, VISCA no test frame, ...).\n"
    "\n"
    "Exit codes: 0 done, 1 the camera could not be reached or the library reported\n"
    "a failure, 2 a mistake on the command line.\n";

const std::map<std::string, const char*>& CommandHelp()
{
    static const std::map<std::string, const char*> help = {
        {"move", "korvane [link] up|down|left|right|up-left|up-right|down-left|down-right [--for DURATION]\n"
                 "Starts the move at --speed (or --pan-speed/--tilt-speed). With --for the camera\n"
                 "stops after DURATION (2s, 500ms, 1m); without it, it moves until 'stop'.\n"},
        {"stop", "korvane [link] stop\n"
                 "Stops whatever the camera is doing (move, zoom, focus, iris). VISCA without a\n"
                 "known move (a new process) sends the pan-tilt and the zoom stop.\n"},
        {"zoom", "korvane [link] zoom in|out [--for DURATION]\nZooms until stopped; ONVIF zooms at the pan speed.\n"},
        {"focus", "korvane [link] focus far|near [--for DURATION]\n"
                  "ONVIF: through the camera's Imaging service, where it has one.\n"},
        {"iris", "korvane [link] iris open|close [--for DURATION]\n"
                 "Not for ONVIF cameras; with VISCA one step, with nothing to stop.\n"},
        {"preset", "korvane [link] preset go|set|clear N\n"
                   "go calls preset N, set stores the present position as N, clear removes it.\n"
                   "Pelco-D, Pelco-P and VISCA carry presets 0 to 255; ONVIF takes 1 to 256.\n"
                   "ONVIF: going to a number the camera does not know yet stores the current view\n"
                   "under it first (the camera does not move); a cleared number goes nowhere\n"
                   "until it is set again.\n"
                   "With --camera, N may be a name the camera file gives the preset:\n"
                   "  \"presets\": {\"1\": \"lectern\", \"2\": \"board\"}   korvane --camera room preset go lectern\n"},
        {"track", "korvane [link] track on|off\nTurns presenter tracking on or off (presets 80/81, or\n"
                  "the tracking system's own packet in tracking mode).\n"},
        {"autozoom", "korvane [link] autozoom on|off\nA Pelco preset: not for VISCA, ONVIF or the tracking system.\n"},
        {"autowrite", "korvane [link] autowrite on|off\nA Pelco preset: not for VISCA, ONVIF or the tracking system.\n"},
        {"test", "korvane [link] test\n"
                 "Tests the link and prints what it came to. An ONVIF camera is asked for its\n"
                 "presets (its profiles before it is open), a request that needs the\n"
                 "credentials: \"answered: test\" when it answered. A serial line (Pelco's\n"
                 "test frame), the tracking system and the relay cannot answer: \"unconfirmed:\n"
                 "test\" says the test went out, not that the camera got it. Both exit 0; a\n"
                 "test that failed or could not be sent prints why and exits 1.\n"},
        {"status", "korvane [link] status\n"
                   "Prints where an ONVIF camera points, as it reports it: pan and tilt (usually\n"
                   "-1 to 1), zoom (usually 0 to 1) and whether it is moving. ONVIF only.\n"},
        {"home", "korvane [link] home [set]\n"
                 "ONVIF only: home goes to the camera's home position (at --speed), home set\n"
                 "stores the present position as home. Exit 1 when the camera refuses.\n"},
        {"discover", kDiscoverHelp},
        {"listen", "korvane [link] listen [--for DURATION]\n"
                   "Opens the camera and prints each report as it arrives, one line each:\n"
                   "time, camera, event name and the report's bytes. Ends on Ctrl-C.\n"
                   "Switching reports on sends a serial camera go to preset 88 and then 100 (the\n"
                   "tracker's report switch): a camera without a tracker moves to those presets.\n"},
        {"interactive", "korvane [link] interactive\nDrives the camera from the keyboard, with its reports shown.\n"
                        "Switching reports on sends a serial camera go to preset 88 and then 100 (the\n"
                        "tracker's report switch): a camera without a tracker moves to those presets.\n"},
        {"cameras",
         "korvane --camera NAME [--cameras FILE] COMMAND\n"
         "Takes the camera's link from a JSON file (default ./cameras.json) instead of the\n"
         "link options; --speed, --pan-speed, --tilt-speed and --for may still be given.\n"
         "\n"
         "  {\"cameras\": [\n"
         "    {\"name\": \"podium\", \"mode\": \"serial\", \"device\": \"/dev/ttyUSB0\", \"baud\": 9600,\n"
         "     \"protocol\": \"pelco-d\", \"address\": 1},\n"
         "    {\"name\": \"room\", \"mode\": \"onvif\", \"host\": \"192.168.1.64\", \"port\": 80,\n"
         "     \"user\": \"admin\", \"password\": \"secret\"},\n"
         "    {\"name\": \"board\", \"mode\": \"relay4\", \"host\": \"192.168.1.70\", \"port\": 80,\n"
         "     \"address\": 2, \"protocol\": \"pelco-d\"},\n"
         "    {\"name\": \"desk\", \"mode\": \"tracking\", \"host\": \"192.168.1.20\", \"port\": 5000,\n"
         "     \"address\": 1, \"protocol\": \"visca\"}\n"
         "  ]}\n"
         "\n"
         "mode: serial (device, baud, data_bits, protocol, address), onvif (host, port,\n"
         "user, password, profile, tls_fingerprint; host may be https://IP), relay1|relay2|relay4 (host, port, address, protocol, user,\n"
         "password, value4, text7), tracking (host, port, address, protocol,\n"
         "system_type). Every camera may have pan_speed and tilt_speed (0-63).\n"
         "Instead of password, password_file names a file whose first line is the\n"
         "password (relative to the camera file's folder); a camera file that holds a\n"
         "password and that other users may read is warned about (chmod 600 it).\n"
         "Names must differ; a field the mode does not use is refused, so a typo is\n"
         "caught. Messages name the file, the camera and the field; a password is never\n"
         "shown.\n"},
        {"sim", kSimHelp},
        {"demo", kDemoHelp},
        {"panel", kPanelHelp},
    };
    return help;
}

int Help(const std::vector<std::string>& words)
{
    if (words.empty()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string topic = words[0];
    static const char* const moves[] = {"up", "down", "left", "right", "up-left", "up-right", "down-left", "down-right"};
    for (const char* move : moves)
        if (topic == move) topic = "move";
    const auto found = CommandHelp().find(topic);
    if (found == CommandHelp().end()) {
        std::string pages;
        for (const auto& page : CommandHelp()) pages += " " + page.first;
        throw UsageError("no help for '" + words[0] + "'; the pages are:" + pages);
    }
    std::fputs(found->second, stdout);
    if (topic == "interactive") std::printf("%s\n", kInteractiveKeys);
    return 0;
}

// The library's message box, as a line. A message is how the library tells
// of a failure (a network camera's socket error, the connection test's
// result), so they are kept to judge what was sent. From any thread.
class CMessages {
public:
    explicit CMessages(std::string prefix) : m_prefix(std::move(prefix)) {}
    static void Print(const char*, const char* text, void* context)
    {
        auto* self = static_cast<CMessages*>(context);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_texts.emplace_back(text);
        std::printf("%s%s\n", self->m_prefix.c_str(), Printable(text).c_str());
        std::fflush(stdout);
    }
    std::size_t Count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts.size();
    }
    // The last message after the first `count`, if any came.
    std::optional<std::string> LastSince(std::size_t count) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_texts.size() <= count) return std::nullopt;
        return m_texts.back();
    }

private:
    const std::string m_prefix;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

// Runs a command of the action and says "sent", or throws RunError when the
// library told of a failure meanwhile.
void Send(CKorvane& camera, const std::string& label, const std::function<int(CKorvane&)>& run,
          const CMessages& messages, COutput& output, const CameraOptions& options)
{
    const std::size_t before = messages.Count();
    if (run(camera) == 0) {
        std::array<char, 512> reason{};
        camera.LastError(reason.data(), static_cast<int>(reason.size()));
        throw RunError("not sent: " + label + " (" + options.Describe() + "): " + reason.data());
    }
    if (const auto failure = messages.LastSince(before))
        throw RunError("not sent: " + label + " (" + options.Describe() + "): " + *failure);
    output.Line("sent: " + label + " (" + options.Describe() + ")");
}

int RunCamera(const CameraOptions& options)
{
    if (options.words.empty()) throw UsageError("no command given");
    if (!options.linkGiven)
        throw UsageError("say how the camera is reached: --serial, --network or --tracking, or --camera NAME");
    ValidateLink(options);
    const std::string& verb = options.words[0];
    std::optional<Action> action;
    if (verb != "listen" && verb != "interactive") action = FindAction(options.words, options);
    else if (options.words.size() != 1) throw UsageError("korvane " + verb + " takes no arguments");
    // Reports only where they are the point (listen, interactive); see ReportMode.
    const bool reports = !action;

    COutput output;
    // Lives to the end of the process: a library thread may call the handler
    // until then. RunCamera runs once per process.
    static CMessages messages(verb == "test" ? "connection test: " : "message: ");
    KorvaneSetMessageHandler(&CMessages::Print, &messages);
    CCameraLink link(options, output, reports ? ReportMode::On : ReportMode::Off);
    if (verb == "interactive") return RunInteractive(link, output);
    if (verb == "listen") {
        CStopper stopper(options.duration);  // before the line: a signal from then on ends it cleanly
        output.Line("listening to " + options.Describe() + (options.duration ? "" : "; Ctrl-C ends"));
        stopper.Wait();
        output.Line(std::to_string(link.Reports()) + " reports");
        return 0;
    }
    const bool onvif = options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF;
    if (verb == "status") {
        float pan = 0.0f, tilt = 0.0f, zoom = 0.0f;
        int moving = 0;
        if (!link.Camera().GetPosition(pan, tilt, zoom, moving))
            throw RunError("the ONVIF camera at " + OnvifOrigin(options) + " reported no position");
        char line[128];
        std::snprintf(line, sizeof line, "pan %.4f  tilt %.4f  zoom %.4f  %s", pan, tilt, zoom,
                      moving ? "moving" : "idle");
        output.Line(line);
        return 0;
    }
    if (verb == "home") {
        if (!action->run(link.Camera()))
            throw RunError("the ONVIF camera at " + OnvifOrigin(options) + " refused " + action->label);
        output.Line("done: " + action->label + " (" + options.Describe() + ")");
        return 0;
    }
    if (verb == "test") {
        // The test's own result says which of the three it came to: the camera
        // answered, the frame went out on a link that cannot answer, or it failed.
        const int sent = action->run(link.Camera());
        char why[512];
        const int outcome = link.Camera().LastError(why, sizeof why);
        if (!sent) throw RunError("the connection test to " + options.Describe() + " failed: " + why);
        if (outcome == KORVANE_RESULT_UNCONFIRMED)
            output.Line("unconfirmed: test (" + options.Describe() + ")");
        else
            output.Line("answered: test (" + options.Describe() + ")");
        return 0;
    }
    // Watching the signals before the move goes out: from then on one stops it.
    std::optional<CStopper> stopper;
    if (options.duration && action->keepsMoving) stopper.emplace(options.duration);
    Send(link.Camera(), action->label, action->run, messages, output, options);
    if (stopper) {
        // A VISCA iris command is one step, with nothing to stop.
        if (options.protocol == PROTOCOL_VISCA && !onvif && verb == "iris") return 0;
        stopper->Wait();
        Send(link.Camera(), "stop", [](CKorvane& camera) { return camera.CameraStop(); }, messages, output, options);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // A closed reader of the output loses the output, not the cameras' stops.
    korvane::platform::IgnoreBrokenPipe();
    // Before any thread starts: each inherits the mask that leaves the stop
    // signals to the one thread that takes them.
    korvane::platform::HoldStopSignals();
    try {
        if (!args.empty() && args[0] == "sim") {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            for (const std::string& arg : rest)
                if (arg == "--help" || arg == "-h") return Help({"sim"});
            return RunSim(rest);
        }
        if (!args.empty() && args[0] == "demo") {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) return Help({"demo"});
            for (const std::string& arg : rest)
                if (arg == "--panel") return RunPanelDemo(rest);
            return RunDemo(rest);
        }
        if (!args.empty() && args[0] == "panel") {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            for (const std::string& arg : rest)
                if (arg == "--help" || arg == "-h") return Help({"panel"});
            return RunPanel(rest);
        }
        if (!args.empty() && args[0] == "discover") {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            for (const std::string& arg : rest)
                if (arg == "--help" || arg == "-h") return Help({"discover"});
            return RunDiscover(rest);
        }
        if (!args.empty() && args[0] == "help") return Help({args.begin() + 1, args.end()});
        if (args.size() == 1 && (args[0] == "--version" || args[0] == "version")) {
            // The library's own answer: a tool run against another copy shows it.
            std::printf("korvane %s (library %s)\n", KORVANE_TOOL_VERSION, korvane_version());
            return 0;
        }
        const CameraOptions options = ParseCommandLine(args);
        if (options.help) return Help(options.words.empty() ? std::vector<std::string>{} : std::vector<std::string>{options.words[0]});
        if (args.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return RunCamera(ResolveCamera(options));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "korvane: %s\n(korvane --help shows the usage)\n", error.what());
        return 2;
    } catch (const RunError& error) {
        std::fprintf(stderr, "korvane: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane: %s\n", error.what());
        return 1;
    }
}
