// ONVIF cameras through the public interface, against the simulated ONVIF
// camera over real HTTP on 127.0.0.1.
#include "ReportCollector.h"
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <tuple>

using korvane::sim::COnvifCamera;
using korvane::sim::OnvifCameraOptions;
using korvane::sim::OnvifFault;
using korvane::sim::OnvifRequest;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<CKorvane> OnvifCamera(const char* ip, unsigned port, const char* user = "admin",
                                      const char* password = "secret")
{
    auto cam = std::make_unique<CKorvane>(MODE_NETWORK);
    cam->SetDeviceType(DEVICE_ONVIF);
    cam->SetSocketParam(PROTOCOL_PELCO_D, ip, port, 0, user, password, "");
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

OnvifRequest Next(COnvifCamera& sim, const std::string& operation)
{
    auto request = sim.NextOf(operation, 3s);
    return request ? *request : OnvifRequest{};
}

}  // namespace

TEST(Onvif, MovesCarryTheVelocitiesOfTheirSpeeds)
{
    COnvifCamera sim;
    auto cam = OpenedCamera(sim);
    struct Case {
        int h, v;
        int (CKorvane::*call)();
        const char *pan, *tilt, *zoom;
    };
    const Case cases[] = {
        {32, 32, &CKorvane::MoveRight, "0.515625", "0", "0"},
        {63, 63, &CKorvane::MoveLeft, "-1", "0", "0"},
        {-1, -1, &CKorvane::MoveUp, "0", "-0.015625", "0"},
        {0, 10, &CKorvane::MoveDown, "0", "-0.171875", "0"},
        {15, 31, &CKorvane::MoveTopLeft, "-0.25", "0.5", "0"},
        {15, 31, &CKorvane::MoveTopRight, "0.25", "0.5", "0"},
        {15, 31, &CKorvane::MoveButtomLeft, "-0.25", "-0.5", "0"},
        {15, 31, &CKorvane::MoveButtomRight, "0.25", "-0.5", "0"},
        {63, 1, &CKorvane::ZoomPlus, "0", "0", "1"},
        {31, 1, &CKorvane::ZoomMinus, "0", "0", "-0.5"},
    };
    for (const Case& c : cases) {
        cam->SetHorizonSpeed(c.h);
        cam->SetVertcalSpeed(c.v);
        EXPECT_EQ((cam.get()->*c.call)(), 1);
        OnvifRequest move = Next(sim, "ContinuousMove");
        EXPECT_EQ(std::tie(move.values["pan"], move.values["tilt"], move.values["zoom"]),
                  std::tie(c.pan, c.tilt, c.zoom)) << move.body;
    }
    // Iris and the special presets have no ONVIF request.
    for (const auto call : {&CKorvane::IrisPlus, &CKorvane::IrisMinus, &CKorvane::OpenTrack, &CKorvane::OpenAutoZoom})
        (cam.get()->*call)();
    EXPECT_FALSE(sim.NextRequest(300ms));
}

// Whether pred holds within a bounded time; the camera's focus moves with time.
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

