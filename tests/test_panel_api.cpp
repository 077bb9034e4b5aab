// "korvane panel" as other tools and pages use it: the tool runs as a child
// process on an ephemeral port of 127.0.0.1, its cameras are the simulated
// serial line and ONVIF camera, and the tests talk real HTTP and WebSocket.
#include "PanelClient.h"
#include "ToolProcess.h"
#include "sim/OnvifCamera.h"
#include "sim/SerialPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <regex>

#include <signal.h>
#include <sys/resource.h>

using namespace korvane::sim;
using namespace korvane::test;
using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPassword = "hunter2-never-shown";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The next frame on the line whose description matches (skipping others).
template <typename Match>
std::optional<std::string> FrameMatching(CSerialPeer& peer, Match match, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (const auto frame = peer.NextFrame(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())))
        if (const std::string described = DescribeFrame(*frame); match(described)) return described;
    return std::nullopt;
}

std::optional<std::string> FrameWith(CSerialPeer& peer, const std::string& text, std::chrono::milliseconds limit = 3s)
{
    return FrameMatching(peer, [&](const std::string& described) { return Has(described, text); }, limit);
}

// True when nothing but the calls a serial camera makes as it opens (presets
// 88 and 100) arrives within the time.
bool NoCommand(CSerialPeer& peer, std::chrono::milliseconds limit = 300ms)
{
    return !FrameMatching(
        peer, [](const std::string& d) { return !Has(d, "go to preset 88") && !Has(d, "go to preset 100"); }, limit);
}

// The time since a moment, printed for the log as "what: N ms".
std::chrono::milliseconds Took(const std::string& what, Clock::time_point since)
{
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
    std::printf("%s: %lld ms\n", what.c_str(), static_cast<long long>(took.count()));
    return took;
}

// A file of the temporary folder holding the text; the caller removes it.
std::string TempFile(const std::string& text)
{
    std::random_device random;
    const auto path = std::filesystem::temp_directory_path() / ("korvane-panel-test-" + std::to_string(random()) + ".json");
    std::ofstream(path) << text;
    return path.string();
}

// What the pattern's group matches in a process's output once it holds the
// text; empty when it does not in time.
std::string Printed(CToolProcess& tool, const std::string& text, const std::string& pattern)
{
    std::smatch match;
    const std::string output = tool.WaitForOutput(text) ? tool.Output() : "";
    return std::regex_search(output, match, std::regex(pattern)) ? match[1].str() : "";
}

// The port the panel printed: "open http://ADDR:PORT/".
std::uint16_t PanelPort(CToolProcess& tool)
{
    const std::string port = Printed(tool, "in a browser", R"(open http://[^:]+:(\d+)/)");
    return port.empty() ? 0 : static_cast<std::uint16_t>(std::stoi(port));
}

// The ONVIF camera "room" on this port of 127.0.0.1, with more settings.
json OnvifRoom(std::uint16_t port, const json& more = json::object())
{
    json camera = {{"name", "room"}, {"mode", "onvif"}, {"host", "127.0.0.1"}, {"port", port}};
    camera.update(more);
    return camera;
}

OnvifCameraOptions WithPassword()
{
    OnvifCameraOptions options;
    options.password = kPassword;
    return options;
}

// Each camera's state as a page sees it once none is opening any more (10 s
// at most); empty when the page got no greeting.
std::map<std::string, std::string> SettledStates(CPushClient& page)
{
    std::map<std::string, std::string> states;
    const auto hello = page.Next();
    if (!hello || (*hello)["type"] != "hello") return states;
    for (const json& camera : (*hello)["cameras"]) states[camera["camera"]] = camera["state"];
    const auto deadline = Clock::now() + 10s;
    while (std::any_of(states.begin(), states.end(), [](const auto& s) { return s.second == "opening"; }) &&
           Clock::now() < deadline)
        if (const auto message = page.Next(1s); message && (*message)["type"] == "state")
            states[(*message)["camera"]] = (*message)["state"];
    return states;
}

bool IsState(const json& message, const std::string& camera, const std::string& state)
{
    return message.value("type", "") == "state" && message.value("camera", "") == camera &&
           message.value("state", "") == state;
}

// Starts "korvane panel" serving these cameras on an ephemeral port of
// 127.0.0.1 (or where the arguments say); the camera file is read once, as the
// panel starts, and goes then.
class PanelRun : public ::testing::Test {
protected:
    // kept: the camera file to write and keep (and what the panel keeps beside it).
    void StartPanel(const json& cameras, std::vector<std::string> args = {"--listen", "127.0.0.1:0"},
                    const std::string& kept = "")
    {
        const std::string file = kept.empty() ? TempFile(json{{"cameras", cameras}}.dump()) : kept;
        if (!kept.empty()) std::ofstream(kept) << json{{"cameras", cameras}}.dump();
        args.insert(args.begin(), {"panel", "--cameras", file});
        m_pTool = std::make_unique<CToolProcess>(args);
        m_nPort = PanelPort(*m_pTool);
        if (kept.empty()) std::filesystem::remove(file);
        ASSERT_NE(m_nPort, 0) << m_pTool->Output();
    }

    std::unique_ptr<CToolProcess> m_pTool;
    std::uint16_t m_nPort = 0;
};
using PanelLink = PanelRun;
using PanelDiscovery = PanelRun;
using PanelAccess = PanelRun;

class PanelApi : public PanelRun {
protected:
    void SetUp() override
    {
        m_pOnvif = std::make_unique<COnvifCamera>(WithPassword());
        ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({
            {{"name", "podium"}, {"mode", "serial"}, {"device", m_peer.DeviceName()}, {"address", 1},
             {"presets", {{"1", "lectern"}}}},
            {{"name", "board"}, {"mode", "serial"}, {"device", m_peer.DeviceName()}, {"address", 2}, {"pan_speed", 20}},
            OnvifRoom(m_pOnvif->Port(), {{"user", "admin"}, {"password", kPassword}}),
            {{"name", "broken"}, {"mode", "serial"}, {"device", "/dev/korvane-no-such-device"}},
        })));
        // Every camera has settled once a page sees its final state.
        CPushClient page(m_nPort);
        const std::map<std::string, std::string> settled = {
            {"podium", "open"}, {"board", "open"}, {"room", "open"}, {"broken", "failed"}};
        ASSERT_EQ(SettledStates(page), settled) << m_pTool->Output() << Http(m_nPort, "GET", "/api/cameras").body;
    }

    // A command through the API is taken and puts its frame on the line within the time.
    bool Sends(const std::string& command, const json& body, const std::string& frame, std::chrono::milliseconds limit = 3s)
    {
        return Post(m_nPort, "/api/cameras/" + command, body).status == 200 && FrameWith(m_peer, frame, limit);
    }

    CSerialPeer m_peer;
    std::unique_ptr<COnvifCamera> m_pOnvif;
};

}  // namespace

TEST_F(PanelApi, AnApiMoveGoesOnWhileRenewedAndStopsWhenItsLeaseLapses)
{
    ASSERT_TRUE(Sends("podium/move", {{"direction", "left"}, {"hold_ms", 600}}, "addr 1: pan left speed 32"));
    // Renewed within its lease, the move goes on with no further frame.
    auto renewed = Clock::now();
    for (int i = 0; i < 4; ++i) {
        // The line takes its cameras' commands in turn: the other camera's
        // opening presets may still come after this move.
        EXPECT_TRUE(NoCommand(m_peer, 250ms)) << "renewal " << i;
        renewed = Clock::now();
        ASSERT_EQ(Post(m_nPort, "/api/cameras/podium/move", {{"direction", "left"}, {"hold_ms", 600}}).status, 200);
    }
    // The caller goes quiet: the camera stops once the lease has run out, not before.
    ASSERT_TRUE(FrameWith(m_peer, "addr 1: stop", 3s));
    const auto after = Took("API lease of 600 ms: stop after the last renewal", renewed);
    EXPECT_GE(after.count(), 550);
    EXPECT_LT(after.count(), 1000);

    // Zoom, focus and iris are held the same way; stop ends them at once.
    EXPECT_TRUE(Sends("board/zoom", {{"direction", "in"}}, "addr 2: zoom tele"));
    EXPECT_TRUE(Sends("board/stop", nullptr, "addr 2: stop", 500ms));
    EXPECT_TRUE(Sends("board/focus", {{"direction", "near"}}, "addr 2: focus near"));
    EXPECT_TRUE(Sends("board/iris", {{"direction", "open"}}, "addr 2: iris open"));
    EXPECT_TRUE(FrameWith(m_peer, "addr 2: stop", 2s));
}

