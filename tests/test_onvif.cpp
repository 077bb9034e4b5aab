// ONVIF cameras through the public interface, against the simulated ONVIF
// camera over real HTTP on 127.0.0.1. OnvifHostile: cameras that misbehave on
// purpose, and what reaches them, how many requests it costs and how long
// host calls take.
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <tuple>

using namespace korvane::sim;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<CKorvane> OnvifCamera(const char* ip, unsigned port, const char* password = "secret")
{
    auto cam = std::make_unique<CKorvane>(MODE_NETWORK);
    cam->SetDeviceType(DEVICE_ONVIF);
    cam->SetSocketParam(PROTOCOL_PELCO_D, ip, port, 0, "admin", password, "");
    return cam;
}

// Forgets what the camera was asked, until it is quiet for a while.
void Drain(COnvifCamera& sim, std::chrono::milliseconds quiet) { while (sim.NextRequest(quiet)) continue; }

std::unique_ptr<CKorvane> OpenedCamera(COnvifCamera& sim)
{
    auto cam = OnvifCamera("127.0.0.1", sim.Port());
    EXPECT_EQ(cam->Open(), 1);
    Drain(sim, 100ms);  // forget the opening requests
    return cam;
}

// Whether the camera says it moves; -1 when it gives no position.
int Moving(CKorvane& cam)
{
    float pan = 0, tilt = 0, zoom = 0;
    int moving = -1;
    return cam.GetPosition(pan, tilt, zoom, moving) == 1 ? moving : -1;
}

// The link state and its reason.
std::pair<int, std::string> Link(const CKorvane& cam)
{
    char reason[256];
    const int state = cam.GetLinkState(reason, sizeof reason);
    return {state, reason};
}

// The next request of this operation; an empty one when none comes.
OnvifRequest Next(COnvifCamera& sim, const std::string& operation) { return sim.NextOf(operation, 3s).value_or(OnvifRequest{}); }

// How long a host call took; kept in the test's XML report as name_ms.
template <typename Call>
std::chrono::milliseconds Timed(const char* name, Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    testing::Test::RecordProperty(std::string(name) + "_ms", std::to_string(took.count()));
    return took;
}

// Host calls against an ONVIF camera end within 5 seconds; the rest is
// room for a loaded or sanitized build.
constexpr std::chrono::milliseconds kCallBound = 5s + 700ms;

// Whether pred holds within a bounded time; the camera moves with time.
template <typename Pred>
bool Within(std::chrono::milliseconds limit, Pred pred)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

// Moves carry the velocities of their speeds. A stop stops every axis,
// whatever moved last and whoever moved it: a camera panned or zoomed, then
// stopped by this or another process, stands still.
TEST(Onvif, MovesCarryTheVelocitiesOfTheirSpeeds)
{
    COnvifCamera sim;
    auto cam = OpenedCamera(sim);
    auto other = OpenedCamera(sim);
    enum { None, Own, Another };  // the stop after the move
    struct Case { int h, v; int (CKorvane::*call)(); const char *pan, *tilt, *zoom; int stop; };
    const Case cases[] = {
        {32, 32, &CKorvane::MoveRight, "0.515625", "0", "0", Own},
        {63, 63, &CKorvane::MoveLeft, "-1", "0", "0", Another},
        {-1, -1, &CKorvane::MoveUp, "0", "-0.015625", "0", None},
        {63, 1, &CKorvane::ZoomPlus, "0", "0", "1", Own},
        {31, 1, &CKorvane::ZoomMinus, "0", "0", "-0.5", Another},
        {0, 10, &CKorvane::MoveDown, "0", "-0.171875", "0", None},
        {15, 31, &CKorvane::MoveTopLeft, "-0.25", "0.5", "0", None},
        {15, 31, &CKorvane::MoveTopRight, "0.25", "0.5", "0", None},
        {15, 31, &CKorvane::MoveButtomLeft, "-0.25", "-0.5", "0", None},
        {15, 31, &CKorvane::MoveButtomRight, "0.25", "-0.5", "0", None},
    };
    for (const Case& c : cases) {
        cam->SetHorizonSpeed(c.h);
        cam->SetVertcalSpeed(c.v);
        EXPECT_EQ((cam.get()->*c.call)(), 1);
        OnvifRequest move = Next(sim, "ContinuousMove");
        EXPECT_EQ(std::tie(move.values["pan"], move.values["tilt"], move.values["zoom"]),
                  std::tie(c.pan, c.tilt, c.zoom)) << move.body;
        if (c.stop == None) continue;
        (c.stop == Own ? cam : other)->CameraStop();
        OnvifRequest stop = Next(sim, "Stop");
        EXPECT_EQ(std::tie(stop.values["pantilt"], stop.values["zoom"]), std::make_tuple("true", "true")) << move.body;
        EXPECT_EQ(Moving(*cam), 0) << move.body;
    }
    // Iris and the special presets have no ONVIF request.
    for (const auto call : {&CKorvane::IrisPlus, &CKorvane::IrisMinus, &CKorvane::OpenTrack, &CKorvane::OpenAutoZoom})
        (cam.get()->*call)();
    EXPECT_FALSE(sim.NextRequest(300ms));
}

