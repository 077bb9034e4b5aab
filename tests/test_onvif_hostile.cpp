// ONVIF cameras that misbehave on purpose, through the public interface,
// against the simulated camera over real HTTP on 127.0.0.1: what reaches the
// camera, where it goes, how many requests it costs and how long host calls
// take.
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using korvane::sim::COnvifCamera;
using korvane::sim::OnvifCameraOptions;
using korvane::sim::OnvifFault;
using korvane::sim::OnvifPace;
using korvane::sim::OnvifRequest;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<CKorvane> OnvifCamera(unsigned port)
{
    auto cam = std::make_unique<CKorvane>(MODE_NETWORK);
    cam->SetDeviceType(DEVICE_ONVIF);
    cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", port, 0, "admin", "secret", "");
    return cam;
}

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

}  // namespace

TEST(OnvifHostile, CameraClockFieldsAreCheckedBeforeTheyDateTokens)
{
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::string ourYear = std::to_string(1970 + now / 31556952);  // mean Gregorian year: far from New Year is enough
    struct Case {
        std::vector<std::string> claimed;  // year, month, day, hour, minute, second
        std::string created;               // what tokens' Created must begin with; empty: our year
                                           // (claimed seconds of 30 leave room for the time taken)
    };
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.claimed));
        OnvifCameraOptions options;
        options.claimedDate = c.claimed;
        COnvifCamera sim(options);
        auto cam = OnvifCamera(sim.Port());
        ASSERT_EQ(cam->Open(), 1);
        cam->MoveUp();
        auto move = sim.NextOf("ContinuousMove", 3s);
        ASSERT_TRUE(move);
        const std::string created = move->values["created"];
        const std::string expected = c.created.empty() ? ourYear + "-" : c.created;
        EXPECT_EQ(created.substr(0, expected.size()), expected) << created;
    }
}

TEST(OnvifHostile, ABasicChallengeGetsNoPassword)
{
    COnvifCamera sim;
    sim.SetFault(OnvifFault::BasicChallenge);
    auto cam = OnvifCamera(sim.Port());
    EXPECT_EQ(cam->Open(), 0);
    cam->MoveUp();
    // A camera that turns to Basic after a good start gets nothing either.
    sim.SetFault(OnvifFault::None);
    cam = OnvifCamera(sim.Port());
    ASSERT_EQ(cam->Open(), 1);
    sim.SetFault(OnvifFault::BasicChallenge);
    cam->MoveUp();
    cam->PreSet(3, 1);
    EXPECT_GT(sim.HttpRequestCount(), 0u);
    for (const std::string& header : sim.AuthorizationHeaders())
        EXPECT_NE(header.rfind("Basic", 0), 0u) << header;
}

// Which scheme, host and port are kept is OnvifWire's table; here, that the
// client asks the host for each service, never the address the camera reports.
TEST(OnvifHostile, ServiceAddressesKeepTheHostsSchemeHostAndPort)
{
    COnvifCamera elsewhere;  // where the camera points: gets nothing
    for (const bool media1 : {true, false}) {  // the media service named by GetCapabilities, or by GetServices
        SCOPED_TRACE(media1 ? "media" : "media2");
        OnvifCameraOptions options;
        options.media1 = media1;
        options.serviceBase = "http://127.0.0.1:" + std::to_string(elsewhere.Port());  // as behind NAT
        COnvifCamera sim(options);
        auto cam = OnvifCamera(sim.Port());
        ASSERT_EQ(cam->Open(), 1);
        const auto profiles = sim.NextOf("GetProfiles", 3s);
        ASSERT_TRUE(profiles);
        EXPECT_EQ(profiles->path, media1 ? "/onvif/media_service" : "/onvif/media2_service");  // on the host's address
        cam->MoveLeft();
        const auto move = sim.NextOf("ContinuousMove", 3s);
        ASSERT_TRUE(move);
        EXPECT_EQ(move->path, "/onvif/ptz_service");
        EXPECT_TRUE(move->authorized);
    }
    EXPECT_EQ(elsewhere.HttpRequestCount(), 0u);
    EXPECT_EQ(elsewhere.ConnectionCount(), 0u);
}

