// The panel as anyone who reaches its port drives it: the first byte picks
// the path (even: the bytes are one HTTP request; odd: one push-channel
// message), the rest is the input. Whatever comes, the answer is HTTP with a
// body of JSON (or the page), a message's answer is a JSON error, no
// exception escapes, and the room behind it still answers.
#include "Check.h"

#include "Camera.h"
#include "panel/Room.h"
#include "panel/Server.h"
#include "panel/WebAssets.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <string>

namespace korvane::tool::panel {
// The real page is built from web/; a stand-in keeps the target apart from that step.
const char kPanelHtml[] = "<!doctype html><style>/*PANEL_CSS*/</style><script>/*PANEL_JS*/</script>";
const char kPanelCss[] = "body{}";
const char kPanelJs[] = "void 0;";
}  // namespace korvane::tool::panel

using namespace korvane::tool;
using nlohmann::json;

namespace {

// Cameras that never open (a missing device, a port nobody answers on), one
// with a name that is no ASCII: their states and errors reach every answer.
std::vector<NamedCamera> Cameras()
{
    std::vector<NamedCamera> cameras(2);
    cameras[0].name = "podium";
    cameras[0].options.mode = MODE_SERIAL;
    cameras[0].options.target = "/dev/korvane-fuzz-no-such-device";
    cameras[1].name = "B\xc3\xbchne";
    cameras[1].options.mode = MODE_NETWORK;
    cameras[1].options.deviceType = DEVICE_ONVIF;
    cameras[1].options.target = "127.0.0.1";
    cameras[1].options.port = 9;
    return cameras;
}

struct Panel {
    Panel()
        : sink(std::fopen("/dev/null", "w")), output(sink), server(panel::ServerOptions{"127.0.0.1", 0, "", ""}),
          room(Cameras(), output, [this](const json& message) { server.Broadcast(message); })
    {
        server.Start(room);
    }
    std::FILE* sink;
    COutput output;
    panel::CPanelServer server;
    panel::CRoom room;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Panel panel;  // one room for the whole run, as one panel serves for hours
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        const std::string answer = panel.server.AnswerMessage(text);
        if (answer.empty()) return 0;  // a move taken, or a release
        const json parsed = json::parse(answer, nullptr, false);
        FUZZ_REQUIRE(!parsed.is_discarded() && parsed.value("type", "") == "error", "message answer: %s",
                     answer.c_str());
        return 0;
    }
    const std::string answer = panel.server.AnswerBytes(text);
    if (answer.empty()) return 0;  // no whole request, or the push channel asked for
    FUZZ_REQUIRE(answer.rfind("HTTP/1.", 0) == 0, "not an HTTP answer: %.200s", answer.c_str());
    const std::size_t head = answer.find("\r\n\r\n");
    FUZZ_REQUIRE(head != std::string::npos, "an answer without the end of its header");
    if (answer.find("application/json") < head) {
        const std::string body = answer.substr(head + 4);
        FUZZ_REQUIRE(body.empty() || !json::parse(body, nullptr, false).is_discarded(), "JSON answer: %.300s",
                     body.c_str());
    }
    // The room still answers after whatever came.
    FUZZ_REQUIRE(panel.room.Has("podium"), "the room lost its camera");
    return 0;
}
