#include "Panel.h"
#include "PanelRun.h"

#include "../CameraFile.h"
#include "../Stopper.h"
#include "QrCode.h"
#include "Room.h"
#include "Server.h"

#include "platform/Files.h"
#include "platform/Process.h"

#include <cctype>
#include <filesystem>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <tuple>

namespace korvane::tool {

const char* const kPanelHelp =
    "usage: korvane panel [--cameras FILE] [--listen ADDR:PORT] [--token-file FILE] [--for DURATION]\n"
    "\n"
    "Serves one web page that drives every camera of the camera file: a direction\n"
    "pad, zoom, focus and iris that move while a button is held and stop when it is\n"
    "released, speed sliders, presets (go on a click; store and clear apart from\n"
    "it), track, auto-zoom, auto-write, the connection test, each camera's state,\n"
    "and one live feed of the reports from the whole room, newest first. ONVIF\n"
    "cameras also show where they point while they move (read only while a page is\n"
    "open) and go home on a button (storing home is folded away). \"Find cameras\"\n"
    "lists the ONVIF cameras on the local network, as korvane discover does.\n"
    "The page, its script and style are built into korvane: no internet needed.\n"
    "\n"
    "  --cameras FILE      the room's cameras (default cameras.json; korvane help cameras)\n"
    "  --listen ADDR:PORT  where to serve (default 127.0.0.1:8420; port 0 picks a free one;\n"
    "                      0.0.0.0:PORT the whole room: an address for each of the machine's,\n"
    "                      the first printed as a QR code for a tablet's camera)\n"
    "  --token-file FILE   every request must carry the token on the file's first line\n"
    "                      (Authorization: Bearer TOKEN, or ?token=TOKEN); or set it in\n"
    "                      KORVANE_TOKEN; off loopback one is made up, printed and kept\n"
    "                      (FILE.token beside the camera file, else the user's state\n"
    "                      folder): the same token after a restart\n"
    "  --token TEXT        the same, but other users see TEXT in the process list\n"
    "  --for DURATION      stop serving after this long (default: until Ctrl-C)\n"
    "\n"
    "A held move lasts while the page holds the button: when the page closes, loses\n"
    "its connection or the pointer leaves its window, the camera stops (within a\n"
    "second). A card offers only what its camera's link can send, and shows\n"
    "\"failed\" and why when a command or test went unanswered. Keys: select a\n"
    "camera, then arrows move while held, + - zoom, 1-9 presets, Space or Esc stop,\n"
    "? lists them all. The HTTP API under /api: docs/panel.md.\n"
    "Try it without hardware: korvane demo --panel\n";

namespace panel {

std::pair<std::string, std::uint16_t> ParseListen(const std::string& text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        throw UsageError("--listen wants ADDRESS:PORT, e.g. 127.0.0.1:8420, not '" + text + "'");
    std::string address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (address.empty()) address = "127.0.0.1";
    const unsigned port = ParseUnsigned("--listen's port", text.substr(colon + 1), 65535);
    return {address, static_cast<std::uint16_t>(port)};
}

// Where the panel keeps its own token, in the order tried: beside the camera
// file, then the user's state folder.
std::vector<std::string> TokenFiles(const std::string& cameraFile)
{
    std::vector<std::string> files;
    if (!cameraFile.empty()) files.push_back(cameraFile + ".token");
    const auto folder = [](const char* variable, const char* below) -> std::string {
        const char* value = std::getenv(variable);
        return value && *value ? (std::filesystem::path(value) / below / "korvane" / "panel-token").string() : "";
    };
    for (const std::string& file : {folder("LOCALAPPDATA", ""), folder("XDG_STATE_HOME", ""),
                                    folder("HOME", ".local/state")})
        if (!file.empty()) {
            files.push_back(file);
            break;
        }
    return files;
}

PanelArgs ParsePanelArgs(const std::vector<std::string>& args, bool needCameras)
{
    PanelArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        const auto inlineValue = SplitInlineValue(arg);
        const auto next = [&] { return OptionValue(arg, inlineValue, args, i); };
        if (arg == "--cameras" && needCameras) parsed.cameraFile = next();
        else if (arg == "--listen") std::tie(parsed.server.address, parsed.server.port) = ParseListen(next());
        else if (arg == "--token") {
            parsed.server.token = next();
            if (parsed.server.token.empty()) throw UsageError("--token wants some text");
        } else if (arg == "--token-file") parsed.server.token = ReadSecretFile(next(), "a token");
        else if (arg == "--for") parsed.duration = ParseDuration(next());
        else if (arg == "--every" && !needCameras) parsed.every = ParseDuration(next());
        else if (arg == "--panel" && !needCameras) continue;
        else throw UsageError("unknown option " + arg + " for korvane " + (needCameras ? "panel" : "demo --panel"));
    }
    if (needCameras && parsed.cameraFile.empty()) parsed.cameraFile = "cameras.json";
    parsed.server.cameraFile = parsed.cameraFile;
    // From the environment, the token shows in no process list.
    if (parsed.server.token.empty())
        if (const char* token = std::getenv("KORVANE_TOKEN"); token && *token) parsed.server.token = token;
    if (!IsLoopback(parsed.server.address) && parsed.server.token.empty()) {
        // Off loopback anyone on the network could drive the room: a token it is.
        for (const std::string& path : TokenFiles(needCameras ? parsed.cameraFile : "")) {
            try {
                parsed.server.token = ReadSecretFile(path, "a token");
                parsed.tokenKept = path;
                break;
            } catch (const UsageError&) {
                continue;  // none kept there
            }
        }
        if (parsed.server.token.empty()) {
            std::random_device random;
            const char* const digits = "0123456789abcdef";
            for (int i = 0; i < 32; ++i) parsed.server.token += digits[random() % 16];
            parsed.tokenMadeUp = true;
            for (const std::string& path : TokenFiles(needCameras ? parsed.cameraFile : "")) {
                std::error_code ignored;
                std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
                std::string error;
                // A new file is its owner's only.
                if (platform::WriteWholeFile(path, parsed.server.token + "\n", error)) {
                    parsed.tokenKept = path;
                    break;
                }
            }
        }
    }
    return parsed;
}

namespace {

// A token in an address: everything but letters, digits and -._~ percent-encoded
// (a base64 '+' would read as a space).
std::string UrlEncoded(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (std::isalnum(byte) || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += ch;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

int Serve(const PanelArgs& args, std::vector<NamedCamera> cameras, COutput& output, const std::string& from)
{
    // Every page and tool is a descriptor or two: the soft limit is no limit here.
    platform::RaiseDescriptorLimit();
    std::unique_ptr<CPanelServer> server;
    try {
        server = std::make_unique<CPanelServer>(args.server);
    } catch (const std::exception& error) {
        throw RunError(std::string(error.what()) + " (is another panel running?)");
    }
    const std::size_t count = cameras.size();
    CStopper stopper(args.duration);
    {
        CPanelServer& serving = *server;
        CRoom room(std::move(cameras), output, [&serving](const nlohmann::json& message) { serving.Broadcast(message); });
        server->Start(room);
        const std::string port = std::to_string(server->Port());
        const std::string query = args.server.token.empty() ? "" : "?token=" + UrlEncoded(args.server.token);
        std::string host = args.server.address;
        const bool everywhere = host == "0.0.0.0" || host == "::";
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        if (everywhere) host = "127.0.0.1";
        output.Line("korvane panel: " + std::to_string(count) + (count == 1 ? " camera" : " cameras") + " from " +
                    from);
        if (!args.tokenKept.empty())
            output.Line(std::string("token (") + (args.tokenMadeUp ? "made up and " : "") + "kept in " + args.tokenKept +
                        ", as the panel listens beyond this machine): " + args.server.token);
        else if (args.tokenMadeUp)
            output.Line("token (made up, as the panel listens beyond this machine; not kept): " + args.server.token);
        output.Line("open http://" + host + ":" + port + "/" + query + " in a browser; Ctrl-C ends");
        // Listening on every address: the room's other machines reach it by these.
        // A tablet joins by its camera: the address listened on, or on every
        // address the first of an interface that is neither loopback nor
        // link-local (169.254/16, which the room's devices rarely share).
        std::string roomUrl = everywhere || IsLoopback(args.server.address) ? "" : "http://" + host + ":" + port + "/" + query;
        std::string roomInterface;
        if (everywhere)
            for (const platform::Ipv4Interface& each : platform::Ipv4Interfaces()) {
                const std::string url = "http://" + each.address + ":" + port + "/" + query;
                output.Line("  in the room: " + url + "  (" + each.name + ")");
                if (roomUrl.empty() && !IsLoopback(each.address) && each.address.rfind("169.254.", 0) != 0) {
                    roomUrl = url;
                    roomInterface = "  (" + each.name + ")";
                }
            }
        if (!roomUrl.empty())
            if (const std::vector<std::string> code = QrCodeLines(roomUrl); !code.empty()) {
                output.Line("  " + roomUrl + roomInterface + " as a QR code:");
                for (const std::string& line : code) output.Line("  " + line);
            }
        stopper.Wait();
        output.Line("korvane panel: stopping every camera");
        server->Stop();  // no request reaches the room after this
    }
    return 0;
}

}  // namespace panel

int RunPanel(const std::vector<std::string>& args)
{
    const panel::PanelArgs parsed = panel::ParsePanelArgs(args, true);
    std::vector<NamedCamera> cameras = LoadCameraFile(parsed.cameraFile);
    COutput output{COutput::Queued{}};
    return panel::Serve(parsed, std::move(cameras), output, parsed.cameraFile);
}

}  // namespace korvane::tool