// Focus goes to the Imaging service of the profile's video source, found by
// GetCapabilities, GetServices or in the newer media service's profiles; a
// stop ends it. A camera without Imaging says so once open and gets nothing.
TEST(Onvif, FocusMovesTheLensThroughImagingAndAStopEndsIt)
{
    OnvifCameraOptions services, newer, none;
    services.answerGetCapabilities = false;
    newer.media1 = false;
    none.imaging = false;
    const std::pair<const char*, OnvifCameraOptions> cases[] = {
        {"GetCapabilities", {}}, {"GetServices", services}, {"newer media", newer}, {"no Imaging", none}};
    for (const auto& [what, options] : cases) {
        SCOPED_TRACE(what);
        COnvifCamera sim(options);
        auto cam = OnvifCamera("127.0.0.1", sim.Port());
        EXPECT_TRUE(cam->Can(OP_FOCUS)) << "before Open the link may focus";
        EXPECT_FALSE(cam->Can(OP_IRIS));
        ASSERT_EQ(cam->Open(), 1);
        Drain(sim, 100ms);
        char why[256] = "", reason[256] = "";
        EXPECT_EQ(cam->WhyCannot(OP_FOCUS, why, sizeof why), options.imaging ? 0 : 1);
        cam->SetHorizonSpeed(32);
        if (!options.imaging) EXPECT_NE(std::string(why).find("no Imaging service"), std::string::npos) << why;
        // Far, then near: the lens moves each way and a stop holds it. Without
        // Imaging nothing is sent, and the call fails with the same reason.
        for (const auto& [call, speed, outward] : {std::tuple{&CKorvane::FocusPlus, "0.515625", true},
                                               std::tuple{&CKorvane::FocusMinus, "-0.515625", false}}) {
            const float from = sim.Focus().first;
            EXPECT_EQ((cam.get()->*call)(), options.imaging ? 1 : 0);
            if (!options.imaging) {
                EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_UNSUPPORTED);
                EXPECT_STREQ(reason, why);
                EXPECT_FALSE(sim.NextRequest(300ms)) << "nothing is sent";
                continue;
            }
            OnvifRequest move = Next(sim, "Move");
            EXPECT_EQ(std::tie(move.path, move.values["source"], move.values["focus"]),
                      std::make_tuple("/onvif/imaging_service", "VideoSource_1", speed));
            EXPECT_TRUE(Within(3s, [&] { return outward ? sim.Focus().first > from : sim.Focus().first < from; }));
            EXPECT_EQ(Link(*cam).first, KORVANE_LINK_OK) << Link(*cam).second;
            cam->CameraStop();
            EXPECT_EQ(Next(sim, "Stop").path, "/onvif/ptz_service");
            EXPECT_EQ(Next(sim, "Stop").path, "/onvif/imaging_service");
            EXPECT_FALSE(sim.Focus().second) << "the focus stands";
        }
        // No focus move since the last stop (or none at all): the stop is the PTZ one alone.
        cam->CameraStop();
        EXPECT_EQ(Next(sim, "Stop").path, "/onvif/ptz_service");
        EXPECT_FALSE(sim.NextRequest(300ms));
    }
}

// A stop goes on the ordered control session: it never waits for a slow
// position read of another thread, and never overtakes the move in flight
// (which could otherwise reach the camera after it and restart the motion).
TEST(Onvif, AStopWaitsForTheMoveInFlightButNotForAPositionRead)
{
    struct Case { const char* slow; bool (*busy)(CKorvane&); bool stopWaits; };
    const Case cases[] = {
        {"GetStatus", [](CKorvane& cam) { return Moving(cam) != -1; }, false},
        {"ContinuousMove", [](CKorvane& cam) { return cam.MoveRight() == 1; }, true},
    };
    constexpr auto kSlow = 1500ms;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slow);
        COnvifCamera sim;
        auto cam = OpenedCamera(sim);
        sim.SetPace(c.slow, {kSlow, 0ms});
        bool done = false;
        std::thread busy([&] { done = c.busy(*cam); });
        ASSERT_TRUE(sim.NextOf(c.slow, 3s));  // in flight now
        const auto asked = std::chrono::steady_clock::now();
        std::thread stopper([&] { cam->CameraStop(); });
        const bool stopped = sim.NextOf("Stop", 5s).has_value();
        const auto took = std::chrono::steady_clock::now() - asked;
        stopper.join();
        busy.join();
        EXPECT_TRUE(stopped);
        EXPECT_TRUE(done) << "the slow request was answered";
        if (c.stopWaits) EXPECT_GE(took, kSlow - 200ms);
        if (!c.stopWaits) EXPECT_LT(took, 250ms);
    }
}

