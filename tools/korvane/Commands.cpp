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

KORVANEOPERATION OperationOf(const std::string& verb)
{
    static const std::map<std::string, KORVANEOPERATION> operations = {
        {"zoom", OP_ZOOM},     {"focus", OP_FOCUS},         {"iris", OP_IRIS},
        {"preset", OP_PRESET}, {"track", OP_TRACK},         {"autozoom", OP_AUTOZOOM},
        {"autowrite", OP_AUTOWRITE}, {"test", OP_TEST},         {"status", OP_POSITION},
        {"home", OP_HOME}};
    const auto found = operations.find(verb);
    return found == operations.end() ? OP_MOVE : found->second;  // the moves and stop
}

std::optional<std::string> Unsendable(const Action& action, const CameraOptions& link)
{
    // What the link carries is the library's to say.
    char why[256];
    if (CKorvane::LinkWhyCannot(link.mode, link.protocol, link.deviceType, link.systemType, OperationOf(action.verb),
                                why, sizeof why))
        return std::string(why);
    if (action.verb == "preset") {
        int first = 0, last = -1;
        CKorvane::LinkPresetRange(link.mode, link.protocol, link.deviceType, first, last);
        if (action.preset < first || action.preset > last)
            return "presets on this link are " + std::to_string(first) + " to " + std::to_string(last) + ", not " +
                   std::to_string(action.preset);
    }
    return std::nullopt;
}

Action FindAction(const std::vector<std::string>& words, const CameraOptions& link)
{
    // "preset go lectern": a name from the camera file stands for its number.
    std::vector<std::string> named = words;
    if (named.size() == 3 && named[0] == "preset" && named[2].find_first_not_of("0123456789") != std::string::npos) {
        std::string known;
        for (const auto& [number, name] : link.presetNames) {
            if (name == words[2]) named[2] = std::to_string(number);
            known += (known.empty() ? "" : ", ") + name;
        }
        if (named == words)
            throw UsageError("no preset named '" + words[2] + "'" +
                             (known.empty() ? " (name presets in the camera file: \"presets\": {\"1\": \"lectern\"})"
                                            : " (this camera's: " + known + ")"));
    }
    Action action = FindAction(named);
    if (named != words) action.label += " (" + words[2] + ")";
    if (const auto why = Unsendable(action, link))
        throw UsageError("nothing would go out for '" + action.label + "' to " + link.Describe() + ": " + *why);
    return action;
}

}  // namespace korvane::tool
