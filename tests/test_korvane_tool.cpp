// The korvane tool as a user runs it: a subprocess against the simulated
// peers, its output and exit codes checked; the interactive mode through a
// pseudo-terminal.
#include "ReportCollector.h"
#include "ToolProcess.h"
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"
#include "sim/ViscaIpPeer.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <regex>

using korvane::sim::CRelayPeer;
using korvane::sim::CSerialPeer;
using korvane::sim::CTrackingPeer;
using korvane::sim::DescribeFrame;
using korvane::test::CToolProcess;
using korvane::test::RunTool;
using namespace std::chrono_literals;

namespace {

// Every frame that arrives within the time, described.
std::string FramesOn(CSerialPeer& peer, std::chrono::milliseconds first = 3s)
{
    std::string lines;
    while (auto frame = peer.NextFrame(lines.empty() ? first : 300ms)) lines += DescribeFrame(*frame) + "\n";
    return lines;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A value of the camera's next request of that operation ("" when none came in time).
std::string Next(korvane::sim::COnvifCamera& camera, const char* operation, const char* value)
{
    return camera.NextOf(operation, 3s).value_or(korvane::sim::OnvifRequest{}).values[value];
}

std::vector<std::string> Plus(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The tool run to its end: its exit code is exit, its output holds each part
// of says and none of lacks.
testing::AssertionResult Runs(const std::vector<std::string>& args, int exit, const std::vector<std::string>& says = {},
                              const std::vector<std::string>& lacks = {}, const std::string& folder = "")
{
    const auto result = RunTool(args, 20s, folder);
    std::string wrong;
    for (const std::string& part : says) wrong += Has(result.output, part) ? "" : " lacks '" + part + "'";
    for (const std::string& part : lacks) wrong += Has(result.output, part) ? " has '" + part + "'" : "";
    if (result.exit == exit && wrong.empty()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(args) << ": exit " << result.exit << " (wanted "
                                       << exit << "), output" << wrong << "\n" << result.output;
}

// A command line and what the tool says to it.
struct Said { std::vector<std::string> args; std::string says; };

// A camera file, cameras.json in a folder of its own in the temporary
// folder, removed at the end.
class CCameraFile {
public:
    explicit CCameraFile(const std::string& content)
    {
        std::filesystem::create_directory(m_folder);
        std::ofstream(Path()) << content;
    }
    ~CCameraFile() { std::filesystem::remove_all(m_folder); }
    std::string Path() const { return (m_folder / "cameras.json").string(); }
    std::string Folder() const { return m_folder.string(); }

private:
    const std::filesystem::path m_folder =
        std::filesystem::temp_directory_path() / ("korvane-room-" + std::to_string(std::random_device{}()));
};

}  // namespace

// Mistakes, and links and commands with which the library would send nothing
// (some found only once the camera would answer), are exit 2 before anything
// is opened, and nothing reaches the peers.
TEST(KorvaneTool, MistakesAndWhatWouldSendNothingAreRefusedAndNeverSaySent)
{
    CSerialPeer serial;
    CTrackingPeer tracking;
    korvane::sim::COnvifCamera onvif;
    const std::string dev = serial.DeviceName();
    const std::string port = std::to_string(tracking.Port());
    const std::vector<std::string> camera = {"--user", "admin", "--password", "secret"};
    const std::vector<std::string> onvifLink = Plus({"--network", "127.0.0.1", "--port", std::to_string(onvif.Port())}, camera);
    const std::string http = "http://127.0.0.1:" + std::to_string(onvif.Port());
    const std::string pin(64, 'a');
    const CCameraFile bad(R"({"cameras": [{"name": "podium", "mode": "serial"}]})");
    const Said refused[] = {
        {{}, "usage: korvane"},
        {{"--serial", "/dev/null", "--protocol", "pelco-x", "up"}, "unknown protocol 'pelco-x'"},
        {{"--serial", "/dev/null", "--frobnicate", "up"}, "unknown option --frobnicate"},
        {{"--serial", "/dev/null", "wiggle"}, "unknown command 'wiggle'"},
        {{"help", "wiggle"}, "no help for 'wiggle'; the pages are: autowrite autozoom cameras demo discover focus"},
        {{"--serial", "/dev/null", "preset", "go"}, "preset go|set|clear NUMBER"},
        {{"--serial", "/dev/null", "--speed", "64", "up"}, "--speed wants a number from 0 to 63"},
        {{"--serial", "/dev/null", "up", "--for", "soon"}, "no duration"},
        {{"up"}, "--serial, --network or --tracking"},
        {{"--tracking", "127.0.0.1", "up"}, "--tracking needs --port"},
        {{"sim", "teleport"}, "unknown peer 'teleport'"},
        {{"panel"}, "cameras.json"},  // the default file, missing in the test's folder
        {{"panel", "--cameras", "/nonexistent/cameras.json"}, "/nonexistent/cameras.json"},
        {{"panel", "--cameras", bad.Path()}, "'podium'"},
        {{"panel", "--cameras", bad.Path(), "--listen", "8420"}, "--listen wants ADDRESS:PORT"},
        {{"panel", "--cameras", bad.Path(), "--listen", "localhost:70000"}, "from 0 to 65535"},
        {{"panel", "--cameras", bad.Path(), "--frobnicate"}, "unknown option --frobnicate"},
        {{"--tracking", "localhost", "--port", port, "up"}, "--tracking must be an IPv4 address"},
        {{"--tracking", "localhost", "--port", port, "test"}, "--tracking must be an IPv4 address"},
        {{"--tracking", "255.255.255.255", "--port", port, "up"}, "must be the tracking system's own address"},
        {{"--tracking", "127.0.0.1", "--port", "0", "up"}, "--port must be 1 to 65535"},
        {{"--tracking", "127.0.0.1", "--port", port, "--system-type", "2", "track", "on"}, "only tracking system type 1"},
        {{"--network", "not-an-ip", "up"}, "--network must be an IP address"},
        {{"--network", "127.0.0.1", "--device-type", "relay4", "--protocol", "visca", "up"},
         "relay service carries pelco-d and pelco-p only"},
        {{"--serial", dev, "--protocol", "visca", "--address", "8", "up"}, "address is 1 to 7"},
        {{"--serial", dev, "preset", "go", "256"}, "presets on this link are 0 to 255, not 256"},
        {Plus(onvifLink, {"preset", "go", "0"}), "presets on this link are 1 to 256, not 0"},
        {{"--network", "https://127.0.0.1:1", "--tls-fingerprint", "ab:cd", "up"}, "64 hex digits"},
        {{"--network", "https://127.0.0.1:1", "--tls-fingerprint", "sha1 Fingerprint=" + pin, "up"}, "64 hex digits"},
        {{"--network", "https://127.0.0.1:1", "--tls-fingerprint", pin + "g", "up"}, "64 hex digits"},
        {Plus({"--network", http, "--tls-fingerprint", pin, "up"}, camera), "is plain HTTP"},
        {Plus(onvifLink, {"--tls-fingerprint", pin, "up"}), "is plain HTTP"},
        {{"--serial", dev, "--tls-fingerprint", pin, "up"}, "for ONVIF cameras over HTTPS only"},
        {Plus({"--network", http, "--speed", "0", "left"}, camera), "--speed 0 would send 'left'"},
        {{"--serial", dev, "--pan-speed", "0", "up-left"}, "--pan-speed 0"},
        {{"--serial", dev, "--tilt-speed", "0", "down", "--for", "1s"}, "--tilt-speed 0"},
        {{"--serial", dev, "--baud", "1234", "up"}, "--baud must be a line speed"},
    };
    for (const Said& c : refused) EXPECT_TRUE(Runs(c.args, 2, {c.says}, {"sent:"}));
    EXPECT_EQ(FramesOn(serial, 300ms), "");
    EXPECT_TRUE(tracking.Silent(300ms));
    EXPECT_FALSE(onvif.NextOf("GetSystemDateAndTime", 300ms)) << "no ONVIF camera was opened";

    // What stays allowed: a speed 0 on the axis the move does not use, and a
    // fingerprint as openssl prints it, which the HTTPS camera then matches.
    EXPECT_TRUE(Runs({"--serial", dev, "--tilt-speed", "0", "left"}, 0, {"sent: "}));
    EXPECT_EQ(FramesOn(serial), "pelco-d addr 1: pan left speed 32\n");
    korvane::sim::OnvifCameraOptions tls;
    tls.tls = true;
    korvane::sim::COnvifCamera secure(tls);
    std::string openssl = "sha256 Fingerprint=";
    for (std::size_t i = 0; i < secure.TlsFingerprint().size(); i += 2)
        openssl += (i ? ":" : "") + secure.TlsFingerprint().substr(i, 2);
    std::transform(openssl.begin() + 19, openssl.end(), openssl.begin() + 19, ::toupper);
    EXPECT_TRUE(Runs(Plus({"--network", "https://127.0.0.1:" + std::to_string(secure.Port()), "--tls-fingerprint", openssl, "up"}, camera),
                     0, {"sent: "}));
    EXPECT_TRUE(secure.NextOf("ContinuousMove", 3s));
}

// Each command sends exactly its frames. Opening with a report function sends
// go to preset 88 and 100: only listen and interactive may do that; a move
// with --for and the connection test send nothing but their own frames.
TEST(KorvaneTool, SerialCommandsSendExactlyTheirFramesAndFailuresSayWhy)
{
    CSerialPeer peer;
    struct Case { std::vector<std::string> args; const char* frames; const char* says; };
    const Case cases[] = {
        {{"--address", "3", "left"}, "pelco-d addr 3: pan left speed 32\n", "sent: "},
        {{"--address", "3", "preset", "go", "5"}, "pelco-d addr 3: go to preset 5\n", "sent: "},
        {{"--protocol", "pelco-p", "preset", "go", "5"}, "pelco-p addr 1: go to preset 5\n", "sent: "},
        {{"--address", "2", "--speed", "20", "left", "--for", "300ms"},
         "pelco-d addr 2: pan left speed 20\npelco-d addr 2: stop\n", "sent: stop"},
        {{"test"}, "connection test addr 1\n", "unconfirmed: test"},
        // A stop from a process that sent no move still stops every motion.
        {{"--protocol", "visca", "--address", "2", "stop"}, "visca addr 2: pan-tilt stop\nvisca addr 2: zoom stop\n",
         "sent: stop"},
    };
    for (const Case& c : cases) {
        const auto result = RunTool(Plus({"--serial", peer.DeviceName()}, c.args));
        EXPECT_EQ(result.exit, 0) << result.output;
        EXPECT_TRUE(Has(result.output, c.says)) << result.output;
        const std::string frames = FramesOn(peer);
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(Has(result.output, "reports on"), Has(frames, "preset 88")) << result.output;
    }

    // The system's cause, one of them, not a list of guesses.
    CKorvane holder(MODE_SERIAL);  // this process holds the line: busy
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    ASSERT_TRUE(holder.SetCommDevice(peer.DeviceName().c_str(), dcb));
    const std::pair<std::string, std::string> causes[] = {
        {"/dev/korvane-no-such-device", "no such device"}, {"/dev/null", "not a serial device"},
        {peer.DeviceName(), "busy: another program has it open"}};
    for (const auto& [device, cause] : causes)
        EXPECT_TRUE(Runs({"--serial", device, "up"}, 1, {"korvane: cannot open serial device " + device + ": " + cause + "\n"}));
}

// listen prints each report as it comes, from a serial line and from the
// tracking system; the tracking system's switch goes out as its datagram.
TEST(KorvaneTool, ListenPrintsEachReportAsItArrives)
{
    CSerialPeer peer;
    CTrackingPeer tracking;
    const std::string port = std::to_string(tracking.Port());
    EXPECT_TRUE(Runs({"--tracking", "127.0.0.1", "--port", port, "track", "on"}, 0));
    EXPECT_EQ(DescribeFrame(tracking.NextDatagram(3s).value_or(korvane::sim::Bytes{})), "track addr 1: on");

    CToolProcess tool({"--serial", peer.DeviceName(), "--address", "3", "listen"});
    CToolProcess fromTracking({"--tracking", "127.0.0.1", "--port", port, "listen", "--for", "20s"});
    ASSERT_TRUE(tool.WaitForOutput("listening to serial")) << tool.Output();
    ASSERT_TRUE(fromTracking.WaitForOutput("listening to tracking system")) << fromTracking.Output();
    peer.SendReturnCode(3, 0x50);
    ASSERT_TRUE(tool.WaitForOutput("target appears")) << tool.Output();
    peer.SendReturnCode(3, 0x56);
    ASSERT_TRUE(tool.WaitForOutput("writing starts")) << tool.Output();
    // One line each: time, camera, event name, bytes.
    EXPECT_TRUE(std::regex_search(tool.Output(), std::regex(R"(\d\d:\d\d:\d\d\.\d{3}  serial .* addr 3  target appears  ff 03 00 07 00 50 5a)")))
        << tool.Output();
    tracking.SendReport(1, 0);
    EXPECT_TRUE(fromTracking.WaitForOutput("target disappears  aa 50 02 01 00")) << fromTracking.Output();
}

TEST(KorvaneTool, RelayAndOnvifCameras)
{
    EXPECT_TRUE(Runs({"--network", "10.1.1.1", "--device-type", "relay4", "up"}, 1,
                     {"relay service on 127.0.0.1:20715 did not accept"}));  // no relay running
    {
        CRelayPeer relay;
        EXPECT_TRUE(Runs({"--network", "10.1.1.1", "--device-type", "relay4", "--port", "80", "right"}, 0));
        const auto command = relay.NextOfKind(2, 3s);
        ASSERT_TRUE(command);
        const std::string described = CRelayPeer::Describe(command->bytes);
        EXPECT_TRUE(Has(described, "device kind 4, device port 80") && Has(described, "pan right")) << described;
        relay.Refuse();
        EXPECT_TRUE(Runs({"--network", "10.1.1.1", "--device-type", "relay1", "up"}, 1));
    }
    korvane::sim::COnvifCamera camera;
    const std::vector<std::string> onvif = {"--network", "127.0.0.1", "--port", std::to_string(camera.Port()),
                                            "--user", "admin"};
    // ONVIF takes presets up to 256; one not stored yet is stored first.
    EXPECT_TRUE(Runs(Plus(onvif, {"--password", "secret", "--speed", "32", "preset", "go", "256"}), 0));
    EXPECT_EQ(Next(camera, "SetPreset", "name"), "256");
    EXPECT_EQ(Next(camera, "GotoPreset", "pan"), "0.5");
    // Focus goes to the camera's Imaging service; --for then stops it there.
    EXPECT_TRUE(Runs(Plus(onvif, {"--password", "secret", "focus", "far", "--for", "0.3s"}), 0, {"sent: focus far"}));
    EXPECT_EQ(Next(camera, "Move", "focus"), "0.515625");
    EXPECT_TRUE(camera.NextOf("Stop", 3s));
    const auto focusStop = camera.NextOf("Stop", 3s);
    EXPECT_TRUE(focusStop && focusStop->path == "/onvif/imaging_service");
    EXPECT_FALSE(camera.Focus().second) << "the focus stands";
    EXPECT_TRUE(Runs(Plus(onvif, {"--password", "guess", "up"}), 1, {"wrong --user/--password"}));
}

// A test only a camera can answer says "answered"; a link that cannot answer
// says the test went out, never "Success"; a camera gone says why, exit 1.
TEST(KorvaneTool, TheConnectionTestSaysAnsweredUnconfirmedOrFailed)
{
    CSerialPeer serial;
    auto tracking = std::make_unique<CTrackingPeer>();
    const std::string trackingPort = std::to_string(tracking->Port());
    auto onvif = std::make_unique<korvane::sim::COnvifCamera>();
    const std::vector<std::string> onvifLink = {"--network", "127.0.0.1", "--port", std::to_string(onvif->Port()),
                                                "--user", "admin", "--password", "secret", "test"};
    struct Case { std::function<void()> before; std::vector<std::string> args; int exit; const char* says; };
    const Case cases[] = {
        {nullptr, {"--serial", serial.DeviceName(), "test"}, 0, "unconfirmed: test (serial"},
        {nullptr, {"--tracking", "127.0.0.1", "--port", trackingPort, "test"}, 0, "unconfirmed: test (tracking"},
        {[&] { tracking.reset(); }, {"--tracking", "127.0.0.1", "--port", trackingPort, "test"}, 0,
         "unconfirmed: test (tracking"},  // nobody listens: still only "sent"
        {nullptr, onvifLink, 0, "answered: test ("},
        {[&] { onvif.reset(); }, onvifLink, 1, "did not open"},
    };
    for (const Case& c : cases) {
        if (c.before) c.before();
        EXPECT_TRUE(Runs(c.args, c.exit, {c.says}, {"Success", "sent: test"}));
    }
    EXPECT_EQ(FramesOn(serial), "connection test addr 1\n");
}

TEST(KorvaneTool, InteractiveModeOnATerminal)
{
    CSerialPeer peer;
    CToolProcess tool({"--serial", peer.DeviceName(), "--address", "4", "interactive"}, true);
    ASSERT_TRUE(tool.WaitForOutput("q (or Ctrl-C) quits")) << tool.Output();
    ASSERT_TRUE(tool.WaitForOutput("serial " + peer.DeviceName())) << tool.Output();  // the status line
    const std::pair<const char*, const char*> keys[] = {{"\x1b[D", "addr 4: pan left"},  // left arrow
                                                        {" ", "addr 4: stop"},
                                                        {"s7", "addr 4: set preset 7"},  // store preset 7
                                                        {"3", "addr 4: go to preset 3"},
                                                        {"+", "addr 4: zoom tele"}};
    for (const auto& [key, frame] : keys) {
        tool.Write(key);
        const std::string frames = FramesOn(peer);
        EXPECT_TRUE(Has(frames, frame)) << frames;
    }
    peer.SendReturnCode(4, 0x52);
    EXPECT_TRUE(tool.WaitForOutput("close-up ready")) << tool.Output();
    tool.Write("q");
    EXPECT_EQ(tool.WaitExit().value_or(-1), 0) << tool.Output();
    EXPECT_TRUE(Has(FramesOn(peer), "addr 4: stop")) << "quitting stops the camera";

    // A key whose command the link does not carry says so and sends nothing.
    CToolProcess visca({"--serial", peer.DeviceName(), "--protocol", "visca", "--address", "2", "interactive"}, true);
    ASSERT_TRUE(visca.WaitForOutput("q (or Ctrl-C) quits")) << visca.Output();
    EXPECT_EQ(FramesOn(peer), "visca addr 2: recall memory 88\nvisca addr 2: recall memory 100\n");
    visca.Write("a");
    EXPECT_TRUE(visca.WaitForOutput("autozoom on: not sent, autozoom is a Pelco preset")) << visca.Output();
    visca.Write("q");
    EXPECT_EQ(visca.WaitExit().value_or(-1), 0) << visca.Output();
    // Quitting stops the camera: knowing no motion, VISCA stops pan-tilt and zoom.
    EXPECT_EQ(FramesOn(peer, 300ms), "visca addr 2: pan-tilt stop\nvisca addr 2: zoom stop\n");

    // Without a terminal the mode refuses.
    EXPECT_TRUE(Runs({"--serial", peer.DeviceName(), "interactive"}, 1, {"needs a terminal"}));
}

// Each simulated peer ends at once (well before its 60 s; a loaded sanitizer
// build needs a moment to exit), with exit 0, on Ctrl-C and on SIGTERM.
TEST(KorvaneTool, SimulatedPeersStopOnSignalsAndTheRelayReportsOnItsSchedule)
{
    const std::pair<const char*, const char*> peers[] = {{"serial", "--serial /dev/"},
                                                         {"tracking", "simulated tracking system"},
                                                         {"relay", "simulated relay service"},
                                                         {"onvif", "simulated ONVIF camera"}};
    for (const auto& [peer, ready] : peers)
        for (const int signal : {SIGINT, SIGTERM}) {
            CToolProcess sim({"sim", peer, "--port", "0", "--for", "60s"});
            ASSERT_TRUE(sim.WaitForOutput(ready)) << sim.Output();
            sim.Signal(signal);
            EXPECT_EQ(sim.WaitExit(3s), 0) << peer << " " << signal << "\n" << sim.Output();
        }

    // What arrives at each simulated peer is printed (the Python package's
    // tests read it); the relay also sends its reports on the schedule
    // --every sets.
    CToolProcess sim({"sim", "relay", "--every", "200ms", "--for", "20s"});
    ASSERT_TRUE(sim.WaitForOutput("simulated relay service")) << sim.Output();
    korvane::test::ReportCollector reports;
    CKorvane camera(MODE_NETWORK);
    camera.SetDeviceType(DEVICE_TYPE_4);
    camera.SetDeviceAddress(1);
    camera.SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.2", 80, 9600, "", "", "");
    reports.Attach(camera);
    ASSERT_EQ(camera.Open(), 1);
    EXPECT_TRUE(sim.WaitForOutput("open: device type 4")) << sim.Output();
    EXPECT_TRUE(reports.WaitFor(2));  // appears, then disappears
    camera.Close();
    EXPECT_TRUE(sim.WaitForOutput("close: event port")) << sim.Output();
}

// Every help page exits 0; the demo runs every mode to its end.
TEST(KorvaneTool, HelpPagesAndTheDemoExitZero)
{
    const Said helps[] = {{{"--help"}, "korvane"},         {{"help", "preset"}, "korvane"},
                          {{"preset", "--help"}, "korvane"}, {{"sim", "--help"}, "korvane"},
                          {{"demo", "--help"}, "korvane"},   {{"help", "interactive"}, "korvane"},
                          {{"help", "panel"}, "korvane panel [--cameras FILE]"},
                          {{"panel", "--help"}, "korvane panel [--cameras FILE]"}};
    for (const Said& c : helps) EXPECT_TRUE(Runs(c.args, 0, {c.says}));
    const auto result = RunTool({"demo"}, 60s);
    EXPECT_EQ(result.exit, 0) << result.output;
    for (const char* line : {"serial    9 of 9 commands arrived, 3 of 3 reports came back",
                             "tracking  9 of 9 commands arrived, 2 of 2 reports came back",
                             "relay     9 of 9 commands arrived, 2 of 2 reports came back",
                             "onvif     7 of 7 commands arrived", "demo: every mode worked"})
        EXPECT_TRUE(Has(result.output, line)) << line << "\n" << result.output;
}

TEST(KorvaneTool, CamerasByNameFromTheCameraFile)
{
    CSerialPeer serial;
    CTrackingPeer tracking;
    korvane::sim::COnvifCamera onvif;  // wants admin / secret
    const CCameraFile file(R"({"cameras": [
        {"name": "podium", "mode": "serial", "device": ")" + serial.DeviceName() + R"(", "baud": 9600,
         "protocol": "pelco-p", "address": 3, "pan_speed": 12, "reports": false},
        {"name": "room", "mode": "onvif", "host": "127.0.0.1", "port": )" + std::to_string(onvif.Port()) + R"(,
         "user": "admin", "password": "secret", "move_timeout": 1500, "presets": {"1": "lectern", "256": "board"}},
        {"name": "desk", "mode": "tracking", "host": "127.0.0.1", "port": )" + std::to_string(tracking.Port()) + R"(,
         "address": 2, "protocol": "visca"}
    ]})");

    const std::vector<std::string> cameras = {"--cameras", file.Path(), "--camera"};
    EXPECT_TRUE(Runs(Plus(cameras, {"podium", "left"}), 0));
    EXPECT_TRUE(Has(FramesOn(serial), "pelco-p addr 3: pan left speed 12"));
    // Without --cameras: cameras.json in the current folder.
    EXPECT_TRUE(Runs({"--camera", "podium", "preset", "go", "6"}, 0, {}, {}, file.Folder()));
    EXPECT_EQ(FramesOn(serial), "pelco-p addr 3: go to preset 6\n");
    // The command line's speed wins over the file's.
    EXPECT_TRUE(Runs(Plus(cameras, {"podium", "--speed", "40", "right"}), 0));
    EXPECT_TRUE(Has(FramesOn(serial), "pelco-p addr 3: pan right speed 40"));

    EXPECT_TRUE(Runs(Plus(cameras, {"desk", "preset", "go", "4"}), 0));
    EXPECT_EQ(DescribeFrame(tracking.NextDatagram(3s).value_or(korvane::sim::Bytes{})), "visca addr 2: recall memory 4");

    // The password reaches the camera (it checks it) and never the output.
    EXPECT_TRUE(Runs(Plus(cameras, {"room", "up"}), 0, {}, {"secret"}));
    EXPECT_EQ(Next(onvif, "ContinuousMove", "timeout"), "PT1.5S");
    // Presets by the names the file gives them.
    EXPECT_TRUE(Runs(Plus(cameras, {"room", "preset", "go", "board"}), 0, {"sent: preset go 256 (board)"}));
    EXPECT_TRUE(onvif.NextOf("GotoPreset", 3s));
    const Said refused[] = {
        {{"room", "preset", "go", "desk"}, "no preset named 'desk' (this camera's: lectern, board)"},
        {{"stage", "up"}, "has no camera 'stage' (it has podium, room, desk)"},
        {{"podium", "--address", "5", "up"}, "leave out --address"}};
    for (const Said& c : refused) EXPECT_TRUE(Runs(Plus(cameras, c.args), 2, {c.says}));
}

TEST(KorvaneTool, BadCameraFilesNameFileCameraAndFieldButNoPassword)
{
    const std::string password = "pw-7f3a9c";
    const std::string good = R"({"name": "podium", "mode": "serial", "device": "/dev/null", "address": 1},)";
    // The start of a camera of each kind, and a file of one camera.
    const std::string podium = R"("name": "podium", "mode": "serial", "device": "/dev/null", )";
    const std::string room = R"("name": "room", "mode": "onvif", "host": "10.0.0.1", )";
    const std::string desk = R"("name": "desk", "mode": "tracking", )";
    const auto one = [](const std::string& fields) { return R"({"cameras": [{)" + fields + "}]}"; };
    const std::pair<std::string, std::vector<std::string>> cases[] = {  // the file, what the tool says about it
        // The parser's own message would quote the unterminated password.
        {R"({"cameras": [)" + good + "\n{" + room + R"("password": ")" + password + "\n]}", {"not valid JSON", "line 2"}},
        {R"({"cameras": [)" + good + "{" + desk + R"("host": "10.0.0.2", "address": 1}]})", {"camera 'desk'", "field 'port' is missing"}},
        {one(podium + R"("baud": "9600")"), {"camera 'podium'", "field 'baud' must be a whole number"}},
        {one(room + R"("password": 12345)"), {"camera 'room'", "field 'password' must be text"}},
        {one(room + R"("move_timeout": "2s")"), {"camera 'room'", "field 'move_timeout' must be milliseconds, a whole number from 0"}},
        {one(R"("name": "room", "mode": "webcam", "host": "10.0.0.1", "password": ")" + password + "\""),
         {"camera 'room'", "field 'mode' must be serial, onvif, relay1, relay2, relay4, visca-ip or tracking, not 'webcam'"}},
        {R"({"cameras": [)" + good + R"({"name": "podium", "mode": "onvif", "host": "10.0.0.1"}]})",
         {"camera #2", "field 'name' 'podium' is taken by camera #1"}},
        {one(room + R"("pasword": ")" + password + "\""), {"camera 'room'", "unknown field 'pasword'"}},
        {one(room + R"("device": "/dev/ttyS0", "password": ")" + password + "\""),
         {"camera 'room'", "field 'device' does not belong to a camera of mode onvif"}},
        {one(desk + R"("host": "desk.local", "port": 5000)"), {"camera 'desk'", "field 'host' must be an IPv4 address"}},
        {one(room + R"("presets": {"0": "x"})"), {"camera 'room'", "field 'presets' has '0': preset numbers on this link are 1 to 256"}},
        {one(podium + R"("presets": {"1": "7"})"), {"camera 'podium'", "names preset 1 '7': a name must not be a number"}},
        {one(podium + R"("presets": {"1": "desk", "2": "desk"})"), {"camera 'podium'", "names presets 1 and 2 both 'desk'"}},
        {one(desk + R"("host": "10.0.0.2\u0000x", "port": 5000)"), {"camera 'desk'", "field 'host' must be an IPv4 address"}},
        {R"({"camera": []})", {"unknown field 'camera'"}},
        {one(podium + R"("reports": "no")"), {"camera 'podium'", "field 'reports' must be true or false"}},
        {one(podium + R"("baud": 1234)"), {"camera 'podium'", "field 'baud' must be a line speed"}},
        {one(room + R"("tls_fingerprint": ")" + std::string(64, 'a') + "\""),
         {"camera 'room'", "field 'tls_fingerprint' pins an HTTPS camera's certificate"}},
        // Beyond a double: the JSON reader's out-of-range error, not a parse error.
        {one(room + R"("port": 1e999)"), {"not valid JSON", "number out of range"}},
    };
    for (const auto& [content, says] : cases) {
        SCOPED_TRACE(content);
        const CCameraFile file(content);
        EXPECT_TRUE(Runs({"--cameras", file.Path(), "--camera", "podium", "up"}, 2, Plus(says, {file.Path() + ": "}),
                         {password, "12345"}));
    }
    EXPECT_TRUE(Runs({"--cameras", "/nonexistent/cameras.json", "--camera", "podium", "up"}, 2,
                     {"/nonexistent/cameras.json: cannot be read"}));
}