// With a move timeout the camera stops by itself when it lapses: a host that
// dies while the camera moves leaves no camera moving. Without one, moves
// carry no Timeout.
TEST(Onvif, AMoveTimeoutEndsTheMoveOnTheCamera)
{
    const std::pair<unsigned, const char*> cases[] = {{0, ""}, {400, "PT0.4S"}, {1250, "PT1.25S"}};
    for (const auto& [timeout, text] : cases) {
        SCOPED_TRACE(timeout);
        COnvifCamera sim;
        auto cam = OpenedCamera(sim);
        cam->SetMoveTimeout(timeout);
        cam->SetHorizonSpeed(63);
        const auto sent = std::chrono::steady_clock::now();
        cam->MoveRight();
        EXPECT_EQ(Next(sim, "ContinuousMove").values["timeout"], text);
        int moving = 1;
        const auto limit = std::chrono::milliseconds(timeout ? timeout + 1000 : 1000);
        while (moving == 1 && std::chrono::steady_clock::now() - sent < limit) moving = Moving(*cam);
        EXPECT_EQ(moving, timeout ? 0 : 1);
        if (timeout) EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(timeout));
        while (const auto request = sim.NextRequest(50ms)) EXPECT_NE(request->operation, "Stop");
    }
}

// Presets are the camera's, one per number, whichever process stored them,
// named by their number and gone to by their token at the host's speeds: a
// number stored again is updated by its token; calling one not stored stores
// it first; a cleared one is removed by its token and not called back until
// stored again; each Open reads what the camera has now.
TEST(Onvif, PresetsAreTheCamerasOnePerNumberWhicheverProcessStoredThem)
{
    struct Step { int who, preset, op, asks = 1; };  // op: 0 go to, 1 set, 2 clear, -1 only open
    // asked: what the steps asked, as operation, the preset's name (a token the camera had
    // before, as is), "update" when SetPreset carried a token; note: in the last call's reason.
    struct Case { const char* what; std::vector<Step> steps; std::vector<std::string> asked; const char* note; };
    const Case cases[] = {
        {"one process",
         // Out of range, unknown to remove, an unknown operation, or a go-to to a
         // cleared preset (even one never stored): nothing asked.
         {{0, 5, 1}, {0, 5, 0}, {0, 1, 0}, {0, 12, 0}, {0, 5, 2}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 2, 0},
          {0, 257, 0, 0}, {0, 257, 1, 0}, {0, 257, 2, 0}, {0, -1, 0, 0}, {0, -1, 1, 0}, {0, -1, 2, 0},
          {0, 99, 2, 0}, {0, 5, 3, 0}, {0, 5, 0, 0}, {0, 99, 0, 0}, {0, 5, 1}, {0, 5, 0}},
         {"SetPreset 5", "GotoPreset 5", "GotoPreset Preset_1", "SetPreset 12", "GotoPreset 12", "RemovePreset 5",
          "SetPreset 5", "GotoPreset 5"},
         ""},
        {"stored twice", {{0, 5, 1}, {0, 5, 1}}, {"SetPreset 5", "SetPreset 5 update"}, ""},
        {"on the camera before Open", {{0, 1, 1}}, {"SetPreset 1 update"}, ""},
        {"stored by another since Open", {{0, 7, -1}, {1, 7, 1}, {0, 7, 1}},
         {"SetPreset 7", "SetPreset 7", "GetPresets", "SetPreset 7 update"}, ""},
        {"called after another stored it", {{0, 8, -1}, {1, 8, 1}, {0, 8, 0}},
         {"SetPreset 8", "SetPreset 8", "GetPresets", "GotoPreset 8"}, ""},
        {"stored twice and cleared, then called by another",
         {{0, 3, 1}, {0, 3, 1}, {0, 3, 2}, {1, 3, 0}},
         {"SetPreset 3", "SetPreset 3 update", "RemovePreset 3", "SetPreset 3", "GotoPreset 3"},
         "preset 3 was not on the camera: the current view was stored under it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COnvifCamera sim;
        std::unique_ptr<CKorvane> cams[2];
        std::vector<std::string> asked;
        std::map<std::string, std::string> names;  // token -> name, as stored by the steps
        char reason[256] = "";
        for (const Step& step : c.steps) {
            if (!cams[step.who]) {
                cams[step.who] = OpenedCamera(sim);
                cams[step.who]->SetHorizonSpeed(32);
                cams[step.who]->SetVertcalSpeed(16);
            }
            if (step.op < 0) continue;
            const int done = cams[step.who]->PreSet(step.preset, static_cast<unsigned char>(step.op));
            // What is not sent fails and says why; clearing a preset the camera lacks leaves it so.
            const bool refused = (!step.asks && step.op != 2) || step.preset < 1 || step.preset > 256;
            EXPECT_EQ(done, refused ? 0 : 1) << step.preset << " op " << step.op;
            if (!step.asks) continue;  // what it asked by mistake shows with the next step's
            EXPECT_EQ(cams[step.who]->LastError(reason, sizeof reason), KORVANE_RESULT_OK) << reason;
            // The call ends once the camera answered: what it asked has arrived.
            while (auto request = sim.NextRequest(0ms)) {
                const std::string& op = request->operation;
                const std::string token = request->values["token"];
                const std::string name = op == "SetPreset" ? request->values["name"] : names.count(token) ? names[token] : token;
                if (op == "SetPreset" && !token.empty()) names[token] = name;
                if (op == "RemovePreset") names.erase(token);
                if (op == "GotoPreset")
                    EXPECT_EQ(std::tie(request->values["pan"], request->values["tilt"], request->values["zoom"]),
                              std::make_tuple("0.5", "0.25", "0"));
                asked.push_back(op + (name.empty() ? "" : " " + name) + (request->values["update"].empty() ? "" : " update"));
            }
        }
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(std::string(reason), c.note);
        const std::string name = std::to_string(c.steps.back().preset);
        const auto presets = sim.Presets();
        EXPECT_EQ(std::count_if(presets.begin(), presets.end(), [&](const auto& p) { return p.second == name; }), 1);
        // The camera that acted last lists what the camera holds under plain numbers.
        std::vector<int> held, listed(1);
        for (const auto& preset : presets)
            if (std::to_string(std::atoi(preset.second.c_str())) == preset.second) held.push_back(std::atoi(preset.second.c_str()));
        std::sort(held.begin(), held.end());
        CKorvane& last = *cams[c.steps.back().who];
        const int count = last.GetStoredPresets(listed.data(), 1);  // more than fit: how many
        ASSERT_GE(count, 0);
        listed.resize(static_cast<std::size_t>(count));
        EXPECT_EQ(last.GetStoredPresets(listed.data(), static_cast<int>(listed.size())), static_cast<int>(held.size()));
        EXPECT_EQ(listed, held);
        last.Close();
        EXPECT_EQ(last.GetStoredPresets(listed.data(), 1), -1);  // not open: not known
    }
}

