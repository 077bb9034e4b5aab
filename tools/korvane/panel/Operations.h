// What the panel can be asked to do, in one table for both ways in: a POST to
// /api/cameras/NAME/OP with its fields as the JSON body, and a message on a
// page's push channel, {"op": OP, "camera": NAME, ...the same fields}. Only
// the caller differs: who holds a move, and for how long by default.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace korvane::tool::panel {

class CRoom;

struct Caller {
    std::string holder;                // "api", or the page's own name
    std::chrono::milliseconds lease;   // of a held move
    bool chosenLease = false;          // "hold_ms" may set another (the API's)
};

// Runs the operation; the answer's fields ({"ok": true, "camera": ...} and
// what was done). Throws RoomError: 400 a missing or wrong field, 404 an
// operation nobody knows or a camera not there, and the room's own refusals.
nlohmann::json RunOperation(CRoom& room, const Caller& caller, const std::string& op, const std::string& camera,
                            const nlohmann::json& fields);

}  // namespace korvane::tool::panel
