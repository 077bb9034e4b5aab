#include "Commands.h"

#include "CommandLine.h"

#include <map>

namespace korvane::tool {

namespace {

using Call = int (CKorvane::*)();

struct Pair {
    const char* first;
    Call firstCall;
    const char* second;
    Call secondCall;
    bool moving;
};

// Commands of two words: "zoom in", "track off".
const std::map<std::string, Pair>& TwoWordCommands()
{
    static const std::map<std::string, Pair> commands = {
        {"zoom", {"in", &CKorvane::ZoomPlus, "out", &CKorvane::ZoomMinus, true}},
        {"focus", {"far", &CKorvane::FocusPlus, "near", &CKorvane::FocusMinus, true}},
        {"iris", {"open", &CKorvane::IrisPlus, "close", &CKorvane::IrisMinus, true}},
        {"track", {"on", &CKorvane::OpenTrack, "off", &CKorvane::CloseTrack, false}},
        {"autozoom", {"on", &CKorvane::OpenAutoZoom, "off", &CKorvane::CloseAutoZoom, false}},
        {"autowrite", {"on", &CKorvane::OpenAutoWrite, "off", &CKorvane::CloseAutoWrite, false}},
    };
    return commands;
}

const std::map<std::string, Call>& Moves()
{
    static const std::map<std::string, Call> moves = {
        {"up", &CKorvane::MoveUp},           {"down", &CKorvane::MoveDown},
        {"left", &CKorvane::MoveLeft},       {"right", &CKorvane::MoveRight},
        {"up-left", &CKorvane::MoveTopLeft}, {"up-right", &CKorvane::MoveTopRight},
        {"down-left", &CKorvane::MoveButtomLeft}, {"down-right", &CKorvane::MoveButtomRight},
    };
    return moves;
}

void ExpectCount(const std::vector<std::string>& words, std::size_t count, const std::string& usage)
{
    if (words.size() != count) throw UsageError("usage: korvane [link options] " + usage);
}

}  // namespace

Action FindAction(const std::vector<std::string>& words)
{
    const std::string& verb = words.at(0);
    if (const auto move = Moves().find(verb); move != Moves().end()) {
        ExpectCount(words, 1, verb);
        const Call call = move->second;
        return Action{verb, [call](CKorvane& cam) { return (cam.*call)(); }, true, verb};
    }
    if (verb == "stop" || verb == "test") {
        ExpectCount(words, 1, verb);
        return verb == "stop" ? Action{verb, [](CKorvane& cam) { return cam.CameraStop(); }, false, verb}
                              : Action{verb, [](CKorvane& cam) { return cam.ConnectTest(); }, false, verb};
    }
    if (const auto pair = TwoWordCommands().find(verb); pair != TwoWordCommands().end()) {
        const Pair& p = pair->second;
        const std::string usage = verb + " " + p.first + "|" + p.second;
        ExpectCount(words, 2, usage);
        Call call = nullptr;
        if (words[1] == p.first) call = p.firstCall;
        if (words[1] == p.second) call = p.secondCall;
        if (!call) throw UsageError("usage: korvane [link options] " + usage);
        return Action{verb + " " + words[1], [call](CKorvane& cam) { return (cam.*call)(); }, p.moving, verb};
    }
    if (verb == "home") {
        if (words.size() == 2 && words[1] == "set")
            return Action{"home set", [](CKorvane& cam) { return cam.SetHome(); }, false, verb};
        ExpectCount(words, 1, "home [set]");
        return Action{"home", [](CKorvane& cam) { return cam.GotoHome(); }, false, verb};
    }
    if (verb == "status") {
        ExpectCount(words, 1, "status");
        return Action{"status", [](CKorvane&) { return 1; }, false, verb};
    }
    if (verb == "preset") {
        ExpectCount(words, 3, "preset go|set|clear NUMBER");
        static const std::map<std::string, unsigned char> ops = {{"go", 0}, {"set", 1}, {"clear", 2}};
        const auto op = ops.find(words[1]);
        if (op == ops.end()) throw UsageError("usage: korvane [link options] preset go|set|clear NUMBER");
        const int number = static_cast<int>(ParseUnsigned("preset", words[2], 256));
        const unsigned char code = op->second;
        return Action{"preset " + words[1] + " " + words[2],
                      [number, code](CKorvane& cam) { return cam.PreSet(number, code); }, false, verb, number};
    }
    throw UsageError("unknown command '" + verb + "' (korvane --help lists them)");
}

std::optional<std::string> Unsendable(const Action& action, const CameraOptions& link, bool once)
{
    const std::string& verb = action.verb;
    const bool lens = verb == "focus" || verb == "iris";
    const bool switches = verb == "autozoom" || verb == "autowrite";
    if (link.mode == MODE_NETWORK && link.deviceType == DEVICE_ONVIF) {
        if (lens || switches || verb == "track")
            return "the library sends an ONVIF camera no " + verb + " command (moves, zoom, stop and presets only)";
        if (verb == "preset" && (action.preset < 1 || action.preset > 256))
            return "ONVIF presets are 1 to 256, not " + std::to_string(action.preset);
        return std::nullopt;
    }
    if (verb == "home" || verb == "status")
        return "only ONVIF cameras " + std::string(verb == "home" ? "have a home position" : "report where they point");
    const char* protocol = ProtocolName(link.protocol);
    if (verb == "preset" && action.preset > 255)
        return std::string(protocol) + " carries presets 0 to 255, not " + std::to_string(action.preset);
    if (link.mode == MODE_TRACKSYSTEM) {
        if (switches) return "the tracking system has no " + verb + " switch";
        if (verb == "track" && link.systemType != TRACKSYSTEM_TYPE_1)
            return "only --system-type 1 sends the tracking system's track on/off packet";
    }
    if (link.protocol == PROTOCOL_VISCA) {
        if (verb == "test") return "VISCA has no connection-test frame";
        if (switches) return verb + " is a Pelco preset; VISCA has none";
        // A VISCA stop repeats the kind of the last move sent (pan/tilt,
        // zoom or focus); a fresh process has sent none.
        if (verb == "stop" && once)
            return "a VISCA stop needs the move it ends: use --for with the move, or interactive";
    }
    return std::nullopt;
}

Action FindAction(const std::vector<std::string>& words, const CameraOptions& link)
{
    Action action = FindAction(words);
    if (const auto why = Unsendable(action, link, true))
        throw UsageError("nothing would go out for '" + action.label + "' to " + link.Describe() + ": " + *why);
    return action;
}

}  // namespace korvane::tool