// Nothing is sent without an opened profile: before Open, after wrong
// credentials (the latest ones are used) and after Close.
TEST(Onvif, NothingIsSentWithoutAnOpenedProfileAndTheLatestCredentialsCount)
{
    COnvifCamera sim;
    auto cam = OnvifCamera("127.0.0.1", sim.Port());
    Drain(sim, 200ms);
    // Refused without a request, and the call says so.
    for (const auto call : {&CKorvane::MoveUp, &CKorvane::CameraStop, &CKorvane::ZoomPlus})
        EXPECT_EQ((cam.get()->*call)(), 0);
    EXPECT_EQ(cam->PreSet(5, 0), 0);
    EXPECT_EQ(cam->PreSet(5, 1), 0);
    char reason[128] = {};
    EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_NOT_OPEN) << reason;
    EXPECT_FALSE(sim.NextRequest(300ms));

    cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", sim.Port(), 0, "admin", "wrong", "");
    EXPECT_EQ(cam->Open(), 0);
    const auto refused = sim.NextOf("GetCapabilities", 3s);
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->authorized);
    cam->MoveUp();  // no profile: refused without a request
    cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", sim.Port(), 0, "admin", "secret", "");
    EXPECT_EQ(cam->Open(), 1);
    while (auto request = sim.NextRequest(200ms)) EXPECT_NE(request->operation, "ContinuousMove");

    cam->Close();
    EXPECT_EQ(cam->MoveUp(), 0);  // a closed camera fails, and says why
    EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_NOT_OPEN) << reason;
    EXPECT_EQ(cam->Open(), 0);  // the client went with Close
    EXPECT_FALSE(sim.NextRequest(300ms));
}