// The one expected table of what each link sends (tests/capabilities.json,
// also read by the Python and panel checks, which ask set-up cameras): the
// library's answer for a described link and the tool's refusals agree with it.
TEST(KorvaneTool, EveryFrontEndAgreesOnWhatALinkCanSend)
{
    const auto table = nlohmann::json::parse(std::ifstream(KORVANE_CAPABILITIES_TABLE));
    const auto& operations = table["operations"];
    CSerialPeer serial;
    CTrackingPeer tracking;
    CRelayPeer relay;
    korvane::sim::COnvifCamera onvif;
    korvane::sim::CViscaIpPeer viscaIp(0);
    const std::map<std::string, int> numbers = {{"serial", MODE_SERIAL}, {"network", MODE_NETWORK},
                                                {"tracking", MODE_TRACKSYSTEM}, {"pelco-d", 1}, {"pelco-p", 2},
                                                {"visca", 3}, {"relay1", 1}, {"relay2", 2}, {"onvif", 3},
                                                {"relay4", 4}, {"visca-ip", DEVICE_VISCA_IP}, {"null", 1}};
    const std::map<std::string, std::vector<std::string>> words = {
        {"move", {"up"}}, {"zoom", {"zoom", "in"}}, {"focus", {"focus", "far"}}, {"iris", {"iris", "open"}},
        {"preset", {"preset", "set", "9"}}, {"track", {"track", "on"}}, {"autozoom", {"autozoom", "on"}},
        {"autowrite", {"autowrite", "on"}}, {"test", {"test"}}};
    for (const auto& link : table["links"]) {
        const auto mode = static_cast<KORVANEMODE>(numbers.at(link["mode"]));
        const auto protocol = static_cast<PTZPROTOCOL>(numbers.at(link["protocol"]));
        const auto type = static_cast<DEVICETYPE>(numbers.at(link["device_type"].is_null() ? "null" : link["device_type"]));
        const auto system = static_cast<TRACKSYSTEMTYPE>(link["system_type"].is_null() ? 1 : int(link["system_type"]));
        const std::string name = link.dump();
        const auto can = [&](const std::string& op) {
            return std::find(link["can"].begin(), link["can"].end(), op) != link["can"].end();
        };
        std::vector<std::string> args;
        if (mode == MODE_SERIAL) args = {"--serial", serial.DeviceName()};
        if (mode == MODE_NETWORK)
            args = {"--network", "127.0.0.1", "--device-type", link["device_type"], "--port",
                    std::to_string(type == DEVICE_VISCA_IP ? viscaIp.Port() : onvif.Port()), "--user", "admin",
                    "--password", "secret"};
        if (mode == MODE_TRACKSYSTEM)
            args = {"--tracking", "127.0.0.1", "--port", std::to_string(tracking.Port()), "--system-type",
                    std::to_string(int(system))};
        args.insert(args.end(), {"--protocol", link["protocol"]});
        for (std::size_t index = 0; index < operations.size(); ++index) {
            const std::string op = operations[index];
            const auto code = static_cast<KORVANEOPERATION>(index + 1);
            EXPECT_EQ(std::string(korvane_operation_name(code)), op);
            char why[256] = "";
            EXPECT_EQ(CKorvane::LinkWhyCannot(mode, protocol, type, system, code, why, sizeof why) == 0, can(op))
                << name << " " << op;
            if (words.count(op))  // the tool's command for it, refused with the library's reason
                EXPECT_TRUE(Runs(Plus(args, words.at(op)), can(op) ? 0 : 2, {why})) << name;
        }
    }
}

