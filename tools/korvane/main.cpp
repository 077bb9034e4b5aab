// korvane: drive a PTZ camera from the command line through the Korvane
// library, run a simulated peer, or watch the demo.
#include "Camera.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Demo.h"
#include "Interactive.h"
#include "SimCommand.h"
#include "Stopper.h"
#include "panel/Panel.h"

#include <cstdio>
#include <cstring>
#include <map>

using namespace korvane::tool;

namespace {

const char* const kUsage =
    "usage: korvane [link options] COMMAND [ARGS] [--for DURATION]\n"
    "       korvane sim serial|tracking|relay|onvif [options]\n"
    "       korvane panel --cameras FILE [--listen ADDR:PORT] [--token TEXT]\n"
    "       korvane demo [--panel]\n"
    "       korvane help [COMMAND]\n"
    "\n"
    "link (pick one):\n"
    "  --serial DEVICE        a serial line, e.g. /dev/ttyUSB0 (--baud 9600, --data-bits 8)\n"
    "  --network IP           a network camera; --device-type onvif (default), relay1,\n"
    "                         relay2 or relay4 (through the relay service on this\n"
    "                         machine); --port N (ONVIF default 80), --user, --password,\n"
    "                         --value4 N, --text7 TEXT for the relay\n"
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
    "  test                   send the connection test, print the link's last error\n"
    "  listen                 print every report as it arrives, until Ctrl-C or --for\n"
    "  interactive            drive the camera from the keyboard\n"
    "\n"
    "examples:\n"
    "  korvane --serial /dev/ttyUSB0 --address 2 left --for 1.5s\n"
    "  korvane --network 192.168.1.64 --user admin --password secret preset go 3\n"
    "  korvane --tracking 192.168.1.20 --port 5000 listen\n"
    "\n"
    "Exit codes: 0 done, 1 the camera could not be reached, 2 a mistake on the command line.\n";

const std::map<std::string, const char*>& CommandHelp()
{
    static const std::map<std::string, const char*> help = {
        {"move", "korvane [link] up|down|left|right|up-left|up-right|down-left|down-right [--for DURATION]\n"
                 "Starts the move at --speed (or --pan-speed/--tilt-speed). With --for the camera\n"
                 "stops after DURATION (2s, 500ms, 1m); without it, it moves until 'stop'.\n"},
        {"stop", "korvane [link] stop\nStops whatever the camera is doing (move, zoom, focus, iris).\n"},
        {"zoom", "korvane [link] zoom in|out [--for DURATION]\nZooms until stopped; ONVIF zooms at the pan speed.\n"},
        {"focus", "korvane [link] focus far|near [--for DURATION]\n"},
        {"iris", "korvane [link] iris open|close [--for DURATION]\n"},
        {"preset", "korvane [link] preset go|set|clear N\n"
                   "go calls preset N, set stores the present position as N, clear removes it.\n"
                   "Pelco sends the low byte of N; ONVIF takes presets 1 to 256.\n"},
        {"track", "korvane [link] track on|off\nTurns presenter tracking on or off (presets 80/81, or\n"
                  "the tracking system's own packet in tracking mode).\n"},
        {"autozoom", "korvane [link] autozoom on|off\n"},
        {"autowrite", "korvane [link] autowrite on|off\n"},
        {"test", "korvane [link] test\nSends the connection-test frame and prints the system's text\n"
                 "for the link's last error (\"Success\" when all went well).\n"},
        {"listen", "korvane [link] listen [--for DURATION]\n"
                   "Opens the camera and prints each report as it arrives, one line each:\n"
                   "time, camera, event name and the report's bytes. Ends on Ctrl-C.\n"},
        {"interactive", "korvane [link] interactive\nDrives the camera from the keyboard.\n"},
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
    if (found == CommandHelp().end()) throw UsageError("no help for '" + words[0] + "'");
    std::fputs(found->second, stdout);
    if (topic == "interactive") std::printf("%s\n", kInteractiveKeys);
    return 0;
}

// The library's message box, as a line: after "test" it is the test's result.
struct MessageLine {
    std::string prefix;
    static void Print(const char*, const char* text, void* context)
    {
        std::printf("%s%s\n", static_cast<MessageLine*>(context)->prefix.c_str(), text);
        std::fflush(stdout);
    }
};

int RunCamera(const CameraOptions& options)
{
    if (options.words.empty()) throw UsageError("no command given");
    if (!options.linkGiven) throw UsageError("say how the camera is reached: --serial, --network or --tracking");
    const std::string& verb = options.words[0];
    std::optional<Action> action;
    if (verb != "listen" && verb != "interactive") action = FindAction(options.words);
    else if (options.words.size() != 1) throw UsageError("korvane " + verb + " takes no arguments");

    COutput output;
    static MessageLine messages;
    messages.prefix = verb == "test" ? "connection test: " : "message: ";
    KorvaneSetMessageHandler(&MessageLine::Print, &messages);
    CCameraLink link(options, output);
    if (verb == "interactive") return RunInteractive(link, output);
    if (verb == "listen") {
        output.Line("listening to " + options.Describe() + (options.duration ? "" : "; Ctrl-C ends"));
        CStopper(options.duration).Wait();
        output.Line(std::to_string(link.Reports()) + " reports");
        return 0;
    }
    action->run(link.Camera());
    output.Line("sent: " + action->label + " (" + options.Describe() + ")");
    if (verb == "test" && options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF)
        output.Line("connection test: the ONVIF camera answered every request of Open (it has no test frame)");
    if (options.duration && action->keepsMoving) {
        CStopper stopper(options.duration);
        stopper.Wait();
        link.Camera().CameraStop();
        output.Line("sent: stop");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
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
        if (!args.empty() && args[0] == "help") return Help({args.begin() + 1, args.end()});
        const CameraOptions options = ParseCommandLine(args);
        if (options.help) return Help(options.words.empty() ? std::vector<std::string>{} : std::vector<std::string>{options.words[0]});
        if (args.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return RunCamera(options);
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
