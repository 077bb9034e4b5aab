#include "Operations.h"

#include "Room.h"

#include <functional>
#include <map>
#include <optional>
#include <set>

namespace korvane::tool::panel {

using nlohmann::json;

namespace {

// One operation's view of its request: the fields, with checks that name
// what is wrong, and the answer being built.
struct Request {
    CRoom& room;
    const Caller& caller;
    const std::string& camera;
    const json& fields;
    json done;
    Finish finish;
    bool handed = false;  // to the room, which finishes it

    // The room's done for the command, given once the answer's fields are set.
    Done Then()
    {
        handed = true;
        return [answer = done, finish = finish](const Outcome& outcome) {
            if (outcome.status / 100 != 2) return finish(outcome.status, {{"error", outcome.error}});
            finish(outcome.status, answer);
        };
    }

    std::string Text(const char* field, const std::string& example) const
    {
        if (!fields.contains(field) || !fields[field].is_string())
            throw RoomError(400, std::string("wants \"") + field + "\": " + example);
        return fields[field].get<std::string>();
    }
    std::optional<int> Number(const char* field, int low, int high, std::optional<int> otherwise) const
    {
        if (!fields.contains(field)) {
            if (otherwise) return otherwise;
            throw RoomError(400, std::string("wants \"") + field + "\": a number from " + std::to_string(low) +
                                     " to " + std::to_string(high));
        }
        const json& value = fields[field];
        if (!value.is_number_integer() || value.get<long long>() < low || value.get<long long>() > high)
            throw RoomError(400, std::string("\"") + field + "\" wants a whole number from " + std::to_string(low) +
                                     " to " + std::to_string(high));
        return static_cast<int>(value.get<long long>());
    }
    // The page's number for one press of a button (0: none given). Only a
    // press the page has not ended yet may move the camera.
    std::uint64_t Press() const
    {
        if (!fields.contains("press")) return 0;
        const json& value = fields["press"];
        if (!value.is_number_unsigned() || value.get<std::uint64_t>() == 0)
            throw RoomError(400, "\"press\" wants a whole number from 1");
        return value.get<std::uint64_t>();
    }
    void Hold(const std::string& motion)
    {
        const std::chrono::milliseconds lease =
            caller.chosenLease
                ? std::chrono::milliseconds(*Number("hold_ms", 100, 10000, static_cast<int>(caller.lease.count())))
                : caller.lease;
        if (fields.contains("take") && !fields["take"].is_boolean()) throw RoomError(400, "\"take\" wants true or false");
        done["moving"] = motion;
        if (caller.chosenLease) done["hold_ms"] = lease.count();
        room.Hold(camera, motion, caller.holder, lease, Press(), fields.value("take", false), Then());
    }
};

using Run = std::function<void(Request&)>;

// zoom in|out, focus far|near, iris open|close: held as a move is.
Run Lens(const std::string& name, const std::string& first, const std::string& second)
{
    return [=](Request& request) {
        const std::string direction = request.Text("direction", "\"" + first + "\" or \"" + second + "\"");
        if (direction != first && direction != second)
            throw RoomError(400, "unknown direction '" + direction + "' for " + name + " (" + first + " or " + second + ")");
        request.Hold(name + "-" + direction);
    };
}

Run Switch(const std::string& what)
{
    return [=](Request& request) {
        if (!request.fields.contains("on") || !request.fields["on"].is_boolean())
            throw RoomError(400, "wants \"on\": true or false");
        request.done["on"] = request.fields["on"];
        request.room.Switch(request.camera, what, request.fields["on"].get<bool>(), request.Then());
    };
}

const std::map<std::string, Run>& Operations()
{
    static const std::map<std::string, Run> operations = {
        {"move",
         [](Request& request) {
             static const std::set<std::string> directions = {"up",      "down",     "left",      "right",
                                                              "up-left", "up-right", "down-left", "down-right"};
             const std::string direction =
                 request.Text("direction", "up, down, left, right, up-left, up-right, down-left or down-right");
             if (!directions.count(direction))
                 throw RoomError(400, "unknown direction '" + direction +
                                          "' (up, down, left, right, up-left, up-right, down-left, down-right)");
             request.Hold(direction);
         }},
        {"zoom", Lens("zoom", "in", "out")},
        {"focus", Lens("focus", "far", "near")},
        {"iris", Lens("iris", "open", "close")},
        // A page's held button, by its motion's name.
        {"hold",
         [](Request& request) {
             const std::string motion = request.Text("motion", "up, zoom-in, focus-far, iris-open, ...");
             if (!IsMotion(motion)) throw RoomError(400, "unknown motion '" + motion + "'");
             request.Hold(motion);
         }},
        {"release",
         [](Request& request) {
             request.room.Release(request.camera, request.caller.holder, request.Press(), request.Then());
         }},
        {"release-all",
         [](Request& request) {
             const std::string why = request.fields.contains("why") ? request.Text("why", "a reason") : "no reason";
             request.room.ReleaseAll(request.caller.holder, "the page let go (" + why + ")");
         }},
        {"stop",
         [](Request& request) {
             request.room.Stop(request.camera, request.caller.holder, request.Press(), request.Then());
         }},
        {"preset",
         [](Request& request) {
             static const std::map<std::string, int> ops = {{"go", 0}, {"set", 1}, {"clear", 2}};
             const std::string op = request.Text("action", "\"go\", \"set\" or \"clear\"");
             if (!ops.count(op)) throw RoomError(400, "unknown preset action '" + op + "' (go, set or clear)");
             // The camera's own range is the room's to check (422).
             const int preset = *request.Number("number", 0, 9999, std::nullopt);
             request.done["preset"] = preset;
             request.done["action"] = op;
             request.room.Preset(request.camera, preset, ops.at(op), request.Then());
         }},
        {"track", Switch("track")},
        {"autozoom", Switch("autozoom")},
        {"autowrite", Switch("autowrite")},
        {"speed",
         [](Request& request) {
             const int pan = *request.Number("pan", 0, 63, -1);
             const int tilt = *request.Number("tilt", 0, 63, -1);
             if (pan < 0 && tilt < 0) throw RoomError(400, "wants \"pan\" or \"tilt\": a number from 0 to 63");
             request.room.Speed(request.camera, pan < 0 ? std::nullopt : std::optional<int>(pan),
                                tilt < 0 ? std::nullopt : std::optional<int>(tilt), request.Then());
         }},
        {"take", [](Request& request) { request.room.Take(request.camera, request.caller.holder, request.Then()); }},
        // Whether the camera answered, or the link sent it without being able to tell.
        {"test",
         [](Request& request) {
             request.handed = true;
             request.room.Test(request.camera, [answer = request.done, finish = request.finish](const Outcome& outcome) {
                 if (outcome.status / 100 != 2) return finish(outcome.status, {{"error", outcome.error}});
                 json tested = answer;
                 tested["result"] = outcome.result;
                 finish(outcome.status, tested);
             });
         }},
        {"home",
         [](Request& request) {
             // Going home is the plain case; storing it must be asked for by name.
             const std::string op =
                 request.fields.contains("action") ? request.Text("action", "\"go\" or \"set\"") : "go";
             if (op != "go" && op != "set") throw RoomError(400, "unknown home action '" + op + "' (go or set)");
             request.done["action"] = op;
             request.room.Home(request.camera, op == "set", request.Then());
         }},
    };
    return operations;
}

}  // namespace

void RunOperation(CRoom& room, const Caller& caller, const std::string& op, const std::string& camera, const json& fields,
                  Finish finish)
{
    const auto found = Operations().find(op);
    if (found == Operations().end()) {
        std::string names;
        for (const auto& each : Operations()) names += (names.empty() ? "" : ", ") + each.first;
        throw RoomError(404, "no command '" + op + "' (" + names + ")");
    }
    Request request{room, caller, camera, fields, {{"ok", true}}, std::move(finish)};
    if (op != "release-all") request.done["camera"] = camera;
    found->second(request);
    if (!request.handed) request.finish(200, request.done);
}

}  // namespace korvane::tool::panel
