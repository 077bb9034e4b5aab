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

bool IsSwitch(std::int32_t op) { return op == OP_AUTOZOOM || op == OP_AUTOWRITE; }

// Pelco and VISCA frames: why op is not sent in the protocol of the link.
std::string FrameRefusal(const LinkKind& link, std::int32_t op, const std::string& verb)
{
    if (op == OP_POSITION) return "only an ONVIF camera tells its position";
    if (op == OP_HOME) return "only an ONVIF camera has a home position";
    if (!ProtocolText(link.protocol))
        return "protocol " + std::to_string(link.protocol) + " is none of pelco-d, pelco-p and visca: no frame is built";
    if (link.protocol == PROTOCOL_VISCA) {
        if (op == OP_TEST) return "VISCA has no connection-test frame";
        if (IsSwitch(op)) return verb + " is a Pelco preset; VISCA has none";
    }
    return {};
}

std::string Frames(const LinkKind& link)
{
    const char* protocol = ProtocolText(link.protocol);
    return protocol ? protocol : "protocol " + std::to_string(link.protocol);
}

// One row per transport: which links it carries, how it is named, why an
// operation is not sent on it (empty: sent), and its preset numbers. The
// first row that carries a link is its transport; a new transport adds a row.
struct Transport {
    bool (*carries)(const LinkKind& link);
    std::string (*describe)(const LinkKind& link);
    std::string (*refuses)(const LinkKind& link, std::int32_t op, const std::string& verb);
    int firstPreset, lastPreset;
};

const Transport kTransports[] = {
    // Serial line: every frame of the protocol.
    {[](const LinkKind& link) { return link.mode == MODE_SERIAL; },
     [](const LinkKind& link) { return Frames(link) + " on a serial line"; }, FrameRefusal, 0, 255},
    // ONVIF: SOAP requests of its own; presets are named by their number on
    // the camera.
    {[](const LinkKind& link) { return link.mode == MODE_NETWORK && link.deviceType == DEVICE_ONVIF; },
     [](const LinkKind&) { return std::string("ONVIF camera"); },
     [](const LinkKind& link, std::int32_t op, const std::string& verb) {
         if (op == OP_IRIS || op == OP_TRACK || IsSwitch(op))
             return "the library sends an ONVIF camera no " + verb +
                    " command (moves, zoom, focus, stop, presets, test, position and home only)";
         // Focus goes through the camera's Imaging service, which Open looks for.
         if (op == OP_FOCUS && link.noFocus)
             return std::string("this ONVIF camera offers no Imaging service for its profile's video source: no focus");
         return std::string();
     },
     CPTZService::kFirstPreset, CPTZService::kLastPreset},
    // VISCA over IP: a serial VISCA camera's frames at address 1, answered;
    // the position inquiries and the home command besides, and an inquiry
    // as the connection test.
    {[](const LinkKind& link) { return link.mode == MODE_NETWORK && link.deviceType == DEVICE_VISCA_IP; },
     [](const LinkKind&) { return std::string("VISCA-over-IP camera"); },
     [](const LinkKind&, std::int32_t op, const std::string& verb) {
         if (op == OP_TRACK || IsSwitch(op))
             return verb + " is a switch of the tracking system's cameras; a VISCA-over-IP camera has none";
         return std::string();
     },
     0, 255},
    // The relay service: every other network device type, Pelco frames only.
    {[](const LinkKind& link) { return link.mode == MODE_NETWORK; },
     [](const LinkKind& link) {
         return Frames(link) + " through the relay service (device type " + std::to_string(link.deviceType) + ")";
     },
     [](const LinkKind& link, std::int32_t op, const std::string& verb) {
         if (op != OP_POSITION && op != OP_HOME && link.protocol == PROTOCOL_VISCA)
             return std::string("the relay service carries pelco-d and pelco-p only, not visca");
         return FrameRefusal(link, op, verb);
     },
     0, 255},
    // The tracking system: frames, less its switches.
    {[](const LinkKind& link) { return link.mode == MODE_TRACKSYSTEM; },
     [](const LinkKind& link) { return Frames(link) + " through the tracking system"; },
     [](const LinkKind& link, std::int32_t op, const std::string& verb) {
         if (op == OP_POSITION || op == OP_HOME || !ProtocolText(link.protocol)) return FrameRefusal(link, op, verb);
         if (IsSwitch(op)) return "the tracking system has no " + verb + " switch";
         if (op == OP_TRACK && link.systemType != TRACKSYSTEM_TYPE_1)
             return std::string("only tracking system type 1 sends the tracking system's track on/off packet");
         return FrameRefusal(link, op, verb);
     },
     0, 255},
};

const Transport* TransportOf(const LinkKind& link)
{
    for (const Transport& transport : kTransports)
        if (transport.carries(link)) return &transport;
    return nullptr;
}

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
    const Transport* transport = TransportOf(link);
    return transport ? transport->describe(link) : "camera of no known mode";
}

std::string WhyCannot(const LinkKind& link, std::int32_t op)
{
    const char* name = OperationName(op);
    if (!name) return "there is no operation " + std::to_string(op);
    const Transport* transport = TransportOf(link);
    if (!transport) return "a camera of no known mode sends nothing";
    return transport->refuses(link, op, name);
}

bool PresetRange(const LinkKind& link, int& first, int& last)
{
    first = 0;
    last = -1;
    if (!WhyCannot(link, OP_PRESET).empty()) return false;
    const Transport* transport = TransportOf(link);
    first = transport->firstPreset;
    last = transport->lastPreset;
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