TEST_F(PanelApi, APageThatGoesAwayStopsWhatItHolds)
{
    CPushClient watcher(m_nPort);  // a second page on the same room
    {
        CPushClient page(m_nPort);
        ASSERT_TRUE(page.Send({{"op", "hold"}, {"camera", "podium"}, {"motion", "up-right"}}));
        EXPECT_TRUE(FrameWith(m_peer, "addr 1: tilt up + pan right"));
        // The other page sees the camera move.
        ASSERT_TRUE(watcher.NextMatching([](const json& m) { return IsState(m, "podium", "open") && m["moving"] == "up-right"; }));
        // The page's connection ends without a goodbye (a killed browser).
        const auto dropped = Clock::now();
        page.Drop();
        ASSERT_TRUE(FrameWith(m_peer, "addr 1: stop", 2s));
        EXPECT_LT(Took("dropped push channel: stop", dropped), 500ms) << "a closed channel stops the camera at once";
    }
    EXPECT_TRUE(watcher.NextMatching(
        [](const json& m) { return m["type"] == "note" && m["camera"] == "podium" && Has(m["event"], "went away"); }));

    // A page whose network dies sends nothing more, and its channel stays open:
    // the lease it stopped renewing stops the camera within a second.
    CPushClient silent(m_nPort);
    ASSERT_TRUE(silent.Send({{"op", "hold"}, {"camera", "board"}, {"motion", "down"}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 2: tilt down speed 32"));
    const auto lastWord = Clock::now();
    ASSERT_TRUE(FrameWith(m_peer, "addr 2: stop", 3s));
    EXPECT_LT(Took("silent page (network gone, channel still open): stop after its last word", lastWord), 1000ms);

    // Release stops at once; a release by a page that no longer holds it does nothing.
    CPushClient first(m_nPort), second(m_nPort);
    ASSERT_TRUE(first.Send({{"op", "hold"}, {"camera", "podium"}, {"motion", "left"}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: pan left"));
    ASSERT_TRUE(second.Send({{"op", "hold"}, {"camera", "podium"}, {"motion", "right"}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: pan right"));
    ASSERT_TRUE(first.Send({{"op", "release"}, {"camera", "podium"}}));
    EXPECT_TRUE(m_peer.Silent(300ms)) << "the first page's release must not stop the second page's move";
    ASSERT_TRUE(second.Send({{"op", "release"}, {"camera", "podium"}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: stop", 300ms));
}

// However a page's press ends (its stop or release on the push channel, a
// stop through the API, letting go of everything), a renewal of that press
// still on its way moves the camera no more; a new press, or another page's,
// does.
TEST_F(PanelApi, ARenewalOfAPressThatAStopEndedDoesNotRestartTheMove)
{
    CPushClient page(m_nPort), other(m_nPort);
    const auto hold = [](std::uint64_t press) {
        return json{{"op", "hold"}, {"camera", "podium"}, {"motion", "left"}, {"press", press}};
    };
    const std::pair<const char*, std::function<bool(std::uint64_t)>> enders[] = {
        {"stop on the push channel", [&](std::uint64_t p) { return page.Send({{"op", "stop"}, {"camera", "podium"}, {"press", p}}); }},
        {"release", [&](std::uint64_t p) { return page.Send({{"op", "release"}, {"camera", "podium"}, {"press", p}}); }},
        {"stop through the API", [&](std::uint64_t) { return Post(m_nPort, "/api/cameras/podium/stop").status == 200; }},
        {"release-all", [&](std::uint64_t) { return page.Send({{"op", "release-all"}, {"why", "test"}}); }},
    };
    std::uint64_t press = 0;
    for (const auto& [how, end] : enders) {
        ASSERT_TRUE(page.Send(hold(++press)));
        ASSERT_TRUE(FrameWith(m_peer, "addr 1: pan left")) << how;
        ASSERT_TRUE(end(press)) << how;
        ASSERT_TRUE(FrameWith(m_peer, "addr 1: stop")) << how;
        ASSERT_TRUE(page.Send(hold(press)));  // the renewal that was on its way
        EXPECT_TRUE(NoCommand(m_peer)) << how << ": a late renewal restarted the move";
        EXPECT_TRUE(page.NextMatching([](const json& m) { return m["type"] == "error" && Has(m["message"], "already stopped"); }))
            << how;
    }
    // Press numbers are each page's own.
    ASSERT_TRUE(other.Send(hold(press)));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: pan left"));
    ASSERT_TRUE(other.Send({{"op", "stop"}, {"camera", "podium"}, {"press", press}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: stop"));
    json retake = hold(++press);
    retake["take"] = true;  // the other page's press took the camera over
    ASSERT_TRUE(page.Send(retake));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: pan left")) << "a new press moves again";
    ASSERT_TRUE(page.Send({{"op", "stop"}, {"camera", "podium"}, {"press", press}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: stop"));
}

// One page drives a camera at a time: another's hold takes it over, and the
// first page, told so, moves it no more until it takes it back.
TEST_F(PanelApi, ACameraTakenOverStopsAlternatingAndIsRefusedToTheFormerHolderUntilTaken)
{
    CPushClient first(m_nPort), second(m_nPort);
    const auto name = [](CPushClient& page) { return page.Next().value_or(json::object()).value("holder", ""); };
    const std::string firstName = name(first), secondName = name(second);
    const auto hold = [](const char* motion) { return json{{"op", "hold"}, {"camera", "podium"}, {"motion", motion}}; };
    ASSERT_TRUE(first.Send(hold("left")));
    ASSERT_TRUE(FrameWith(m_peer, "addr 1: pan left"));
    // Both keep renewing, as held buttons do: the camera turns right once and stays so.
    int changes = 0;
    std::string last = "pan left";
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(second.Send(hold("right")) && first.Send(hold("left")));
        while (const auto frame = m_peer.NextFrame(60ms))
            for (const char* direction : {"pan left", "pan right"})
                if (Has(DescribeFrame(*frame), direction) && last != direction) ++changes, last = direction;
    }
    EXPECT_EQ(changes, 1) << "the camera alternated between the two pages";
    const auto seen = [](CPushClient& page, const std::function<bool(const json&)>& match) {
        return page.NextMatching(match).has_value();
    };
    const json taken = {{"type", "taken"}, {"camera", "podium"}, {"reason", "taken over by another page"}};
    EXPECT_TRUE(seen(first, [&](const json& m) {
        json copy = m;
        return copy.erase("seq") == 1 && copy == taken;  // for that page alone, and nothing more
    }));
    EXPECT_TRUE(seen(first, [](const json& m) {
        return m["type"] == "error" && m.value("camera", "") == "podium" && Has(m["message"], "taken over by another page");
    }));
    const auto holds = [&](const std::string& holder, bool yours) {
        return [=](const json& m) { return m["type"] == "state" && m["holder"] == holder && m["held_by_you"] == yours; };
    };
    EXPECT_TRUE(seen(second, holds(secondName, true)));
    EXPECT_TRUE(seen(first, holds(secondName, false)));
    ASSERT_TRUE(first.Send({{"op", "take"}, {"camera", "podium"}}));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: stop")) << "taking the camera ends the other page's move";
    EXPECT_TRUE(seen(second, [](const json& m) { return m["type"] == "taken"; }));
    ASSERT_TRUE(first.Send(hold("left")));
    EXPECT_TRUE(FrameWith(m_peer, "addr 1: pan left"));
    // The API is refused the same way once a page took the camera from it, until it takes it back.
    const auto move = [&] { return Post(m_nPort, "/api/cameras/podium/move", {{"direction", "up"}}); };
    EXPECT_EQ(move().status, 200);
    EXPECT_TRUE(seen(first, holds("api", false)));
    ASSERT_TRUE(first.Send({{"op", "take"}, {"camera", "podium"}}));
    ASSERT_TRUE(seen(first, holds(firstName, true)));
    const HttpReply refused = move();
    EXPECT_EQ(refused.status, 409);
    EXPECT_TRUE(Has(refused.Error(), "taken over by another page")) << refused.body;
    EXPECT_EQ(Post(m_nPort, "/api/cameras/podium/take").status, 200);
    EXPECT_EQ(move().status, 200);
    EXPECT_EQ(Http(m_nPort, "GET", "/api/cameras/podium").Json().value("holder", ""), "api");
}

TEST_F(PanelApi, ReportsReachEveryPageInOrderAndTheFeedKeepsThem)
{
    CPushClient one(m_nPort), two(m_nPort);
    for (CPushClient* page : {&one, &two}) {
        const auto hello = page->Next();
        ASSERT_TRUE(hello && (*hello)["type"] == "hello") << "no greeting";
    }
    const std::vector<std::pair<int, std::uint8_t>> sent = {{1, 0x50}, {2, 0x56}, {1, 0x52}, {2, 0x57}, {1, 0x51}};
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"podium", "target appears"}, {"board", "writing starts"}, {"podium", "close-up ready"},
        {"board", "writing stops"},   {"podium", "target disappears"}};
    for (const auto& [address, code] : sent) ASSERT_TRUE(m_peer.SendReturnCode(address, code));
    for (CPushClient* page : {&one, &two}) {
        std::uint64_t lastSeq = 0;
        for (const auto& [camera, event] : expected) {
            const auto report = page->NextMatching([](const json& m) { return m["type"] == "report"; });
            ASSERT_TRUE(report) << Http(m_nPort, "GET", "/api/feed").body;
            EXPECT_EQ((*report)["camera"], camera);
            EXPECT_EQ((*report)["event"], event);
            EXPECT_GT((*report)["seq"].get<std::uint64_t>(), lastSeq);
            lastSeq = (*report)["seq"];
            EXPECT_TRUE(std::regex_match((*report)["time"].get<std::string>(), std::regex(R"(\d\d:\d\d:\d\d\.\d{3})")));
        }
    }
    // The feed: newest first, each with its bytes.
    const auto feed = Http(m_nPort, "GET", "/api/feed").Json()["feed"];
    std::vector<json> reports;
    std::copy_if(feed.begin(), feed.end(), std::back_inserter(reports), [](const json& e) { return e["type"] == "report"; });
    ASSERT_EQ(reports.size(), expected.size()) << feed;
    EXPECT_EQ(reports.front()["event"], "target disappears");
    EXPECT_EQ(reports.front()["bytes"], "ff 01 00 07 00 51 59");
    EXPECT_EQ(reports.back()["event"], "target appears");
    // A page opened later gets the feed in its greeting.
    CPushClient late(m_nPort);
    const auto hello = late.Next();
    ASSERT_TRUE(hello);
    EXPECT_EQ((*hello)["feed"], feed);
}

TEST_F(PanelApi, PresetsSwitchesSpeedAndTestReachTheCameras)
{
    // Each command reaches its camera: a frame on the line, or the ONVIF camera's
    // request; every other one comes from a page, as {"op", "camera", ...the body}.
    CPushClient page(m_nPort);
    bool byPage = false;
    const struct {
        const char* command;
        json body;
        const char* arrives;  // empty: nothing to wait for
    } steps[] = {{"podium/preset", {{"action", "set"}, {"number", 7}}, "addr 1: set preset 7"},
                 {"podium/preset", {{"action", "go"}, {"number", 7}}, "addr 1: go to preset 7"},
                 {"podium/preset", {{"action", "clear"}, {"number", 7}}, "addr 1: clear preset 7"},
                 {"board/track", {{"on", true}}, "addr 2: go to preset 80"},
                 {"board/track", {{"on", false}}, "addr 2: go to preset 81"},
                 {"board/speed", {{"pan", 10}, {"tilt", 50}}, ""},
                 {"board/move", {{"direction", "down-left"}}, "addr 2: tilt down + pan left speed 10/50"},
                 {"board/stop", nullptr, "addr 2: stop"},
                 {"podium/test", nullptr, "connection test addr 1"},
                 {"room/preset", {{"action", "go"}, {"number", 3}}, "GotoPreset"},
                 {"room/preset", {{"action", "go"}, {"number", 256}}, "GotoPreset"},
                 {"room/preset", {{"action", "clear"}, {"number", 3}}, "RemovePreset"},
                 {"room/home", {{"action", "go"}}, "GotoHomePosition"},
                 {"room/home", {{"action", "set"}}, "SetHomePosition"},
                 {"room/move", {{"direction", "up"}}, "ContinuousMove"}};
    for (const auto& step : steps) {
        const std::string command = step.command, camera = command.substr(0, command.find('/'));
        json message = step.body.is_null() ? json::object() : step.body;
        message.update({{"op", command.substr(camera.size() + 1)}, {"camera", camera}});
        if ((byPage = !byPage)) ASSERT_TRUE(page.Send(message)) << step.command;
        else ASSERT_EQ(Post(m_nPort, "/api/cameras/" + command, step.body).status, 200) << step.command;
        if (Has(step.command, "room/")) EXPECT_TRUE(m_pOnvif->NextOf(step.arrives, 3s)) << step.command;
        else if (*step.arrives) EXPECT_TRUE(FrameWith(m_peer, step.arrives)) << step.command;
    }
    EXPECT_TRUE(m_pOnvif->NextOf("Stop", 3s)) << "the lease lapses for ONVIF cameras too";

    const json cameras = Http(m_nPort, "GET", "/api/cameras").Json()["cameras"];
    ASSERT_EQ(cameras.size(), 4u);
    EXPECT_EQ(cameras[1]["name"], "board");
    EXPECT_EQ(cameras[1]["pan_speed"], 10);
    EXPECT_EQ(cameras[1]["switches"]["track"], false);
    EXPECT_EQ(cameras[3]["state"], "failed");
    EXPECT_TRUE(Has(cameras[3]["reason"], "cannot open serial device /dev/korvane-no-such-device")) << cameras[3];
    // Presets: the link's range (what each link can send is checked against the table) and the file's names.
    EXPECT_EQ(cameras[0]["presets"], json({{"first", 0}, {"last", 255}, {"names", {{"1", "lectern"}}}}));
    // The ONVIF camera's own presets follow each call: 3 and 256 stored by their go-to, then 3 cleared.
    EXPECT_EQ(cameras[2]["presets"],
              json({{"first", 1}, {"last", 256}, {"names", json::object()}, {"stored", {1, 256}}}));
    // A serial line never answers, and its card says so instead of claiming a check; the ONVIF camera answered.
    EXPECT_TRUE(Has(cameras[0]["unchecked"], "has not answered")) << cameras[0];
    EXPECT_EQ(cameras[2]["unchecked"], "") << cameras[2];
}

TEST_F(PanelApi, BadRequestsAreRefusedWithAReasonAndPasswordsNeverShow)
{
    struct Case {
        const char* method;
        std::string target;
        std::string body;
        int status;
        const char* says;
        std::map<std::string, std::string> headers = {};
    };
    const std::string big(20000, 'x');
    const std::string origin = "http://127.0.0.1:" + std::to_string(m_nPort);  // the panel's own page
    while (m_pOnvif->NextRequest(0ms)) continue;
    const Case cases[] = {
        {"POST", "/api/cameras/podium/move", "{\"direction\": ", 400, "not JSON"},
        {"POST", "/api/cameras/podium/move", "[1, 2]", 400, "a JSON object"},
        {"POST", "/api/cameras/podium/move", "{\"direction\": \"sideways\"}", 400, "unknown direction 'sideways'"},
        {"POST", "/api/cameras/podium/move", "{\"direction\": 4}", 400, "wants \"direction\""},
        {"POST", "/api/cameras/podium/move", "{\"direction\": \"up\", \"hold_ms\": 60000}", 400, "hold_ms"},
        {"POST", "/api/cameras/podium/zoom", "{\"direction\": \"left\"}", 400, "in or out"},
        {"POST", "/api/cameras/podium/preset", "{\"action\": \"go\", \"number\": -1}", 400, "from 0 to 9999"},
        {"POST", "/api/cameras/podium/preset", "{\"action\": \"overwrite\", \"number\": 3}", 400, "go, set or clear"},
        {"POST", "/api/cameras/podium/track", "{\"on\": \"yes\"}", 400, "true or false"},
        {"POST", "/api/cameras/podium/speed", "{\"pan\": 64}", 400, "0 to 63"},
        {"POST", "/api/cameras/podium/move", "{\"direction\": \"up\", \"take\": 1}", 400, "\"take\" wants true or false"},
        {"POST", "/api/interfaces", "", 405, "GET"},
        {"POST", "/api/cameras/nobody/move", "{\"direction\": \"up\"}", 404, "no camera named 'nobody'"},
        {"POST", "/api/cameras/podium/dance", "", 404, "no command 'dance'"},
        {"POST", "/api/nothing", "", 404, "nothing at /api/nothing"},
        {"GET", "/api/cameras/podium/move", "", 405, "POST"},
        {"POST", "/api/cameras", "", 400, "wants \"mode\""},
        {"PUT", "/api/cameras", "", 405, "GET or POST"},
        {"POST", "/api/cameras/broken/move", "{\"direction\": \"up\"}", 409, "not open"},
        // What the camera's link cannot send (a motion, a switch), or a preset beyond its range:
        // refused, nothing sent.
        {"POST", "/api/cameras/room/iris", "{\"direction\": \"open\"}", 422, "cannot iris"},
        {"POST", "/api/cameras/room/track", "{\"on\": true}", 422, "cannot track"},
        {"POST", "/api/cameras/room/preset", "{\"action\": \"go\", \"number\": 257}", 422, "presets 1 to 256"},
        {"POST", "/api/cameras/room/preset", "{\"action\": \"set\", \"number\": 0}", 422, "presets 1 to 256"},
        {"POST", "/api/cameras/podium/preset", "{\"action\": \"go\", \"number\": 256}", 422, "presets 0 to 255"},
        {"POST", "/api/cameras/podium/home", "", 422, "cannot home"},
        {"POST", "/api/cameras/room/home", "{\"action\": \"reset\"}", 400, "go or set"},
        // A search comes from the panel's own page only (it sends its Origin), even with no token.
        {"GET", "/api/discover?timeout_ms=20", "", 400, "100 to 10000", {{"Origin", origin}}},
        {"PUT", "/api/discover", "", 405, "GET or POST", {{"Origin", origin}}},
        {"GET", "/api/discover?timeout_ms=100", "", 403, "panel's own page"},
        {"POST", "/api/discover?timeout_ms=100", "", 403, "panel's own page"},
        {"POST", "/api/discover?timeout_ms=100", "", 403, "another site", {{"Origin", "http://localhost:1"}}},
        {"POST", "/api/cameras/podium/move", big, 413, "16 KiB"},
        {"POST", "/api/cameras/podium/move", "direction=up", 415, "application/json",
         {{"Content-Type", "application/x-www-form-urlencoded"}}},
        {"GET", "/api/cameras", "", 403, "127.0.0.1 only", {{"Host", "evil.example:8420"}}},
        {"POST", "/api/discover", "", 403, "127.0.0.1 only", {{"Host", "evil.example:8420"}}},
        {"POST", "/api/cameras/podium/stop", "", 403, "another site", {{"Origin", "http://evil.example"}}},
        // Text that is no UTF-8, from any page (a cross-site GET carries no Origin).
        {"GET", "/api/cameras/%FF", "", 404, "no camera named"},
        {"GET", "/api/cameras/\xff\xfe", "", 404, "no camera named"},
        {"GET", "/api/\xc3", "", 404, "nothing at"},
        {"POST", "/api/cameras/%E9/move", "{\"direction\": \"up\"}", 404, "no camera named"},
        {"POST", "/api/cameras/podium/move", "{\"direction\": \"\xe9\"}", 400, "not JSON"},
        {"POST", "/api/cameras/podium/move", "{\"direction\": \"\xff\"", 400, "not JSON"},
        {"POST", "/api/cameras/podium/preset", "{\"action\": \"\xc3\x28\", \"number\": 1}", 400, "not JSON"},
        {"POST", "/api/cameras/podium/%FF", "", 404, "no command"},
    };
    for (const Case& c : cases) {
        const auto reply = Http(m_nPort, c.method, c.target, c.body, c.headers);
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.target << " " << c.body.substr(0, 60) << "\n" << reply.body;
        EXPECT_TRUE(Has(reply.Error(), c.says)) << c.target << ": " << reply.body;
    }
    // A search that finds nothing says what to try next (no address of this machine: nothing is sent).
    const json none = Http(m_nPort, "POST", "/api/discover?timeout_ms=100&interface=198.51.100.77", "", {{"Origin", origin}}).Json();
    EXPECT_EQ(none["cameras"], json::array()) << none;
    EXPECT_TRUE(Has(none.value("hint", ""), "wrong interface: no interface of this machine has the address 198.51.100.77")) << none;
    // JSON answers are never sniffed nor kept; HEAD gets the page's header alone.
    for (auto reply : {Http(m_nPort, "GET", "/api/cameras"), Http(m_nPort, "GET", "/api/nothing")}) {
        EXPECT_EQ(reply.headers["X-Content-Type-Options"], "nosniff");
        EXPECT_EQ(reply.headers["Cache-Control"], "no-store");
    }
    auto head = Http(m_nPort, "HEAD", "/");
    EXPECT_EQ(head.status, 200) << head.received;
    EXPECT_EQ(head.received.find("\r\n\r\n") + 4, head.received.size()) << "HEAD / sent a body: " << head.received;
    EXPECT_NE(head.headers["Content-Length"], "") << head.received;
    // Nothing moved and the panel still serves.
    EXPECT_TRUE(NoCommand(m_peer));
    for (std::optional<OnvifRequest> r; (r = m_pOnvif->NextRequest(0ms));)
        EXPECT_EQ(r->operation, "GetStatus") << "a refused command sends nothing to the ONVIF camera (a page reads where it points)";
    EXPECT_EQ(Http(m_nPort, "GET", "/api/cameras").status, 200);
    EXPECT_EQ(CPushClient(m_nPort, "/api/elsewhere").Status(), 404);

    // The page, the API and the push channel show the ONVIF camera without its password.
    auto page = Http(m_nPort, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(Has(page.headers["Content-Type"], "text/html"));
    EXPECT_TRUE(Has(page.body, "<script>")) << "the script is part of the page";
    CPushClient channel(m_nPort);
    const auto hello = channel.Next();
    ASSERT_TRUE(hello);
    for (const std::string& text : {page.body, Http(m_nPort, "GET", "/api/cameras").body, hello->dump(),
                                    Http(m_nPort, "GET", "/api/feed").body, Http(m_nPort, "GET", "/api/cameras/room").body})
        EXPECT_FALSE(Has(text, kPassword)) << text;
    EXPECT_TRUE(Has(Http(m_nPort, "GET", "/api/cameras/room").body, "onvif camera 127.0.0.1:"));
    EXPECT_FALSE(Has(m_pTool->Output(), kPassword)) << "nor does the console";
}

// Mistakes, text that is no UTF-8, JSON of the wrong shape and terminal
// escapes reach the panel from a page: each is answered, the panel goes on
// serving, and a held camera still stops.
TEST_F(PanelApi, HostileTextIsAnsweredAndNeverEndsThePanel)
{
    // Each is answered on the channel, which stays open.
    CPushClient page(m_nPort);
    const std::pair<std::string, const char*> messages[] = {
        {R"({"op": "hold", "camera": "podium", "motion": "sideways"})", "unknown motion 'sideways'"},
        {R"({"op": "hold", "camera": "broken", "motion": "up"})", "not open"},
        {R"({"op": "hold", "camera": "room", "motion": "iris-open"})", "cannot iris"},
        {"{\"op\": \"hold\", \"camera\": \"\xff\", \"motion\": \"up\"}", "not JSON"},
        {"{\"op\": \"\xe9\"}", "not JSON"},
        {"[1, 2]", "a JSON object"},
        {"{\"op\": 5}", "wrong type"},
        {"{\"op\": \"hold\", \"camera\": \"podium\", \"motion\": \"\xc3\"}", "not JSON"},
    };
    for (const auto& [message, says] : messages) {
        ASSERT_TRUE(page.SendText(message, true));  // binary: a text frame must be UTF-8
        const auto error = page.NextMatching([](const json& m) { return m["type"] == "error"; });
        EXPECT_TRUE(error && Has((*error)["message"], says)) << message << " " << error.value_or(json()).dump();
    }
    // Still serving, the held camera stops; the page's words reach the console
    // escaped: no title set, no screen cleared.
    const std::string escapes = "\x1b]0;owned\x07\x1b[2J\xc2\x9b";  // the last: CSI, U+009B
    ASSERT_TRUE(page.Send({{"op", "hold"}, {"camera", "board"}, {"motion", "down"}}));
    ASSERT_TRUE(FrameWith(m_peer, "addr 2: tilt down"));
    ASSERT_TRUE(page.Send({{"op", "release-all"}, {"why", escapes}}));
    ASSERT_TRUE(FrameWith(m_peer, "addr 2: stop", 1s));
    ASSERT_TRUE(m_pTool->WaitForOutput("the page let go")) << m_pTool->Output();
    EXPECT_FALSE(Has(m_pTool->Output(), "\x1b]0;")) << m_pTool->Output();
    EXPECT_TRUE(Has(m_pTool->Output(), "\\x1b]0;owned\\x07\\x1b[2J\\x9b")) << m_pTool->Output();
}

// A slow ONVIF camera (50 ms a request) held left and right in turn by a
// page: a release's stop goes out next, not behind a queue of moves.
TEST_F(PanelApi, AStopOvertakesTheMovesASlowCameraHasNotSent)
{
    m_pOnvif->SetPace({50ms, 0ms});
    CPushClient page(m_nPort);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(page.Send({{"op", "hold"}, {"camera", "room"}, {"motion", i % 2 ? "right" : "left"}}));
    // A page's messages are handled in order: once an unknown one is answered,
    // the panel has taken every hold.
    ASSERT_TRUE(page.Send({{"op", "every-hold-taken"}}));
    ASSERT_TRUE(page.NextMatching([](const json& m) { return m["type"] == "error"; }, 10s));
    ASSERT_TRUE(m_pOnvif->NextOf("ContinuousMove", 3s));
    while (m_pOnvif->NextRequest(0ms)) continue;
    const auto released = Clock::now();
    ASSERT_TRUE(page.Send({{"op", "release"}, {"camera", "room"}}));
    int moves = 0;
    std::optional<OnvifRequest> request;
    // A page is open, so positions are read too: a read is no more allowed to go first than a move.
    while ((request = m_pOnvif->NextRequest(30s)) && request->operation != "Stop")
        moves += request->operation == "ContinuousMove" || request->operation == "GetStatus";
    ASSERT_TRUE(request) << "no stop at all";
    const auto late = Took("slow camera, 200 alternating holds, " + std::to_string(moves) +
                               " requests before the stop: stop after the release",
                           released);
    EXPECT_LE(moves, 1) << "at most the request in flight goes before the stop";
    EXPECT_LT(late, 500ms);
}

// Where an ONVIF camera points is read while it moves and a page watches, at
// most four times a second, and never while no page is open.
TEST_F(PanelApi, APageSeesWhereAMovingOnvifCameraPointsAndNoPageMeansNoReading)
{
    const auto pages = [&] { return Http(m_nPort, "GET", "/api/cameras").Json()["pages"]; };
    for (const auto deadline = Clock::now() + 3s; pages() != 0 && Clock::now() < deadline;) {
    }
    ASSERT_EQ(pages(), 0);
    ASSERT_EQ(Post(m_nPort, "/api/cameras/room/move", {{"direction", "right"}, {"hold_ms", 300}}).status, 200);
    for (std::optional<OnvifRequest> r; (r = m_pOnvif->NextRequest(1500ms));)
        EXPECT_NE(r->operation, "GetStatus") << "read with no page open";
    CPushClient page(m_nPort);
    ASSERT_EQ(Post(m_nPort, "/api/cameras/room/move", {{"direction", "right"}, {"hold_ms", 1000}}).status, 200);
    const auto held = Clock::now();
    std::vector<double> pans;
    while (pans.size() < 3)
        if (const auto m = page.NextMatching([](const json& m) { return m["type"] == "position"; }, 2s))
            pans.push_back((*m)["pan"]);
        else
            FAIL() << "no position message; seen: " << pans.size();
    EXPECT_TRUE(pans[0] < pans[1] && pans[1] < pans[2]) << pans[0] << " " << pans[1] << " " << pans[2];
    int reads = 0;
    for (std::optional<OnvifRequest> r; (r = m_pOnvif->NextRequest(0ms));) reads += r->operation == "GetStatus";
    const double seconds = std::chrono::duration<double>(Clock::now() - held).count();
    std::printf("position read %d times in %.2f s of a held move\n", reads, seconds);
    EXPECT_LE(reads, 4 * seconds + 2);
    EXPECT_TRUE(Http(m_nPort, "GET", "/api/cameras/room").Json()["position"]["pan"].is_number());
}

// Standard output a pipe nobody reads, then one nobody reads from at all: the
// room never waits for it, and a hangup ends the panel only after every camera stopped.
TEST_F(PanelApi, ABlockedOrClosedOutputHoldsUpNothingAndAHangupStopsEveryCamera)
{
    CPushClient page(m_nPort);
    const std::string why(8000, 'x');  // each release prints a line of 8 KB
    for (int i = 0; i < 80; ++i) {
        ASSERT_TRUE(page.Send({{"op", "hold"}, {"camera", "podium"}, {"motion", "left"}}));
        ASSERT_TRUE(page.Send({{"op", "release-all"}, {"why", why}}));
        ASSERT_EQ(Http(m_nPort, "GET", "/api/feed", "", {}, 2s).status, 200) << "release " << i << " left HTTP stuck";
    }
    ASSERT_TRUE(Sends("board/move", {{"direction", "right"}, {"hold_ms", 300}}, "addr 2: pan right"));
    const auto renewed = Clock::now();
    ASSERT_TRUE(FrameWith(m_peer, "addr 2: stop", 2s)) << "the watchdog stops the lapsed move";
    EXPECT_LT(Took("blocked output: the lapsed lease's stop after the move", renewed), 1000ms);
    // Read again, the output tells how much it dropped.
    EXPECT_TRUE(m_pTool->WaitForOutput("lines dropped: nobody read the output", 10s));

    ASSERT_TRUE(Sends("podium/move", {{"direction", "left"}, {"hold_ms", 1500}}, "addr 1: pan left"));
    // Nobody reads the output any more: the line the preset prints breaks the pipe.
    m_pTool->CloseOutput();
    EXPECT_EQ(Post(m_nPort, "/api/cameras/board/preset", {{"action", "set"}, {"number", 5}}).status, 200);
    ASSERT_TRUE(FrameWith(m_peer, "addr 1: stop", 3s)) << "the lease ends the move in a panel that lives on";
    EXPECT_EQ(Http(m_nPort, "GET", "/api/cameras").status, 200);

    ASSERT_TRUE(Sends("board/move", {{"direction", "up"}, {"hold_ms", 10000}}, "addr 2: tilt up"));
    m_pTool->Signal(SIGHUP);
    ASSERT_TRUE(FrameWith(m_peer, "addr 2: stop", 2s)) << "SIGHUP stops every camera before the panel ends";
}

// The tool's other long runs stop the camera on a closed terminal too.
// Clients that open connections and send half a request: each is dropped after
// 5 s, and out of descriptors the panel gives the oldest idle one's back
// instead of leaving new clients unanswered.
TEST_F(PanelApi, HalfSentRequestsNeitherStarveTheServerNorLinger)
{
    // Descriptors run out: the panel may hold 64 at most from now on.
    const rlimit few{64, 64};
    ASSERT_EQ(::prlimit(m_pTool->Pid(), RLIMIT_NOFILE, &few, nullptr), 0);
    std::vector<std::unique_ptr<CRawConnection>> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(std::make_unique<CRawConnection>(m_nPort));
        idle.back()->Send("GET / HTTP/1.1\r\n");
    }
    const auto asked = Clock::now();
    const auto reply = Http(m_nPort, "GET", "/api/cameras", "", {}, 3s);
    EXPECT_EQ(reply.status, 200) << "a new client is answered while 100 idle ones hold the descriptors";
    Took("out of descriptors: a new client answered", asked);
    // Moves still go through the panel.
    EXPECT_TRUE(Sends("podium/stop", nullptr, "addr 1: stop"));
    CRawConnection slow(m_nPort);
    slow.Send("GET /api/cameras HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    const auto opened = Clock::now();
    ASSERT_TRUE(slow.ReadToEnd(10s)) << "a half-sent request is not dropped";
    const auto held = Took("a half-sent request dropped", opened);
    EXPECT_GT(held, 4s);
    EXPECT_LT(held, 7s);
}

// What a parent leaves to the tool for one signal: as it comes, ignored, or
// blocked in the mask. Set on this thread while the child starts (it inherits both).
class CInherited {
public:
    enum How { Default, Ignored, Blocked };
    CInherited(int signal, How how) : m_nSignal(signal)
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(signal, how == Ignored ? &ignore : nullptr, &m_old);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal);
        ::pthread_sigmask(how == Blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, &m_mask);
    }
    ~CInherited()
    {
        ::sigaction(m_nSignal, &m_old, nullptr);
        ::pthread_sigmask(SIG_SETMASK, &m_mask, nullptr);
    }

private:
    int m_nSignal;
    struct sigaction m_old {};
    sigset_t m_mask;
};

// Every signal that ends the tool stops the camera first, in each long run
// and whatever the parent left; a closed pipe (SIGPIPE) ends none of them.
TEST(PanelTool, EverySignalThatEndsTheToolStopsTheCameraFirst)
{
    struct Mode {
        const char* name;
        std::vector<std::string> command;  // after the serial link; "panel" serves it from a camera file
        std::string key;                   // pressed once it runs, on a terminal
        std::string moves;                 // the frame its move sends; empty: it moves nothing
    };
    const Mode modes[] = {
        {"--for", {"left", "--for", "60s"}, "", "pan left"},
        {"interactive", {"interactive"}, "\x1b[C", "pan right"},
        {"listen", {"listen"}, "", ""},
        {"panel", {"panel"}, "", "pan left"},
    };
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};
    int row = 0;
    for (const Mode& mode : modes)
        for (const int signal : signals) {
            const auto how = static_cast<CInherited::How>(row++ % 3);
            const std::string label = std::string(mode.name) + " " + strsignal(signal) + " inherited " +
                                      std::to_string(how) + "\n";
            CSerialPeer peer;
            std::vector<std::string> args = {"--serial", peer.DeviceName()};
            args.insert(args.end(), mode.command.begin(), mode.command.end());
            std::string file;
            if (mode.command[0] == "panel") {
                file = TempFile(json{{"cameras", {{{"name", "podium"}, {"mode", "serial"}, {"device", peer.DeviceName()}}}}}.dump());
                args = {"panel", "--cameras", file, "--listen", "127.0.0.1:0"};
            }
            std::optional<CToolProcess> tool;
            {
                const CInherited inherited(signal, how);
                tool.emplace(args, !mode.key.empty());
            }
            if (!mode.key.empty()) {
                ASSERT_TRUE(tool->WaitForOutput("q (or Ctrl-C) quits")) << label << tool->Output();
                tool->Write(mode.key);
            }
            if (!file.empty()) {
                const std::uint16_t port = PanelPort(*tool);
                std::filesystem::remove(file);
                CPushClient page(port);
                ASSERT_EQ(SettledStates(page)["podium"], "open") << label << tool->Output();
                ASSERT_EQ(Post(port, "/api/cameras/podium/move", {{"direction", "left"}, {"hold_ms", 10000}}).status, 200)
                    << label << tool->Output();
            }
            if (mode.moves.empty()) ASSERT_TRUE(tool->WaitForOutput("listening to")) << label << tool->Output();
            else ASSERT_TRUE(FrameWith(peer, mode.moves)) << label << tool->Output();
            tool->Signal(signal);
            if (signal == SIGPIPE) {
                // It goes on as if nothing came; a stop signal still ends it properly.
                EXPECT_TRUE(NoCommand(peer)) << label;
                EXPECT_FALSE(tool->WaitExit(0ms)) << label << tool->Output();
                tool->Signal(SIGTERM);
            }
            if (!mode.moves.empty()) EXPECT_TRUE(FrameWith(peer, "addr 1: stop", 2s)) << label << tool->Output();
            EXPECT_EQ(tool->WaitExit(), 0) << label << tool->Output();
        }
}

TEST_F(PanelLink, AKilledOnvifCameraIsShownFailedWithinASecondOfACommandAndOpenOnceItAnswers)
{
    // The camera is a process of its own, so that killing it closes its connections as a crash would.
    const auto startCamera = [](const std::string& port) {
        auto camera = std::make_unique<CToolProcess>(std::vector<std::string>{"sim", "onvif", "--port", port});
        return camera->WaitForOutput("http://127.0.0.1:") ? std::move(camera) : nullptr;
    };
    auto camera = startCamera("0");
    ASSERT_TRUE(camera);
    const std::string port = Printed(*camera, "http://127.0.0.1:", R"(http://127\.0\.0\.1:(\d+)/)");
    const auto number = static_cast<std::uint16_t>(std::stoi(port));
    ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({OnvifRoom(number, {{"user", "admin"}, {"password", "secret"}})})));
    CPushClient page(m_nPort);
    ASSERT_EQ(SettledStates(page)["room"], "open") << m_pTool->Output();
    struct Step {
        bool cameraUp;
        const char* command;
        json body;
        const char* state;
        const char* why;  // in the reason: this command's failure, not the lease's stop that follows
        int status;       // the command's answer: 502 with the reason when the camera failed
    };
    // A command or test fails: the camera shows failed and why; the first one answered: open again.
    const Step steps[] = {{false, "move", {{"direction", "left"}, {"hold_ms", 300}}, "failed", "ContinuousMove", 502},
                          {true, "test", nullptr, "open", "", 200},
                          {false, "preset", {{"action", "go"}, {"number", 2}}, "failed", "Preset", 502},
                          {true, "move", {{"direction", "up"}, {"hold_ms", 300}}, "open", "", 200},
                          {false, "test", nullptr, "failed", "failed the test", 502}};
    for (const Step& step : steps) {
        camera.reset();  // killed
        if (step.cameraUp) ASSERT_TRUE(camera = startCamera(port));
        const auto sent = Clock::now();
        const HttpReply reply = Post(m_nPort, std::string("/api/cameras/room/") + step.command, step.body);
        EXPECT_EQ(reply.status, step.status) << step.command << ": " << reply.body;
        EXPECT_EQ(reply.Error().empty(), step.status == 200) << reply.body;
        if (step.command == std::string("test") && step.status == 200) EXPECT_EQ(reply.Json()["result"], "answered");
        const auto state = page.NextMatching(
            [&](const json& m) { return IsState(m, "room", step.state) && Has(m["reason"], step.why); }, 3s);
        ASSERT_TRUE(state) << step.command << "\n" << m_pTool->Output();
        EXPECT_LT(Took(std::string(step.state) + " after " + step.command + " (" + (*state)["reason"].get<std::string>() + "): shown", sent), 1000ms);
        EXPECT_EQ((*state)["reason"].get<std::string>().empty(), std::string(step.state) == "open") << *state;
    }
}

// "Find cameras" searches beside the server, which answers meanwhile; run in a
// network namespace (tests/in_netns.sh), it finds the simulated camera.
TEST_F(PanelDiscovery, FindCamerasListsTheCameraAndTheServerAnswersMeanwhile)
{
    if (const char* in = std::getenv("KORVANE_NETNS"); !in || std::string(in) != "1")
        GTEST_SKIP() << (std::getenv("KORVANE_NETNS_SKIP") ? std::getenv("KORVANE_NETNS_SKIP") : "multicast wants tests/in_netns.sh");
    OnvifCameraOptions options;
    options.probeInterface = "127.0.0.1";
    COnvifCamera onvif(options);
    ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({OnvifRoom(onvif.Port())})));
    auto search = std::async(std::launch::async,
                             [&] {
                                 return Http(m_nPort, "POST", "/api/discover?timeout_ms=1500&interface=127.0.0.1", "",
                                             {{"Origin", "http://127.0.0.1:" + std::to_string(m_nPort)}});
                             });
    auto slowest = 0ms;
    int answered = 0;
    for (; search.wait_for(0ms) != std::future_status::ready; ++answered) {
        const auto asked = Clock::now();
        EXPECT_EQ(Http(m_nPort, "GET", "/api/cameras").status, 200);
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked));
    }
    const HttpReply found = search.get();
    std::printf("during a 1.5 s search the panel answered %d requests, the slowest in %lld ms\n", answered,
                static_cast<long long>(slowest.count()));
    EXPECT_GE(answered, 5);
    EXPECT_LT(slowest, 500ms);
    ASSERT_EQ(found.status, 200) << found.body;
    const json cameras = found.Json()["cameras"];
    ASSERT_EQ(cameras.size(), 1u) << found.body;
    EXPECT_EQ(cameras[0]["address"], "http://127.0.0.1:" + std::to_string(onvif.Port()) + "/onvif/device_service");
    EXPECT_EQ(std::make_tuple(cameras[0]["name"], cameras[0]["hardware"], cameras[0]["ptz"]),
              std::make_tuple(json("Korvane sim"), json("SimPTZ-1"), json(true)));
    EXPECT_GE(found.Json()["seconds"].get<double>(), 1.4);
}

// The panel's can lists and preset ranges, one camera per link of the table
// every front-end is checked against (whether or not the camera opens).
// A camera found from the page joins the room: written to the camera file and
// opened at once, without a restart.
TEST_F(PanelLink, AFoundCameraJoinsTheFileAndTheRoomAtOnce)
{
    COnvifCamera onvif(WithPassword());
    const std::string file = TempFile(""), address = "127.0.0.1:" + std::to_string(onvif.Port());
    ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({OnvifRoom(onvif.Port(), {{"user", "admin"}, {"password", kPassword}})}),
                                       {"--listen", "127.0.0.1:0"}, file));
    CPushClient page(m_nPort);
    ASSERT_EQ(SettledStates(page)["room"], "open") << m_pTool->Output();
    const json stage = {{"name", "stage"}, {"mode", "onvif"}, {"address", address}, {"user", "admin"}};
    const auto with = [&](const json& more) {
        json body = stage;
        body.update(more);
        return body;
    };
    const struct {
        json body;
        int status;
        const char* says;
    } cases[] = {
        {with({{"mode", "serial"}}), 400, "only \"onvif\""},
        {with({{"address", ""}}), 400, "\"address\" wants some text"},
        {with({{"colour", "red"}}), 400, "unknown field 'colour'"},
        {with({{"password_file", "no-such-korvane-file"}}), 400, "password"},
        {with({{"tls_fingerprint", "zz"}}), 400, "tls_fingerprint"},
        {with({{"name", "room"}}), 409, "already in the room"},
        {with({{"password", kPassword}}), 201, ""},
        {with({{"password", kPassword}}), 409, "already in the room"},
    };
    for (const auto& c : cases) {
        const HttpReply reply = Post(m_nPort, "/api/cameras", c.body);
        EXPECT_EQ(reply.status, c.status) << c.body << ": " << reply.body;
        EXPECT_TRUE(Has(reply.Error(), c.says)) << reply.body;
        EXPECT_FALSE(Has(reply.body, kPassword));
        if (c.status == 201) EXPECT_EQ(reply.Json()["camera"]["name"], "stage") << reply.body;
    }
    // Opened at once, it moves; the file holds it (and only its owner reads the password).
    EXPECT_TRUE(page.NextMatching([](const json& m) { return IsState(m, "stage", "open"); }));
    EXPECT_EQ(Post(m_nPort, "/api/cameras/stage/move", {{"direction", "left"}}).status, 200);
    EXPECT_TRUE(onvif.NextOf("ContinuousMove", 3s));
    const json written = json::parse(std::ifstream(file), nullptr, false);
    EXPECT_EQ(written["cameras"][1], json({{"name", "stage"}, {"mode", "onvif"}, {"host", "127.0.0.1"}, {"port", onvif.Port()},
                                           {"user", "admin"}, {"password", kPassword}})) << written;
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    for (const std::string& made : {file, file + ".lock"}) std::filesystem::remove(made);
}

TEST_F(PanelLink, EachCameraCanWhatTheCapabilityTableSays)
{
    const json table = json::parse(std::ifstream(KORVANE_CAPABILITIES_TABLE));
    json cameras = json::array(), links = json::array();
    for (const json& link : table["links"]) {
        if (link["can"].empty()) continue;  // the camera file already refuses a link that sends nothing
        links.push_back(link);
        json camera = {{"name", "link-" + std::to_string(cameras.size())}};
        const std::string mode = link["mode"] == "network" ? link["device_type"] : link["mode"];
        camera["mode"] = mode;
        if (mode == "serial") camera["device"] = "/dev/korvane-no-such-device";
        else camera.update({{"host", "127.0.0.1"}, {"port", 9}});
        if (mode != "onvif" && mode != "visca-ip") camera["protocol"] = link["protocol"];  // each speaks one
        if (!link["system_type"].is_null()) camera["system_type"] = link["system_type"];
        cameras.push_back(camera);
    }
    // An ONVIF camera tells at Open whether it focuses: without Imaging, focus is greyed for it alone.
    OnvifCameraOptions noImaging = WithPassword();
    noImaging.imaging = false;
    COnvifCamera onvif(noImaging);
    cameras.push_back(OnvifRoom(onvif.Port(), {{"user", "admin"}, {"password", kPassword}}));
    ASSERT_NO_FATAL_FAILURE(StartPanel(cameras));
    CPushClient page(m_nPort);
    ASSERT_EQ(SettledStates(page)["room"], "open");
    json shown = Http(m_nPort, "GET", "/api/cameras").Json()["cameras"];
    EXPECT_TRUE(shown.back()["cannot"].contains("focus")) << shown.back();
    EXPECT_EQ(Post(m_nPort, "/api/cameras/room/focus", {{"direction", "near"}}).status, 422);
    shown.erase(shown.size() - 1);
    ASSERT_EQ(shown.size(), links.size()) << shown;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const json& link = links[i];
        EXPECT_EQ(shown[i]["can"], link["can"]) << link;
        const json range = shown[i]["presets"].contains("first")
                               ? json::array({shown[i]["presets"]["first"], shown[i]["presets"]["last"]})
                               : json(nullptr);
        EXPECT_EQ(range, link["presets"]) << link;
        EXPECT_EQ(shown[i]["cannot"].size() + link["can"].size(), table["operations"].size()) << shown[i];
    }
}

TEST_F(PanelAccess, ATokenGuardsThePageTheApiAndThePushChannel)
{
    CSerialPeer peer;
    const json cameras = json::array({{{"name", "podium"}, {"mode", "serial"}, {"device", peer.DeviceName()}}});
    const std::string tokenFile = TempFile("tok+en/1\n");
    // Where the token comes from (base64 has + and /) and how the printed address carries it.
    const struct {
        std::vector<std::string> args;
        const char* environment;  // KORVANE_TOKEN, or empty
        std::string token;        // empty: the panel makes one up
        std::string printed;
    } cases[] = {
        {{"--listen", "127.0.0.1:0", "--token", "open+ses/ame="}, "", "open+ses/ame=", "open%2Bses%2Fame%3D"},
        {{"--listen", "127.0.0.1:0", "--token-file", tokenFile}, "", "tok+en/1", "tok%2Ben%2F1"},
        {{"--listen", "127.0.0.1:0"}, "tok+en/1", "tok+en/1", "tok%2Ben%2F1"},
        {{"--listen", "0.0.0.0:0"}, "", "", ""},
        {{"--listen", "0.0.0.0:0"}, "", "", ""},  // a restart: the token kept beside the camera file
    };
    const std::string room = TempFile(""), kept = room + ".token";
    std::string remembered;
    // A soft descriptor limit below the hard one is raised as the panel starts.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit lowered{std::min<rlim_t>(256, limit.rlim_max), limit.rlim_max};
    for (const auto& c : cases) {
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        if (*c.environment) ::setenv("KORVANE_TOKEN", c.environment, 1);
        StartPanel(cameras, c.args, c.token.empty() ? room : "");
        ::unsetenv("KORVANE_TOKEN");
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ASSERT_NE(m_nPort, 0) << m_pTool->Output();
        const std::string output = m_pTool->Output();
        std::ifstream limits("/proc/" + std::to_string(m_pTool->Pid()) + "/limits");
        const std::string table((std::istreambuf_iterator<char>(limits)), std::istreambuf_iterator<char>());
        const std::string hard = std::to_string(limit.rlim_max);
        EXPECT_TRUE(std::regex_search(table, std::regex("Max open files +" + hard + " +" + hard))) << table;
        std::string token = c.token;
        if (token.empty()) {
            // Listening beyond loopback without a token: one is made up and printed.
            token = Printed(*m_pTool, "?token=", R"(\?token=([0-9a-f]{32}))");
            ASSERT_EQ(token.size(), 32u) << output;
            EXPECT_EQ(Has(output, "token (made up"), remembered.empty()) << output;
            EXPECT_EQ(token, remembered.empty() ? token : remembered) << "a restart keeps the room's token";
            remembered = token;
            EXPECT_EQ(std::filesystem::status(kept).permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            // An address for each of the machine's, each as /api/interfaces lists it.
            const json listed = Http(m_nPort, "GET", "/api/interfaces?token=" + token).Json()["interfaces"];
            EXPECT_NE(std::find(listed.begin(), listed.end(), json{{"name", "lo"}, {"address", "127.0.0.1"}}), listed.end())
                << listed;
            for (const json& each : listed)
                EXPECT_TRUE(m_pTool->WaitForOutput("http://" + each["address"].get<std::string>() + ":" +
                                                   std::to_string(m_nPort) + "/?token=" + token + "  (" +
                                                   each["name"].get<std::string>() + ")"))
                    << m_pTool->Output();
        } else {
            // The printed address carries the token percent-encoded; both forms are accepted.
            EXPECT_TRUE(Has(output, "/?token=" + c.printed + " in a browser")) << output;
            EXPECT_EQ(Http(m_nPort, "GET", "/api/cameras?token=" + c.printed).status, 200);
        }
        for (const std::string& target : {"/", "/api/cameras", "/api/feed"}) {
            EXPECT_EQ(Http(m_nPort, "GET", target).status, 401) << target;
            EXPECT_EQ(Http(m_nPort, "GET", target, "", {{"Authorization", "Bearer wrong"}}).status, 401) << target;
            EXPECT_EQ(Http(m_nPort, "GET", target + "?token=" + token.substr(1)).status, 401) << target;
            EXPECT_EQ(Http(m_nPort, "GET", target, "", {{"Authorization", "Bearer " + token}}).status, 200) << target;
            EXPECT_EQ(Http(m_nPort, "GET", target, "", {{"Authorization", "bEARER " + token}}).status, 200) << target;
            EXPECT_EQ(Http(m_nPort, "GET", target + "?token=" + token).status, 200) << target;
        }
        EXPECT_EQ(Http(m_nPort, "POST", "/api/discover?timeout_ms=100").status, 401) << "no search without the token";
        auto refused = Post(m_nPort, "/api/cameras/podium/move", {{"direction", "up"}});
        EXPECT_EQ(refused.status, 401);
        EXPECT_EQ(refused.headers["WWW-Authenticate"], "Bearer");
        EXPECT_TRUE(NoCommand(peer)) << "a refused request moves nothing";
        EXPECT_EQ(Post(m_nPort, "/api/cameras/podium/move", {{"direction", "up"}}, {{"Authorization", "Bearer " + token}}).status, 200);
        EXPECT_TRUE(FrameWith(peer, "addr 1: tilt up"));
        EXPECT_EQ(CPushClient(m_nPort).Status(), 401);
        EXPECT_EQ(CPushClient(m_nPort, "/api/events?token=wrong").Status(), 401);
        CPushClient page(m_nPort, "/api/events?token=" + token);
        ASSERT_EQ(page.Status(), 101);
        EXPECT_TRUE(page.Next());
        CPushClient tool2(m_nPort, "/api/events", {{"Authorization", "Bearer " + token}});
        EXPECT_EQ(tool2.Status(), 101);
    }
    std::filesystem::remove(tokenFile);
    std::filesystem::remove(room);
    std::filesystem::remove(kept);
}

// Passwords from files and the environment, never the process list; a camera
// file that shows its password to other users is warned about.
TEST_F(PanelAccess, SecretsComeFromFilesAndTheEnvironment)
{
    COnvifCamera onvif(WithPassword());
    const std::string secret = TempFile(std::string(kPassword) + "\n"), file = TempFile("");
    const std::string beside = std::filesystem::path(secret).filename().string();  // both in the temporary folder
    const auto own = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    const auto shared = own | std::filesystem::perms::group_read | std::filesystem::perms::others_read;
    // The panel's camera: its password in a file beside the camera file, or in the camera file.
    const struct {
        json secret;
        std::filesystem::perms mode;
        bool warned;
    } files[] = {{{{"user", "admin"}, {"password_file", beside}}, shared, false},
                 {{{"user", "admin"}, {"password", kPassword}}, shared, true},
                 {{{"user", "admin"}, {"password", kPassword}}, own, false}};
    for (const auto& c : files) {
        std::ofstream(file) << json{{"cameras", json::array({OnvifRoom(onvif.Port(), c.secret)})}}.dump();
        std::filesystem::permissions(file, c.mode);
        CToolProcess tool({"panel", "--cameras", file, "--listen", "127.0.0.1:0"});
        const std::uint16_t port = PanelPort(tool);
        ASSERT_NE(port, 0) << tool.Output();
        EXPECT_EQ(Has(tool.Output(), "other users may read it"), c.warned) << c.secret << "\n" << tool.Output();
        // The camera opens only with the password from wherever it was given.
        CPushClient page(port);
        EXPECT_EQ(SettledStates(page)["room"], "open") << c.secret << "\n" << tool.Output();
    }
    // A camera command: its password from a file, or the environment.
    const struct {
        std::vector<std::string> args;
        const char* environment;  // KORVANE_PASSWORD, or empty
    } commands[] = {{{"--password-file", secret, "preset", "go", "3"}, ""},
                    {{"preset", "go", "4"}, kPassword}};
    for (const auto& c : commands) {
        std::vector<std::string> args = {"--network", "127.0.0.1", "--port", std::to_string(onvif.Port()), "--user", "admin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (*c.environment) ::setenv("KORVANE_PASSWORD", c.environment, 1);
        const auto ran = RunTool(args);
        ::unsetenv("KORVANE_PASSWORD");
        EXPECT_EQ(ran.exit, 0) << ran.output;
        EXPECT_TRUE(onvif.NextOf("GotoPreset", 3s)) << ran.output;
    }
    std::filesystem::remove(secret);
    std::filesystem::remove(file);
}

TEST(PanelDemo, ServesTheSimulatedRoomReadyToTry)
{
    CToolProcess demo({"demo", "--panel", "--listen", "127.0.0.1:0", "--every", "500ms"});
    const std::uint16_t port = PanelPort(demo);
    ASSERT_NE(port, 0) << demo.Output();
    // Its camera file holds the simulated camera's password: for the user alone.
    const std::string file = Printed(demo, "their camera file is", R"(their camera file is (\S+))");
    ASSERT_NE(file, "") << demo.Output();
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    CPushClient page(port);
    // Every camera opens against its simulated peer.
    const auto states = SettledStates(page);
    EXPECT_EQ(states.size(), 5u);
    for (const auto& [name, state] : states) EXPECT_EQ(state, "open") << name << "\n" << demo.Output();
    // The peers' scheduled reports reach the page, and a move reaches the peer.
    EXPECT_TRUE(page.NextMatching([](const json& m) { return m["type"] == "report" && m["camera"] == "desk"; }, 5s));
    ASSERT_EQ(Post(port, "/api/cameras/podium/move", {{"direction", "right"}, {"hold_ms", 300}}).status, 200);
    EXPECT_TRUE(demo.WaitForOutput("[serial peer] pelco-d addr 1: pan right")) << demo.Output();
    EXPECT_TRUE(demo.WaitForOutput("[serial peer] pelco-d addr 1: stop")) << demo.Output();
}

// A serial camera whose "reports" is false gets nothing but its commands (no
// presets 88 and 100 as the panel opens it); one without the key still does.
TEST_F(PanelLink, ASerialCameraWithoutReportsGetsOnlyItsCommands)
{
    CSerialPeer peer;
    ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({
        {{"name", "quiet"}, {"mode", "serial"}, {"device", peer.DeviceName()}, {"address", 3}, {"reports", false}},
        {{"name", "loud"}, {"mode", "serial"}, {"device", peer.DeviceName()}, {"address", 4}},
    })));
    CPushClient page(m_nPort);
    const std::map<std::string, std::string> open = {{"quiet", "open"}, {"loud", "open"}};
    ASSERT_EQ(SettledStates(page), open) << m_pTool->Output();
    ASSERT_EQ(Post(m_nPort, "/api/cameras/quiet/stop").status, 200);
    std::vector<std::string> seen;  // every frame up to quiet's stop, which ends the opening frames
    ASSERT_TRUE(FrameMatching(peer, [&](const std::string& d) { seen.push_back(d); return Has(d, "addr 3: stop"); }, 3s));
    const auto count = [&](const std::string& part) { return std::count_if(seen.begin(), seen.end(), [&](const std::string& d) { return Has(d, part); }); };
    EXPECT_EQ(count("addr 3:"), 1) << ::testing::PrintToString(seen);
    EXPECT_EQ(count("addr 4: go to preset 88") + count("addr 4: go to preset 100"), 2) << ::testing::PrintToString(seen);
    // A line cannot answer the test: sent, not confirmed. On a line gone, presets pile up until refused with why.
    EXPECT_EQ(Post(m_nPort, "/api/cameras/quiet/test").Json().value("result", ""), "unconfirmed");
    peer.Hangup();
    HttpReply failed;
    for (const auto deadline = Clock::now() + 5s; failed.status / 100 != 5 && Clock::now() < deadline;)
        failed = Post(m_nPort, "/api/cameras/loud/preset", {{"action", "set"}, {"number", 5}});
    EXPECT_EQ(failed.status, 503) << failed.body;
    EXPECT_FALSE(failed.Error().empty()) << failed.body;
    std::printf("dead serial line: %s\n", failed.body.c_str());
}

// A page holds an ONVIF camera's move: its own end (lease + margin) is sent
// with it and renewed, so the move outlives that while held; the panel killed,
// the camera stops by itself within lease + margin.
TEST_F(PanelLink, AnOnvifMoveOutlivesAKilledPanelByItsLeaseAndAMarginOnly)
{
    COnvifCamera onvif(WithPassword());
    const json room = OnvifRoom(onvif.Port(), {{"user", "admin"}, {"password", kPassword}});
    ASSERT_NO_FATAL_FAILURE(StartPanel(json::array({room})));
    CPushClient page(m_nPort);
    ASSERT_EQ(SettledStates(page)["room"], "open") << m_pTool->Output();
    const std::string file = TempFile(json{{"cameras", json::array({room})}}.dump());
    // "moving" or "idle" as the camera itself says, asked by a korvane of its own.
    const auto status = [&] {
        CToolProcess tool({"--cameras", file, "--camera", "room", "status"});
        tool.WaitExit(10s);
        return Has(tool.Output(), " moving") ? std::string("moving") : Has(tool.Output(), " idle") ? std::string("idle") : tool.Output();
    };
    std::vector<std::string> timeouts;  // of each ContinuousMove the camera got
    const auto drain = [&](std::chrono::milliseconds wait) {
        for (std::optional<OnvifRequest> r; (r = onvif.NextRequest(wait)); wait = 0ms)
            if (r->operation == "ContinuousMove") timeouts.push_back(r->values["timeout"]);
    };
    // The page renews as its script does, paced by the camera's own traffic (at most 150 ms apart).
    const auto started = Clock::now();
    std::future<std::string> held;
    while (!held.valid() || held.wait_for(0ms) != std::future_status::ready) {
        ASSERT_TRUE(page.Send({{"op", "hold"}, {"camera", "room"}, {"motion", "left"}, {"press", 1}}));
        drain(150ms);
        if (!held.valid() && Clock::now() - started > 1500ms) held = std::async(std::launch::async, status);
    }
    EXPECT_EQ(held.get(), "moving") << "held past its own end, the move goes on";
    drain(0ms);
    ASSERT_GE(timeouts.size(), 2u) << "renewals send the move again";
    for (const std::string& timeout : timeouts) EXPECT_EQ(timeout, "PT1.2S") << "the page's 700 ms lease + 500 ms";
    m_pTool->Signal(SIGKILL);
    const auto killed = Clock::now();
    std::string now;
    while ((now = status()) == "moving" && Clock::now() - killed < 5s) {
    }
    EXPECT_EQ(now, "idle");
    EXPECT_LT(Took("the ONVIF move's end after the panel was killed", killed), 2500ms);
    std::filesystem::remove(file);
}

// The panel's help points at docs/panel.md, whose API table lists every
// operation the panel runs (as it names them when refusing an unknown one).
TEST_F(PanelApi, TheDocumentedApiListsEveryOperationAndTheHelpPointsAtIt)
{
    CToolProcess help({"panel", "--help"});
    EXPECT_EQ(help.WaitExit(), 0);
    EXPECT_TRUE(Has(help.Output(), "HTTP API under /api: docs/panel.md")) << help.Output();
    const std::string refused = Post(m_nPort, "/api/cameras/podium/dance").Error();
    std::smatch list;
    ASSERT_TRUE(std::regex_search(refused, list, std::regex(R"(\(([a-z, -]+)\))"))) << refused;
    const auto doc = std::filesystem::path(KORVANE_CAPABILITIES_TABLE).parent_path().parent_path() / "docs" / "panel.md";
    std::stringstream text;
    text << std::ifstream(doc).rdbuf();
    std::stringstream names(list[1].str());
    int documented = 0;
    for (std::string name; std::getline(names >> std::ws, name, ',');) {
        EXPECT_TRUE(std::regex_search(text.str(), std::regex("\\| `POST [^\\n]*/" + name + "`"))) << name;
        ++documented;
    }
    EXPECT_GE(documented, 15) << refused;
}
