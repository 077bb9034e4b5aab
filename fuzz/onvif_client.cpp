// The ONVIF client's whole flow against a camera whose every answer is the
// fuzzer's: set-up, open, then a run of moves, focus, stops and preset calls. Every request
// must be a well-formed, signed envelope sent to the device service or to a
// path the camera handed out, on the host and port the host gave; no call may send more than a few requests;
// a camera that is not ready refuses moves without sending anything.
#include "Check.h"
#include "FakeHttp.h"
#include "RequestChecks.h"

#include "onvif/PTZService.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <pugixml.hpp>

#include <cstring>
#include <set>
#include <string>

using namespace korvane;

namespace {

const std::string kDeviceUrl = "http://192.0.2.10:8080/onvif/device_service";

const std::string kOrigin = "http://192.0.2.10:8080/";

// A refused token (NotAuthorized) costs one clock request and the refused
// request once more, once per call.
constexpr std::size_t kRetry = 2;
const char* const kEveryAxis = "<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>true</tptz:Zoom>";

// The XAddr texts of every answer so far.
std::set<std::string> HandedAddresses()
{
    struct Walker : pugi::xml_tree_walker {
        std::set<std::string> found;
        bool for_each(pugi::xml_node& node) override
        {
            const char* colon = std::strrchr(node.name(), ':');
            if (node.type() == pugi::node_element && std::strcmp(colon ? colon + 1 : node.name(), "XAddr") == 0)
                found.insert(node.child_value());
            return true;
        }
    } walker;
    for (const std::string& body : fuzz::Http().answered) {
        pugi::xml_document document;
        if (document.load_buffer(body.data(), body.size())) document.traverse(walker);
    }
    return walker.found;
}

// Checks the requests of one call, made since `from`; returns how many.
std::size_t CheckCall(const char* call, std::size_t from, std::size_t limit, const std::string& user,
                      const std::string& password)
{
    const auto& requests = fuzz::Http().requests;
    const std::size_t made = requests.size() - from;
    FUZZ_REQUIRE(made <= limit, "%s sent %zu requests, at most %zu expected", call, made, limit);
    const std::set<std::string> addresses = HandedAddresses();
    const auto& answered = fuzz::Http().replies;
    for (std::size_t i = from; i < requests.size(); ++i) {
        const fuzz::PostedRequest& request = requests[i];
        // One deadline per call: each request gets at most what is left, and
        // none follows one that ran out of time.
        FUZZ_REQUIRE(request.timeout.count() > 0 && request.timeout <= onvif::CHttpSession::kTimeout,
                     "%s: a request given %lld ms", call, static_cast<long long>(request.timeout.count()));
        if (i > from) {
            FUZZ_REQUIRE(request.timeout <= requests[i - 1].timeout, "%s: request %zu given more time than the one before",
                         call, i - from);
            FUZZ_REQUIRE(i - 1 >= answered.size() || !answered[i - 1].timedOut,
                         "%s: a request after one that ran out of time", call);
        }
        // The camera's clock is asked for without credentials; all else with.
        const bool clock = request.action.size() >= 20 &&
                           request.action.compare(request.action.size() - 20, 20, "GetSystemDateAndTime") == 0;
        const std::string expectedUser = clock ? std::string() : user;
        const std::string expectedPassword = clock ? std::string() : password;
        FUZZ_REQUIRE(request.user == expectedUser && request.password == expectedPassword,
                     "%s: other credentials sent with %s", call, request.action.c_str());
        fuzz::CheckRequest(request.action, request.envelope, expectedUser, expectedPassword);
        // Credentials go to the host and port the host gave, whatever the
        // camera advertises; the path is the device service's or one that an
        // answer named, with nothing a URL cannot carry.
        FUZZ_REQUIRE(request.url.compare(0, kOrigin.size(), kOrigin) == 0, "%s: request to '%s'", call,
                     request.url.c_str());
        for (const char c : request.url)
            FUZZ_REQUIRE(static_cast<unsigned char>(c) > ' ' && c != 0x7f, "%s: '%s' holds a blank or control",
                         call, request.url.c_str());
        std::string path = request.url.substr(kOrigin.size() - 1);
        if (path.rfind("/?", 0) == 0) path.erase(0, 1);  // a bare query gets a root path
        bool named = request.url == kDeviceUrl;
        for (const std::string& address : addresses) named = named || address.find(path) != std::string::npos;
        FUZZ_REQUIRE(named, "%s: request to '%s', which no answer named", call, request.url.c_str());
    }
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Http() = {};
    FuzzedDataProvider input(data, size);
    static const char* kUsers[] = {"admin", "", "<&user\"'>"};
    const std::string user = kUsers[input.ConsumeIntegralInRange(0, 2)];
    const std::string password = input.ConsumeBool() ? "secret" : "";
    std::vector<std::uint8_t> calls;
    for (int i = input.ConsumeIntegralInRange(0, 8); i > 0; --i) calls.push_back(input.ConsumeIntegral<std::uint8_t>());
    fuzz::Http().answers = fuzz::SplitAnswers(input.ConsumeRemainingBytesAsString());

    CPTZService camera;
    camera.Init("192.0.2.10", 8080, user.c_str(), password.c_str());
    // The clock, capabilities, and services when capabilities lack one; a
    // refused token costs the clock and the request once more.
    const std::size_t setUp = CheckCall("Init", 0, 3 + kRetry, user, password);
    FUZZ_REQUIRE(setUp >= 1, "Init sent nothing");
    if (fuzz::Http().answered.empty()) FUZZ_REQUIRE(setUp == 1, "a camera that never answers cost %zu requests", setUp);

    std::size_t from = fuzz::Http().requests.size();
    // Profiles (twice from the newer media service, which may refuse Type
    // All), the configuration unless the profile names it, its options, presets.
    bool ready = camera.Open().value == 1;
    CheckCall("Open", from, 5 + kRetry, user, password);
    // After a second set-up, readiness is the camera's business until the
    // next Open: only the bounds are checked then.
    bool known = true;

    for (const std::uint8_t call : calls) {
        from = fuzz::Http().requests.size();
        const int preset = call >> 3;  // 0 to 31: out of range at 0
        std::size_t made = 0;
        int result = 0;
        switch (call % 9) {
        case 0:
            result = camera.ContinuousMove(0.5f, -0.5f, 0.0f).value;
            made = CheckCall("ContinuousMove", from, 1 + kRetry, user, password);
            if (known) FUZZ_REQUIRE((ready ? made >= 1 : made == 0) && (ready || result == -1),
                                    "a %s camera: %zu moves sent, result %d", ready ? "ready" : "closed", made, result);
            break;
        case 1:
            result = camera.Stop().value;
            // The PTZ stop, and the Imaging one after a focus move.
            made = CheckCall("Stop", from, 2 + kRetry, user, password);
            if (known) FUZZ_REQUIRE((ready ? made >= 1 : made == 0) && (ready || result == -1),
                                    "a %s camera: %zu stops sent, result %d", ready ? "ready" : "closed", made, result);
            for (std::size_t i = from; i < fuzz::Http().requests.size(); ++i)
                FUZZ_REQUIRE(fuzz::Http().requests[i].envelope.find(kEveryAxis) != std::string::npos ||
                                 fuzz::Http().requests[i].action.find("GetSystemDateAndTime") != std::string::npos ||
                                 fuzz::Http().requests[i].action == std::string(onvif::kNsImaging) + "/Stop",
                             "a stop that does not stop every axis");
            break;
        case 2:
            result = camera.SetPreset(preset).value;
            // Refused as new: the presets read again and the update by token.
            made = CheckCall("SetPreset", from, 3 + kRetry, user, password);
            // -1: refused here, without a request (no opened profile).
            FUZZ_REQUIRE(result >= -1 && result <= 1, "SetPreset gave %d", result);
            if (preset == 0 || (known && !ready)) FUZZ_REQUIRE(made == 0 && result <= 0, "preset %d sent", preset);
            break;
        case 3:
            camera.GotoPreset(preset, 32, 32);
            made = CheckCall("GotoPreset", from, 4 + kRetry, user, password);
            if (preset == 0 || (known && !ready)) FUZZ_REQUIRE(made == 0, "go-to %d sent", preset);
            break;
        case 4:
            camera.RemovePreset(preset);
            made = CheckCall("RemovePreset", from, 1 + kRetry, user, password);
            if (preset == 0 || (known && !ready)) FUZZ_REQUIRE(made == 0, "removal %d sent", preset);
            break;
        case 5: camera.ClearPresets(); break;
        case 6:
            ready = camera.Open().value == 1;
            known = true;
            CheckCall("Open", from, 5 + kRetry, user, password);
            break;
        case 7:
            camera.Init("192.0.2.10", 8080, user.c_str(), password.c_str());
            known = false;
            CheckCall("Init", from, 3 + kRetry, user, password);
            break;
        case 8:
            result = camera.Focus(-0.25f).value;
            made = CheckCall("Focus", from, 1 + kRetry, user, password);
            // Only an open camera that showed an Imaging service is asked.
            if (known && (!ready || !camera.HasFocus()))
                FUZZ_REQUIRE(made == 0 && result == -1, "focus on a camera without it: %zu sent, result %d", made,
                             result);
            break;
        }
    }
    return 0;
}