// A VISCA-over-IP camera, the simulated one run as a process: a move for a
// while sends the drive and then its stop, from the command line and from the
// camera file alike; status prints where the camera says it is.
TEST(KorvaneToolViscaIp, DrivesTheSimulatedCameraAndReadsItsPosition)
{
    CToolProcess sim({"sim", "visca-ip", "--port", "0"});
    ASSERT_TRUE(sim.WaitForOutput("camera on 127.0.0.1:", 5s)) << sim.Output();
    ASSERT_TRUE(sim.WaitForOutput("\n", 5s));
    const std::string port = std::to_string(std::stoi(sim.Output().substr(sim.Output().rfind(':') + 1)));
    const CCameraFile file(R"({"cameras": [{"name": "hall", "mode": "visca-ip", "host": "127.0.0.1", "port": )" +
                           port + R"(, "address": 1, "pan_speed": 63}]})");
    const std::vector<std::string> direct = {"--network", "127.0.0.1", "--device-type", "visca-ip", "--port", port};
    const std::vector<std::string> named = {"--cameras", file.Path(), "--camera", "hall"};
    struct Case { std::vector<std::string> args; const char* says; std::vector<const char*> camera; };
    const Case cases[] = {
        {Plus(direct, {"left", "--for", "0.2s"}), "sent: left (visca-ip camera 127.0.0.1:" ,
         {"#1 seq 0 control: RESET", "#2 seq 1 command: visca addr 1: drive left pan speed 13", "#3 seq 2 command: visca addr 1: pan-tilt stop"}},
        {Plus(named, {"right", "--for", "0.2s"}), "sent: stop",
         {"#4 seq 0 control: RESET", "#5 seq 1 command: visca addr 1: drive right pan speed 24", "#6 seq 2 command: visca addr 1: pan-tilt stop"}},
        {Plus(direct, {"status"}), "pan 0.0003  tilt 0.0000", {"#8 seq 1 inquiry: pan-tilt position -> pan 11 tilt 0"}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Runs(c.args, 0, {c.says}));
        for (const char* line : c.camera) EXPECT_TRUE(sim.WaitForOutput(line, 5s)) << line << "\n" << sim.Output();
    }
    const Said refused[] = {{Plus(direct, {"--protocol", "pelco-d", "up"}), "speaks visca, not pelco-d"},
                            {Plus(direct, {"--address", "2", "up"}), "answers to address 1, not 2"},
                            {Plus(direct, {"track", "on"}), "has none"}};
    for (const Said& c : refused) EXPECT_TRUE(Runs(c.args, 2, {c.says}));
    EXPECT_TRUE(Runs({"--network", "127.0.0.1", "--device-type", "visca-ip", "--port", "1", "up"}, 1,
                     {"VISCA-over-IP camera at 127.0.0.1:1 did not open (RESET not answered"}));
}