TEST(Onvif, BadAnswersFailOpenAndNothingBreaks)
{
    for (const OnvifFault fault : {OnvifFault::MalformedXml, OnvifFault::SoapFault, OnvifFault::Http401,
                                   OnvifFault::Http500, OnvifFault::EmptyBody, OnvifFault::HugeBody}) {
        SCOPED_TRACE(static_cast<int>(fault));
        COnvifCamera sim;
        auto cam = OnvifCamera("127.0.0.1", sim.Port());
        sim.SetFault(fault);
        EXPECT_EQ(cam->Open(), 0);
        EXPECT_EQ(Link(*cam).first, KORVANE_LINK_FAILED);
        EXPECT_EQ(cam->MoveUp(), 0);
        EXPECT_EQ(cam->PreSet(3, 0), 0);
        // Good again: the same camera opens, and says so.
        sim.SetFault(OnvifFault::None);
        EXPECT_EQ(cam->Open(), 1);
        EXPECT_EQ(Link(*cam), std::make_pair(int(KORVANE_LINK_OK), std::string()));
        sim.SetFault(fault);
        // A request that failed is a failed call, with the camera's reason.
        EXPECT_EQ(cam->MoveUp(), 0);
        char reason[256] = {};
        EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_LINK_FAILED);
        EXPECT_NE(std::string(reason).find("ContinuousMove: "), std::string::npos) << reason;
        EXPECT_EQ(Link(*cam).first, KORVANE_LINK_FAILED);
        EXPECT_NE(Link(*cam).second.find("ContinuousMove: "), std::string::npos) << Link(*cam).second;
        EXPECT_EQ(cam->PreSet(3, 1), 0);
        EXPECT_EQ(cam->PreSet(3, 0), 0);
    }
}