// Focus goes to the Imaging service of the profile's video source, found by
// GetCapabilities, GetServices or in the newer media service's profiles; a
// stop ends it. A camera without Imaging says so once open and gets nothing.
TEST(Onvif, FocusMovesTheLensThroughImagingAndAStopEndsIt)
{
    struct Case {
        const char* what;
        OnvifCameraOptions options;
    };
    OnvifCameraOptions services, newer, none;
    services.answerGetCapabilities = false;
    newer.media1 = false;
    none.imaging = false;
    const Case cases[] = {{"GetCapabilities", {}}, {"GetServices", services}, {"newer media", newer}, {"no Imaging", none}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COnvifCamera sim(c.options);
        auto cam = OnvifCamera("127.0.0.1", sim.Port());
        EXPECT_TRUE(cam->Can(OP_FOCUS)) << "before Open the link may focus";
        EXPECT_FALSE(cam->Can(OP_IRIS));
        ASSERT_EQ(cam->Open(), 1);
        Drain(sim, 100ms);
        char why[256] = "";
        EXPECT_EQ(cam->WhyCannot(OP_FOCUS, why, sizeof why), c.options.imaging ? 0 : 1);
        cam->SetHorizonSpeed(32);
        if (!c.options.imaging) {
            EXPECT_NE(std::string(why).find("no Imaging service"), std::string::npos) << why;
            // Nothing is sent, and the call fails with the same reason.
            EXPECT_EQ(cam->FocusPlus(), 0);
            EXPECT_EQ(cam->FocusMinus(), 0);
            char reason[256] = "";
            EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_UNSUPPORTED);
            EXPECT_STREQ(reason, why);
            EXPECT_FALSE(sim.NextRequest(300ms)) << "nothing is sent";
            cam->CameraStop();
            EXPECT_EQ(Next(sim, "Stop").path, "/onvif/ptz_service");
            EXPECT_FALSE(sim.NextRequest(300ms));
            continue;
        }
        // Far, then near: the lens moves each way and a stop holds it.
        for (const auto& [call, speed, outward] : {std::tuple{&CKorvane::FocusPlus, "0.515625", true},
                                               std::tuple{&CKorvane::FocusMinus, "-0.515625", false}}) {
            const float from = sim.Focus().first;
            EXPECT_EQ((cam.get()->*call)(), 1);
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
        // No focus move since the last stop: the stop is the PTZ one alone.
        cam->CameraStop();
        EXPECT_EQ(Next(sim, "Stop").path, "/onvif/ptz_service");
        EXPECT_FALSE(sim.NextRequest(300ms));
    }
}

// A stop stops every axis, whatever moved last and whoever moved it: a
// camera zoomed and then panned, or moved by another process, stands still.
TEST(Onvif, AStopStopsEveryAxis)
{
    struct Case {
        const char* what;
        std::vector<int (CKorvane::*)()> moves;
        bool stopFromAnother;
    };
    const Case cases[] = {
        {"zoom, then pan, then stop", {&CKorvane::ZoomPlus, &CKorvane::MoveRight}, false},
        {"pan, then zoom, then stop", {&CKorvane::MoveLeft, &CKorvane::ZoomMinus}, false},
        {"zoom, then a stop from another process", {&CKorvane::ZoomPlus}, true},
        {"pan, then a stop from another process", {&CKorvane::MoveUp}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COnvifCamera sim;
        auto cam = OpenedCamera(sim);
        auto other = OpenedCamera(sim);
        cam->SetHorizonSpeed(10);
        cam->SetVertcalSpeed(10);
        for (const auto move : c.moves) (cam.get()->*move)();
        (c.stopFromAnother ? other : cam)->CameraStop();
        const OnvifRequest stop = Next(sim, "Stop");
        EXPECT_EQ(stop.values.count("pantilt") ? stop.values.at("pantilt") : "", "true");
        EXPECT_EQ(stop.values.count("zoom") ? stop.values.at("zoom") : "", "true");
        EXPECT_EQ(Moving(*cam), 0);
    }
}

// A stop goes on the ordered control session: it never waits for a slow
// position read of another thread, and never overtakes the move in flight
// (which could otherwise reach the camera after it and restart the motion).
TEST(Onvif, AStopWaitsForTheMoveInFlightButNotForAPositionRead)
{
    struct Case {
        const char* slow;
        bool (*busy)(CKorvane&);
        bool stopWaits;
    };
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
        if (c.stopWaits)
            EXPECT_GE(took, kSlow - 200ms);
        else
            EXPECT_LT(took, 250ms);
    }
}

