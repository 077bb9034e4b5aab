// What a camera's link can send: the one rule the tool, the panel and the
// bindings ask, by mode, protocol, device type and tracking-system type.
#pragma once

#include <korvane/Korvane.h>

#include <cstdint>
#include <string>

namespace korvane {

struct LinkKind {
    std::int32_t mode = 0;
    std::int32_t protocol = PROTOCOL_PELCO_D;
    std::int32_t deviceType = DEVICE_TYPE_1;      // network mode only
    std::int32_t systemType = TRACKSYSTEM_TYPE_1;  // tracking mode only
    // An open ONVIF camera that showed no focus (no Imaging service): what
    // the camera itself said at Open, where the link alone says "may focus".
    bool noFocus = false;
};

// Why nothing would go out for op on this link; empty when it is sent.
std::string WhyCannot(const LinkKind& link, std::int32_t op);
// The preset numbers the link carries; false (and 0, -1) when it sends none.
bool PresetRange(const LinkKind& link, int& first, int& last);
// "move", "zoom", ...; null for an unknown operation.
const char* OperationName(std::int32_t op);
// The operation of that name; 0 when there is none.
std::int32_t OperationByName(const std::string& name);
// "ONVIF camera", "pelco-d on a serial line", ...
std::string DescribeLink(const LinkKind& link);

// Copies text into a host's buffer of size bytes, cut and always terminated.
void CopyText(const std::string& text, char* buffer, int size);

}  // namespace korvane
