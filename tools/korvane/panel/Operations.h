// What the panel can be asked to do, in one table for both ways in: a POST to
// /api/cameras/NAME/OP with its fields as the JSON body, and a message on a
// page's push channel, {"op": OP, "camera": NAME, ...the same fields}. Only
// the caller differs: who holds a move, and for how long by default.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <string>

namespace korvane::tool::panel {

class CRoom;

struct Caller {
    std::string holder;                // "api", or the page's own name
    std::chrono::milliseconds lease;   // of a held move
    bool chosenLease = false;          // "hold_ms" may set another (the API's)
};

// Gets the answer once it is known, from any thread (the camera's, once the
// command was made there): 200 and {"ok": true, "camera": ..., what was done},
// or the failure's status and {"error": reason}.
using Finish = std::function<void(int status, const nlohmann::json& answer)>;

// Runs the operation. Throws RoomError, and finishes nothing, when it is
// refused before anything is sent: 400 a missing or wrong field, 404 an
// operation nobody knows or a camera not there, and the room's own refusals.
void RunOperation(CRoom& room, const Caller& caller, const std::string& op, const std::string& camera,
                  const nlohmann::json& fields, Finish finish);

}  // namespace korvane::tool::panel
