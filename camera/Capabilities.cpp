#include "camera/Capabilities.h"

#include "onvif/PTZService.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

// By operation number (KORVANEOPERATION).
const char* const kOperationNames[] = {nullptr, "move",      "zoom", "focus",    "iris", "preset",
                                       "track", "autozoom", "autowrite", "test", "position", "home"};
constexpr std::int32_t kLastOperation = OP_HOME;

const char* ProtocolText(std::int32_t protocol)
{
    switch (protocol) {
    case PROTOCOL_PELCO_D: return "pelco-d";
    case PROTOCOL_PELCO_P: return "pelco-p";
    case PROTOCOL_VISCA: return "visca";
    default: return nullptr;
    }
}

bool IsOnvif(const LinkKind& link) { return link.mode == MODE_NETWORK && link.deviceType == DEVICE_ONVIF; }

bool IsSwitch(std::int32_t op) { return op == OP_AUTOZOOM || op == OP_AUTOWRITE; }

}  // namespace

const char* OperationName(std::int32_t op)
{
    return op >= OP_MOVE && op <= kLastOperation ? kOperationNames[op] : nullptr;
}

std::int32_t OperationByName(const std::string& name)
{
    for (std::int32_t op = OP_MOVE; op <= kLastOperation; ++op)
        if (name == kOperationNames[op]) return op;
    return 0;
}

std::string DescribeLink(const LinkKind& link)
{
    const char* protocol = ProtocolText(link.protocol);
    const std::string frames = protocol ? protocol : "protocol " + std::to_string(link.protocol);
    switch (link.mode) {
    case MODE_SERIAL: return frames + " on a serial line";
    case MODE_NETWORK:
        if (IsOnvif(link)) return "ONVIF camera";
        return frames + " through the relay service (device type " + std::to_string(link.deviceType) + ")";
    case MODE_TRACKSYSTEM: return frames + " through the tracking system";
    default: return "camera of no known mode";
    }
}

std::string WhyCannot(const LinkKind& link, std::int32_t op)
{
    const char* name = OperationName(op);
    if (!name) return "there is no operation " + std::to_string(op);
    const std::string verb = name;
    if (link.mode < MODE_SERIAL || link.mode > MODE_TRACKSYSTEM) return "a camera of no known mode sends nothing";
    if (IsOnvif(link)) {
        if (op == OP_FOCUS || op == OP_IRIS || op == OP_TRACK || IsSwitch(op))
            return "the library sends an ONVIF camera no " + verb +
                   " command (moves, zoom, stop, presets, test, position and home only)";
        return {};
    }
    if (op == OP_POSITION) return "only an ONVIF camera tells its position";
    if (op == OP_HOME) return "only an ONVIF camera has a home position";
    if (!ProtocolText(link.protocol))
        return "protocol " + std::to_string(link.protocol) + " is none of pelco-d, pelco-p and visca: no frame is built";
    if (link.mode == MODE_NETWORK && link.protocol == PROTOCOL_VISCA)
        return "the relay service carries pelco-d and pelco-p only, not visca";
    if (link.mode == MODE_TRACKSYSTEM) {
        if (IsSwitch(op)) return "the tracking system has no " + verb + " switch";
        if (op == OP_TRACK && link.systemType != TRACKSYSTEM_TYPE_1)
            return "only tracking system type 1 sends the tracking system's track on/off packet";
    }
    if (link.protocol == PROTOCOL_VISCA) {
        if (op == OP_TEST) return "VISCA has no connection-test frame";
        if (IsSwitch(op)) return verb + " is a Pelco preset; VISCA has none";
    }
    return {};
}

bool PresetRange(const LinkKind& link, int& first, int& last)
{
    first = 0;
    last = -1;
    if (!WhyCannot(link, OP_PRESET).empty()) return false;
    // ONVIF presets are named by their number on the camera; a frame carries
    // the number in one byte.
    first = IsOnvif(link) ? CPTZService::kFirstPreset : 0;
    last = IsOnvif(link) ? CPTZService::kLastPreset : 255;
    return true;
}

void CopyText(const std::string& text, char* buffer, int size)
{
    if (!buffer || size <= 0) return;
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

}  // namespace korvane