// Tokens are dated in the camera's time. A camera whose clock jumped refuses
// them: the client reads its clock again and asks once more, in the same call.
TEST(Onvif, ACameraWhoseClockJumpedIsAskedItsTimeAndTheRequestAgain)
{
    for (const auto jump : {std::chrono::seconds(3600), std::chrono::seconds(-600)}) {
        SCOPED_TRACE(jump.count());
        COnvifCamera sim;
        auto cam = OpenedCamera(sim);
        sim.SetClockOffset(jump);
        EXPECT_EQ(cam->MoveRight(), 1);
        std::vector<std::string> seen;
        while (auto request = sim.NextRequest(300ms))
            seen.push_back(request->operation + (request->authorized ? "" : " refused"));
        EXPECT_EQ(seen, (std::vector<std::string>{"ContinuousMove refused", "GetSystemDateAndTime", "ContinuousMove"}));
        EXPECT_EQ(Link(*cam), std::make_pair(int(KORVANE_LINK_OK), std::string()));
        // Once learned, the next request goes through at once.
        cam->CameraStop();
        const auto stop = sim.NextRequest(3s);
        ASSERT_TRUE(stop);
        EXPECT_EQ(stop->operation, "Stop");
        EXPECT_TRUE(stop->authorized);
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

TEST(Onvif, PresetsCarryNamesTokensAndSpeeds)
{
    COnvifCamera sim;
    auto cam = OpenedCamera(sim);
    cam->SetHorizonSpeed(32);
    cam->SetVertcalSpeed(16);

    cam->PreSet(5, 1);
    const OnvifRequest set = Next(sim, "SetPreset");
    EXPECT_EQ(set.values.at("name"), "5");
    const std::string token5 = set.values.at("token");

    cam->PreSet(5, 0);
    OnvifRequest go = Next(sim, "GotoPreset");
    EXPECT_EQ(std::tie(go.values["token"], go.values["pan"], go.values["tilt"], go.values["zoom"]),
              std::make_tuple(token5, "0.5", "0.25", "0"));

    // Preset 1 came from the camera's list; "Home" and "012" are no numbers.
    cam->PreSet(1, 0);
    EXPECT_EQ(Next(sim, "GotoPreset").values["token"], "Preset_1");

    // Calling a preset not stored yet stores it first, then goes to the fresh token.
    cam->PreSet(12, 0);
    OnvifRequest implicitSet = sim.NextRequest(3s).value_or(OnvifRequest{});
    EXPECT_EQ(implicitSet.operation, "SetPreset");
    EXPECT_EQ(implicitSet.values["name"], "12");
    EXPECT_EQ(Next(sim, "GotoPreset").values["token"], implicitSet.values.at("token"));  // throws when none came

    // A cleared preset is removed on the camera by its token.
    cam->PreSet(5, 2);
    EXPECT_EQ(Next(sim, "RemovePreset").values["token"], token5);
    EXPECT_EQ(sim.Presets().count(token5), 0u);

    // Out of range, unknown to remove, or an unknown operation: no request;
    // nor is a cleared preset stored again by a go-to, even one never stored.
    for (const int preset : {0, 257, -1})
        for (const int operation : {0, 1, 2}) cam->PreSet(preset, operation);
    cam->PreSet(99, 2);
    cam->PreSet(5, 3);
    cam->PreSet(5, 0);
    cam->PreSet(99, 0);
    EXPECT_FALSE(sim.NextRequest(300ms));
    // Stored again on purpose, it is gone to again.
    cam->PreSet(5, 1);
    const std::string again = Next(sim, "SetPreset").values.at("token");  // throws when none came
    cam->PreSet(5, 0);
    EXPECT_EQ(Next(sim, "GotoPreset").values["token"], again);
}

// Presets are the camera's, one per number, whichever process stored them:
// a number stored again is updated by its token, and each Open reads what
// the camera has now, so a number cleared elsewhere is not called back.
TEST(Onvif, PresetsAreTheCamerasOnePerNumberWhicheverProcessStoredThem)
{
    struct Step { int who, preset, op; };  // op: 0 go to, 1 set, 2 clear, -1 only open
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> asked;  // by the steps: operation, name, "update" when a token went with it
        const char* note;                // in the last call's reason
    };
    const Case cases[] = {
        {"stored twice", {{0, 5, 1}, {0, 5, 1}}, {"SetPreset 5", "SetPreset 5 update"}, ""},
        {"on the camera before Open", {{0, 1, 1}}, {"SetPreset 1 update"}, ""},
        {"stored by another since Open", {{0, 7, -1}, {1, 7, 1}, {0, 7, 1}},
         {"SetPreset 7", "SetPreset 7", "GetPresets", "SetPreset 7 update"}, ""},
        {"called after another stored it", {{0, 8, -1}, {1, 8, 1}, {0, 8, 0}},
         {"SetPreset 8", "SetPreset 8", "GetPresets", "GotoPreset"}, ""},
        {"stored twice and cleared, then called by another",
         {{0, 3, 1}, {0, 3, 1}, {0, 3, 2}, {1, 3, 0}},
         {"SetPreset 3", "SetPreset 3 update", "RemovePreset", "SetPreset 3", "GotoPreset"},
         "preset 3 was not on the camera: the current view was stored under it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COnvifCamera sim;
        std::unique_ptr<CKorvane> cams[2];
        std::vector<std::string> asked;
        char reason[256] = "";
        for (const Step& step : c.steps) {
            if (!cams[step.who]) cams[step.who] = OpenedCamera(sim);
            if (step.op < 0) continue;
            EXPECT_EQ(cams[step.who]->PreSet(step.preset, static_cast<unsigned char>(step.op)), 1);
            EXPECT_EQ(cams[step.who]->LastError(reason, sizeof reason), KORVANE_RESULT_OK) << reason;
            // The call ends once the camera answered: what it asked has arrived.
            while (auto request = sim.NextRequest(0ms)) {
                const std::string update = request->values["update"].empty() ? "" : " update";
                asked.push_back(request->operation +
                                (request->operation == "SetPreset" ? " " + request->values["name"] + update : ""));
            }
        }
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(std::string(reason), c.note);
        const std::string name = std::to_string(c.steps.back().preset);
        const auto presets = sim.Presets();
        EXPECT_EQ(std::count_if(presets.begin(), presets.end(), [&](const auto& p) { return p.second == name; }), 1);
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
    const OnvifFault faults[] = {OnvifFault::MalformedXml, OnvifFault::SoapFault, OnvifFault::Http401,
                                 OnvifFault::Http500,      OnvifFault::EmptyBody, OnvifFault::HugeBody};
    for (const OnvifFault fault : faults) {
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
    auto cam = OnvifCamera("127.0.0.1", port, "admin", "guess");
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

// A bounded wait for the camera to report a position that satisfies done.
template <typename Done>
bool PositionUntil(CKorvane& cam, Done done, float& pan, int& moving)
{
    float tilt = 0.0f, zoom = 0.0f;
    for (const auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;)
        if (cam.GetPosition(pan, tilt, zoom, moving) && done(pan)) return true;
    return false;
}

TEST(Onvif, PositionAndHomeFollowTheCamera)
{
    COnvifCamera sim;
    auto cam = OnvifCamera("127.0.0.1", sim.Port());
    Drain(sim, 200ms);
    float pan = 9.0f, tilt = 9.0f, zoom = 9.0f;
    int moving = 9;
    CKorvane relayed(MODE_NETWORK);
    for (CKorvane* unopened : {cam.get(), &relayed}) {  // nothing to ask: 0, nothing sent
        EXPECT_EQ(unopened->GetPosition(pan, tilt, zoom, moving), 0);
        EXPECT_EQ(unopened->GotoHome(), 0);
        EXPECT_EQ(unopened->SetHome(), 0);
    }
    EXPECT_FALSE(sim.NextRequest(300ms));
    ASSERT_EQ(cam->Open(), 1);
    ASSERT_EQ(cam->GetPosition(pan, tilt, zoom, moving), 1);
    EXPECT_EQ(std::vector<float>({pan, tilt, zoom}), std::vector<float>({0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(moving, 0);

    cam->SetHorizonSpeed(63);
    cam->MoveRight();
    ASSERT_TRUE(PositionUntil(*cam, [](float p) { return p >= 0.2f; }, pan, moving)) << pan;
    EXPECT_EQ(moving, 1);
    cam->CameraStop();
    ASSERT_TRUE(PositionUntil(*cam, [](float) { return true; }, pan, moving));
    EXPECT_EQ(moving, 0);
    const float home = pan;
    EXPECT_EQ(cam->SetHome(), 1);
    cam->MoveLeft();
    ASSERT_TRUE(PositionUntil(*cam, [&](float p) { return p < home - 0.1f; }, pan, moving));
    cam->CameraStop();
    EXPECT_EQ(cam->GotoHome(), 1);
    EXPECT_EQ(Next(sim, "GotoHomePosition").values["pan"], "0.984375");  // the pan speed, as for a preset
    ASSERT_TRUE(PositionUntil(*cam, [](float) { return true; }, pan, moving));
    EXPECT_FLOAT_EQ(pan, home);
}

// Open asks for what it needs, each request signed; the PTZ profile is used,
// not the first one.
TEST(Onvif, OpenFindsServicesProfileConfigurationAndPresetsOfOldAndNewCameras)
{
    // The profile names its PTZ configuration: no GetConfigurations.
    const std::vector<std::string> classic = {"GetSystemDateAndTime", "GetCapabilities", "GetProfiles",
                                              "GetConfigurationOptions", "GetPresets"};
    const std::vector<std::string> media2 = {"GetSystemDateAndTime", "GetCapabilities",         "GetServices",
                                             "GetProfiles All",      "GetConfigurationOptions", "GetPresets"};
    // A server that faults on Type All is asked again without it.
    const std::vector<std::string> media2Retried = {"GetSystemDateAndTime",    "GetCapabilities", "GetServices",
                                                    "GetProfiles All",         "GetProfiles",
                                                    "GetConfigurationOptions", "GetPresets"};
    const std::vector<std::string> refused = {"GetSystemDateAndTime", "GetCapabilities", "GetProfiles"};
    struct Case {
        const char* what;
        bool media1, capabilities, faultTypeAll;
        float range;
        const char* profile;
        const std::vector<std::string>& opening;
        int opens;
        const char *moved, *pan, *space;
    };
    const Case cases[] = {
        {"classic: one GetCapabilities answer gives both the media and the PTZ service", true, true, false, 1.0f, "",
         classic, 1, "Profile_1", "0.5", ""},
        {"media2 only, no GetCapabilities", false, false, false, 1.0f, "", media2, 1, "Profile_1", "0.5", ""},
        {"media2 only", false, true, false, 1.0f, "", media2, 1, "Profile_1", "0.5", ""},
        {"media2 only, Type All refused", false, true, true, 1.0f, "", media2Retried, 1, "Profile_1", "0.5", ""},
        {"degrees", true, true, false, 100.0f, "", classic, 1, "Profile_1", "50",
         "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocitySpaceDegrees"},
        {"named profile", true, true, false, 1.0f, "Profile_2", classic, 1, "Profile_2", "0.5", ""},
        {"unknown profile", true, true, false, 1.0f, "Nope", refused, 0, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OnvifCameraOptions options;
        options.media1 = c.media1;
        options.answerGetCapabilities = c.capabilities;
        options.faultTypeAll = c.faultTypeAll;
        options.velocityRange = c.range;
        COnvifCamera sim(options);
        auto cam = OnvifCamera("127.0.0.1", sim.Port());
        cam->SetOnvifProfile(c.profile);  // read by Open
        EXPECT_EQ(cam->Open(), c.opens);
        std::vector<std::string> operations;
        while (auto request = sim.NextRequest(200ms)) {
            const std::string type = request->values["type"];
            operations.push_back(request->operation + (type.empty() ? "" : " " + type));
            EXPECT_TRUE(request->authorized) << request->operation;
        }
        EXPECT_EQ(operations, c.opening);
        if (!c.opens) continue;
        cam->SetHorizonSpeed(31);
        cam->MoveRight();
        OnvifRequest move = Next(sim, "ContinuousMove");
        EXPECT_EQ(std::tie(move.values["profile"], move.values["pan"], move.values["space"]),
                  std::tie(c.moved, c.pan, c.space));
    }
}