TEST(Onvif, UnreachableOrInvalidAddressesFailOpen)
{
    const std::uint16_t closedPort = COnvifCamera().Port();  // the camera went with its port
    const std::string tooLong(300, '1');
    const std::pair<const char*, unsigned> addresses[] = {
        {"127.0.0.1", closedPort}, {"", 80},      {tooLong.c_str(), 80}, {"camera.local", 80},
        {"300.1.1.1", 80},         {nullptr, 80}, {"127.0.0.1", 0},      {"127.0.0.1", 70000}};
    for (const auto& [ip, port] : addresses) {
        SCOPED_TRACE(ip ? ip : "(null)");
        const auto start = std::chrono::steady_clock::now();
        const auto cam = OnvifCamera(ip, port);
        EXPECT_EQ(cam->Open(), 0);
        EXPECT_EQ(cam->MoveUp(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
}

// The connection test asks the camera for real and says what came back as
// the library's message; the link state follows commands and tests: failed
// with the reason when the camera is gone, OK again once it answers.
TEST(Onvif, ConnectionTestAndLinkStateTellWhatTheCameraAnswered)
{
    static std::vector<std::string> messages;
    KorvaneSetMessageHandler([](const char*, const char* text, void*) { messages.push_back(text); }, nullptr);
    auto sim = std::make_unique<COnvifCamera>();
    const std::uint16_t port = sim->Port();
    auto cam = OnvifCamera("127.0.0.1", port, "guess");
    // The test's result is the camera's answer: 1 answered (KORVANE_RESULT_OK), 0 with its reason.
    const auto tested = [&](int value, int outcome, const char* why) {
        char text[512];
        EXPECT_EQ(cam->ConnectTest(), value);
        EXPECT_EQ(cam->LastError(text, sizeof text), outcome);
        EXPECT_NE(std::string(text).find(why), std::string::npos) << text;
    };
    EXPECT_EQ(Link(*cam).first, KORVANE_LINK_FAILED);  // refused at set-up
    tested(0, KORVANE_RESULT_LINK_FAILED, "failed the test: GetServices");
    EXPECT_TRUE(sim->NextOf("GetServices", 3s)) << "the test asks before Open, too";
    EXPECT_EQ(Link(*cam).first, KORVANE_LINK_FAILED);
    cam = OpenedCamera(*sim);
    tested(1, KORVANE_RESULT_OK, "");
    EXPECT_TRUE(sim->NextOf("GetPresets", 3s));
    EXPECT_EQ(Link(*cam).first, KORVANE_LINK_OK);
    sim.reset();  // the camera goes away
    tested(0, KORVANE_RESULT_LINK_FAILED, "failed the test: GetPresets");
    EXPECT_EQ(Link(*cam).first, KORVANE_LINK_FAILED);
    sim = std::make_unique<COnvifCamera>(OnvifCameraOptions{}, port);  // back, at the same address
    cam->CameraStop();
    EXPECT_EQ(Link(*cam).first, KORVANE_LINK_OK) << Link(*cam).second;
    KorvaneSetMessageHandler(nullptr, nullptr);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[0].find("failed the test: GetServices: "), std::string::npos) << messages[0];
    EXPECT_EQ(messages[1], "the ONVIF camera answered GetPresets with these credentials");
    EXPECT_NE(messages[2].find("failed the test: GetPresets: "), std::string::npos) << messages[2];
}

TEST(Onvif, PositionAndHomeFollowTheCamera)
{
    COnvifCamera sim;
    auto cam = OnvifCamera("127.0.0.1", sim.Port());
    Drain(sim, 200ms);
    float pan = 9.0f, tilt = 9.0f, zoom = 9.0f;
    int moving = 9;
    CKorvane relayed(MODE_NETWORK);
    for (CKorvane* unopened : {cam.get(), &relayed})  // nothing to ask: 0, nothing sent
        EXPECT_EQ(std::make_tuple(unopened->GetPosition(pan, tilt, zoom, moving), unopened->GotoHome(), unopened->SetHome()),
                  std::make_tuple(0, 0, 0));
    EXPECT_FALSE(sim.NextRequest(300ms));
    ASSERT_EQ(cam->Open(), 1);
    ASSERT_EQ(cam->GetPosition(pan, tilt, zoom, moving), 1);
    EXPECT_EQ(std::make_tuple(pan, tilt, zoom, moving), std::make_tuple(0.0f, 0.0f, 0.0f, 0));
    // The position read until it satisfies done, within a bounded time.
    const auto until = [&](auto done) { return Within(3s, [&] { return cam->GetPosition(pan, tilt, zoom, moving) && done(); }); };
    cam->SetHorizonSpeed(63);
    cam->MoveRight();
    ASSERT_TRUE(until([&] { return pan >= 0.2f; })) << pan;
    EXPECT_EQ(moving, 1);
    cam->CameraStop();
    ASSERT_TRUE(until([] { return true; }));
    EXPECT_EQ(moving, 0);
    const float home = pan;
    EXPECT_EQ(cam->SetHome(), 1);
    cam->MoveLeft();
    ASSERT_TRUE(until([&] { return pan < home - 0.1f; }));
    cam->CameraStop();
    EXPECT_EQ(cam->GotoHome(), 1);
    EXPECT_EQ(Next(sim, "GotoHomePosition").values["pan"], "0.984375");  // the pan speed, as for a preset
    ASSERT_TRUE(until([] { return true; }));
    EXPECT_FLOAT_EQ(pan, home);
}

// Open asks for what it needs, each request signed; the PTZ profile is used,
// not the first one. Each service is asked at the host's scheme, host and
// port, never at the address the camera reports (which ones are kept is
// OnvifWire's table).
TEST(Onvif, OpenFindsServicesProfileConfigurationAndPresetsOfOldAndNewCameras)
{
    // Between the clock and GetCapabilities, and the PTZ configuration's
    // options and the presets (once a profile is found). The profile names its
    // PTZ configuration: no GetConfigurations. A server that faults on Type
    // All is asked again without it.
    struct Case { const char* what; bool media1, capabilities, faultTypeAll; float range; const char *profile, *opening;
                  const char *moved, *pan, *space; /* moved "": Open fails */ };
    COnvifCamera elsewhere;  // where the camera points, as behind NAT: gets nothing
    const Case cases[] = {
        {"classic: one GetCapabilities answer gives both the media and the PTZ service", true, true, false, 1.0f, "",
         "GetProfiles", "Profile_1", "0.5", ""},
        {"media2 only, no GetCapabilities", false, false, false, 1.0f, "", "GetServices GetProfiles/All", "Profile_1", "0.5", ""},
        {"media2 only", false, true, false, 1.0f, "", "GetServices GetProfiles/All", "Profile_1", "0.5", ""},
        {"media2 only, Type All refused", false, true, true, 1.0f, "", "GetServices GetProfiles/All GetProfiles",
         "Profile_1", "0.5", ""},
        {"degrees", true, true, false, 100.0f, "", "GetProfiles", "Profile_1", "50",
         "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocitySpaceDegrees"},
        {"named profile", true, true, false, 1.0f, "Profile_2", "GetProfiles", "Profile_2", "0.5", ""},
        {"unknown profile", true, true, false, 1.0f, "Nope", "GetProfiles", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OnvifCameraOptions options;
        options.media1 = c.media1;
        options.answerGetCapabilities = c.capabilities;
        options.faultTypeAll = c.faultTypeAll;
        options.velocityRange = c.range;
        options.serviceBase = elsewhere.Origin();
        COnvifCamera sim(options);
        auto cam = OnvifCamera("127.0.0.1", sim.Port());
        cam->SetOnvifProfile(c.profile);  // read by Open
        EXPECT_EQ(cam->Open(), *c.moved ? 1 : 0);
        std::string operations;
        while (auto request = sim.NextRequest(200ms)) {
            const std::string type = request->values["type"];
            operations += " " + request->operation + (type.empty() ? "" : "/" + type);
            EXPECT_TRUE(request->authorized) << request->operation;
            if (request->operation == "GetProfiles")
                EXPECT_EQ(request->path, c.media1 ? "/onvif/media_service" : "/onvif/media2_service");
        }
        EXPECT_EQ(operations, std::string(" GetSystemDateAndTime GetCapabilities ") + c.opening +
                                  (*c.moved ? " GetConfigurationOptions GetPresets" : ""));
        if (!*c.moved) continue;
        cam->SetHorizonSpeed(31);
        cam->MoveRight();
        OnvifRequest move = Next(sim, "ContinuousMove");
        EXPECT_EQ(std::tie(move.authorized, move.path, move.values["profile"], move.values["pan"], move.values["space"]),
                  std::make_tuple(true, "/onvif/ptz_service", c.moved, c.pan, c.space));
    }
    EXPECT_EQ(elsewhere.HttpRequestCount(), 0u);
    EXPECT_EQ(elsewhere.ConnectionCount(), 0u);
}

// Tokens are dated in the camera's time, from its clock fields once they are
// checked (a date that cannot be taken leaves our clock). A camera whose clock
// jumped refuses them: the client reads its clock again and asks once more,
// in the same call, and the next request goes through at once.
TEST(OnvifHostile, CameraClockFieldsAreCheckedBeforeTheyDateTokens)
{
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::string ourYear = std::to_string(1970 + now / 31556952);  // mean Gregorian year: far from New Year is enough
    // claimed: year, month, day, hour, minute, second (none: the camera's clock); created: what
    // tokens' Created must begin with, empty: our year (claimed seconds of 30 leave room for the
    // time taken); jump: seconds the camera's clock steps once open.
    struct Case { std::vector<std::string> claimed; std::string created; int jump = 0; };
    const Case cases[] = {
        // Beyond nanosecond time points, and a leap day.
        {{"3000", "1", "1", "0", "0", "30"}, "3000-01-01T00:00:"}, {{"9999", "6", "1", "0", "0", "30"}, "9999-06-01T00:00:"},
        {{"2040", "2", "29", "12", "0", "30"}, "2040-02-29T12:00:"},
        // Before 1970; beyond int; not a number.
        {{"1710", "1", "1", "0", "0", "0"}, ""}, {{"1969", "12", "31", "23", "59", "59"}, ""},
        {{"99999999999", "1", "1", "0", "0", "0"}, ""}, {{"2031x", "1", "1", "0", "0", "0"}, ""},
        // No such day (not a leap year; April), month, hour or minute; no date at all.
        {{"2031", "2", "29", "0", "0", "0"}, ""}, {{"2031", "4", "31", "0", "0", "0"}, ""},
        {{"2031", "13", "1", "0", "0", "0"}, ""}, {{"2031", "1", "1", "24", "0", "0"}, ""},
        {{"2031", "1", "1", "0", "-5", "0"}, ""}, {{"", "", "", "", "", ""}, ""},
        // The camera's own clock, stepping forward or back.
        {{}, "", 3600}, {{}, "", -600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.claimed) + " " + std::to_string(c.jump));
        OnvifCameraOptions options;
        options.claimedDate = c.claimed;
        COnvifCamera sim(options);
        auto cam = OpenedCamera(sim);
        sim.SetClockOffset(std::chrono::seconds(c.jump));
        EXPECT_EQ(cam->MoveUp(), 1);
        EXPECT_EQ(Link(*cam), std::make_pair(int(KORVANE_LINK_OK), std::string()));
        cam->CameraStop();
        std::vector<std::string> seen;
        std::string created;  // the last move's
        while (auto request = sim.NextRequest(100ms)) {
            seen.push_back(request->operation + (request->authorized ? "" : " refused"));
            if (request->operation == "ContinuousMove") created = request->values["created"];
        }
        const std::vector<std::string> moved = {"ContinuousMove", "Stop"},
                                        retried = {"ContinuousMove refused", "GetSystemDateAndTime", "ContinuousMove", "Stop"};
        EXPECT_EQ(seen, c.jump ? retried : moved);
        const std::string expected = c.created.empty() ? ourYear + "-" : c.created;
        EXPECT_EQ(created.substr(0, expected.size()), expected) << created;
    }
}

// HTTP digest is negotiated once and the connection kept; a camera that asks
// for Basic gets no password, after a good start or from the start.
TEST(OnvifHostile, DigestIsNegotiatedOnceAndABasicChallengeGetsNoPassword)
{
    OnvifCameraOptions options;
    options.requireHttpDigest = true;
    COnvifCamera sim(options);
    auto cam = OpenedCamera(sim);
    const std::size_t before = sim.HttpRequestCount();
    for (int i = 0; i < 10; ++i) cam->MoveLeft();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(sim.NextOf("ContinuousMove", 3s)) << i;
    EXPECT_EQ(sim.HttpRequestCount() - before, 10u);  // one round trip per request
    EXPECT_EQ(sim.ConnectionCount(), 1u);
    sim.SetFault(OnvifFault::BasicChallenge);
    cam->MoveUp();
    cam->PreSet(3, 1);
    cam = OnvifCamera("127.0.0.1", sim.Port());
    EXPECT_EQ(cam->Open(), 0);
    cam->MoveUp();
    EXPECT_GT(sim.HttpRequestCount() - before, 10u);
    for (const std::string& header : sim.AuthorizationHeaders())
        EXPECT_NE(header.rfind("Basic", 0), 0u) << header;
}

// A camera that misbehaves costs each host call one deadline at most and a
// few requests: once a request has run out of time the call asks nothing
// more. Late: every answer 4.5 s late (the first request answered, the second
// cut short, no third). Dripping: the status line at once, then one byte at a
// time (one time-out, at set-up or at Open). Challenging: HTTP digest
// challenges without end (the request and three answers at most).
TEST(OnvifHostile, AMisbehavingCameraCostsEachHostCallOneDeadlineAndAFewRequests)
{
    OnvifCameraOptions digest;
    digest.requireHttpDigest = true;
    COnvifCamera late, dripping, challenging(digest);
    const OnvifPace slow{4500ms, 0ms}, drip{0ms, 200ms};
    const auto endless = OnvifFault::EndlessStaleDigest;
    std::unique_ptr<CKorvane> cam;
    const auto failsToOpen = [&] { EXPECT_EQ(cam->Open(), 0); };
    // opened: the call goes to a camera opened while the simulated one behaved; fewest, most: HTTP requests.
    struct Case { const char* name; COnvifCamera& sim; OnvifPace pace; OnvifFault fault; bool opened; std::function<void()> call;
                  std::size_t fewest, most; std::chrono::milliseconds least, bound; };
    const Case cases[] = {
        {"PreSetGoToUnknown", late, slow, OnvifFault::None, true, [&] { cam->PreSet(9, 0); }, 0, 2, 0ms, kCallBound},  // stored, then gone to
        {"Open", late, slow, OnvifFault::None, false, failsToOpen, 0, 2, 0ms, kCallBound},
        {"SetSocketParam", late, slow, OnvifFault::None, false,
         [&] { cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", late.Port(), 0, "admin", "secret", ""); }, 0, 2, 0ms, kCallBound},
        // The clock, and nothing after its time ran out; then no services known: nothing to ask.
        {"SetUp", dripping, drip, OnvifFault::None, false, [&] { cam = OnvifCamera("127.0.0.1", dripping.Port()); }, 1, 1, 0ms, kCallBound},
        {"OpenWithoutServices", dripping, drip, OnvifFault::None, false, failsToOpen, 0, 0, 0ms, 1000ms},
        {"OpenDripping", dripping, drip, OnvifFault::None, true, failsToOpen, 1, 1, 4s, kCallBound},  // a slow answer is waited for
        {"MoveUpAgainstEndlessChallenges", challenging, {}, endless, true, [&] { cam->MoveUp(); }, 1, 4, 0ms, 1000ms},
        // Set-up and Open against such a camera: a handful of requests per step.
        {"SetUpAgainstEndlessChallenges", challenging, {}, endless, false, [&] {
             cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", challenging.Port(), 0, "admin", "secret", "");
             failsToOpen();
         }, 1, 12, 0ms, 2 * kCallBound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.opened) {
            c.sim.SetPace(OnvifPace{});
            c.sim.SetFault(OnvifFault::None);
            cam = OnvifCamera("127.0.0.1", c.sim.Port());
            ASSERT_EQ(cam->Open(), 1);
        }
        c.sim.SetPace(c.pace);
        c.sim.SetFault(c.fault);
        const std::size_t before = c.sim.HttpRequestCount();
        const auto took = Timed(c.name, c.call);
        EXPECT_GE(took, c.least);
        EXPECT_LT(took, c.bound);
        EXPECT_GE(c.sim.HttpRequestCount() - before, c.fewest);
        EXPECT_LE(c.sim.HttpRequestCount() - before, c.most);
    }
}
