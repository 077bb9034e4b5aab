#include "RoomCamera.h"

#include <array>

namespace korvane::tool::panel {

thread_local MessageTarget t_messageTarget;

json Capabilities(const CameraOptions& options, const CKorvane* opened)
{
    json can = json::array(), cannot = json::object();
    for (std::int32_t op = OP_MOVE; korvane_operation_name(op); ++op) {
        std::array<char, 256> why{};
        const auto operation = static_cast<KORVANEOPERATION>(op);
        const int size = static_cast<int>(why.size());
        if (opened ? opened->WhyCannot(operation, why.data(), size)
                   : CKorvane::LinkWhyCannot(options.mode, options.protocol, options.deviceType, options.systemType,
                                             operation, why.data(), size))
            cannot[korvane_operation_name(op)] = why.data();
        else
            can.push_back(korvane_operation_name(op));
    }
    int first = 0, last = -1;
    json presets = json::object();
    if (CKorvane::LinkPresetRange(options.mode, options.protocol, options.deviceType, first, last)) {
        presets = {{"first", first}, {"last", last}, {"names", json::object()}};
        for (const auto& [number, label] : options.presetNames) presets["names"][std::to_string(number)] = label;
        if (opened)
            if (json stored = StoredPresets(*opened); !stored.is_null()) presets["stored"] = std::move(stored);
    }
    return {{"can", can}, {"cannot", cannot}, {"presets", presets}};
}

json StoredPresets(const CKorvane& opened)
{
    std::vector<int> numbers;
    int count = 0;
    // Asked again with room for them all, should more be stored meanwhile.
    while ((count = opened.GetStoredPresets(numbers.data(), static_cast<int>(numbers.size()))) >
           static_cast<int>(numbers.size()))
        numbers.resize(static_cast<std::size_t>(count));
    if (count < 0) return nullptr;
    numbers.resize(static_cast<std::size_t>(count));
    return numbers;
}

}  // namespace korvane::tool::panel