// HTTP digest is negotiated once and the connection kept; a camera that
// challenges without end costs a few round trips.
TEST(OnvifHostile, DigestIsNegotiatedOnceAndEndlessChallengesCostAFewRoundTrips)
{
    OnvifCameraOptions options;
    options.requireHttpDigest = true;
    COnvifCamera sim(options);
    auto cam = OnvifCamera(sim.Port());
    ASSERT_EQ(cam->Open(), 1);
    std::size_t before = sim.HttpRequestCount();
    for (int i = 0; i < 10; ++i) cam->MoveLeft();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(sim.NextOf("ContinuousMove", 3s)) << i;
    EXPECT_EQ(sim.HttpRequestCount() - before, 10u);  // one round trip per request
    EXPECT_EQ(sim.ConnectionCount(), 1u);
    sim.SetFault(OnvifFault::EndlessStaleDigest);
    before = sim.HttpRequestCount();
    const auto took = Timed("MoveUpAgainstEndlessChallenges", [&] { cam->MoveUp(); });
    EXPECT_LE(sim.HttpRequestCount() - before, 4u);  // the request and three answers to challenges at most
    EXPECT_LT(took.count(), 1000);
    // Set-up against such a camera: a handful of requests per step.
    before = sim.HttpRequestCount();
    cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", sim.Port(), 0, "admin", "secret", "");
    EXPECT_EQ(cam->Open(), 0);
    EXPECT_LE(sim.HttpRequestCount() - before, 12u);
}

// A camera that answers every request correctly, 4.5 seconds late: each host
// call ends within its deadline, and once a request has run out of time the
// call asks nothing more.
TEST(OnvifHostile, ALateCameraCostsOneDeadlinePerHostCall)
{
    COnvifCamera sim;
    auto cam = OnvifCamera(sim.Port());
    ASSERT_EQ(cam->Open(), 1);
    sim.SetPace(OnvifPace{4500ms, 0ms});
    // At most two requests each: the first answered, the second cut short, no third.
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"PreSetGoToUnknown", [&] { cam->PreSet(9, 0); }},  // unknown: stored, then gone to
        {"Open", [&] { EXPECT_EQ(cam->Open(), 0); }},
        {"SetSocketParam", [&] { cam->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", sim.Port(), 0, "admin", "secret", ""); }}};
    for (const auto& [name, call] : calls) {
        const std::size_t before = sim.HttpRequestCount();
        EXPECT_LT(Timed(name, call).count(), kCallBound.count()) << name;
        EXPECT_LE(sim.HttpRequestCount() - before, 2u) << name;
    }
}

// A camera that sends its status line at once and then one byte at a time
// costs one time-out, at set-up or at Open, and nothing more is asked.
TEST(OnvifHostile, ADrippingCameraCostsOneDeadline)
{
    COnvifCamera sim;
    sim.SetPace(OnvifPace{0ms, 200ms});
    std::unique_ptr<CKorvane> cam;
    auto took = Timed("SetUp", [&] { cam = OnvifCamera(sim.Port()); });
    EXPECT_LT(took.count(), kCallBound.count());
    EXPECT_EQ(sim.HttpRequestCount(), 1u);  // the clock; nothing after its time ran out
    took = Timed("OpenWithoutServices", [&] { EXPECT_EQ(cam->Open(), 0); });
    EXPECT_LT(took.count(), 1000);  // no services known: nothing to ask

    sim.SetPace(OnvifPace{});
    cam = OnvifCamera(sim.Port());
    ASSERT_EQ(cam->Open(), 1);
    sim.SetPace(OnvifPace{0ms, 200ms});
    const std::size_t before = sim.HttpRequestCount();
    took = Timed("OpenDripping", [&] { EXPECT_EQ(cam->Open(), 0); });
    EXPECT_GE(took, 4s);  // a slow answer is waited for
    EXPECT_LT(took.count(), kCallBound.count());
    EXPECT_EQ(sim.HttpRequestCount() - before, 1u);
}
