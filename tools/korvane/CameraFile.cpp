// Stand-in reader for cameras.json, replaced by the tool's own loader when
// that lands; same interface, same file shape.
#include "CameraFile.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <set>

namespace korvane::tool {

namespace {

using nlohmann::json;

struct Reader {
    const std::string& path;
    std::string camera;

    [[noreturn]] void Fail(const std::string& field, const std::string& why) const
    {
        throw UsageError(path + ": camera '" + camera + "', field '" + field + "': " + why);
    }
    std::string Text(const json& entry, const char* field, bool required) const
    {
        if (!entry.contains(field)) {
            if (required) Fail(field, "missing");
            return {};
        }
        if (!entry[field].is_string()) Fail(field, "wants a string");
        return entry[field].get<std::string>();
    }
    std::optional<unsigned> Number(const json& entry, const char* field, unsigned limit) const
    {
        if (!entry.contains(field)) return std::nullopt;
        if (!entry[field].is_number_unsigned() || entry[field].get<unsigned long long>() > limit)
            Fail(field, "wants a number from 0 to " + std::to_string(limit));
        return static_cast<unsigned>(entry[field].get<unsigned long long>());
    }
};

}  // namespace

std::vector<NamedCamera> LoadCameraFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file) throw UsageError("cannot read the camera file " + path);
    json document;
    try {
        document = json::parse(file);
    } catch (const json::exception& error) {
        throw UsageError(path + ": not JSON (" + error.what() + ")");
    }
    if (!document.is_object() || !document.contains("cameras") || !document["cameras"].is_array())
        throw UsageError(path + ": wants {\"cameras\": [ ... ]}");
    std::vector<NamedCamera> cameras;
    std::set<std::string> names;
    for (const json& entry : document["cameras"]) {
        Reader reader{path, "#" + std::to_string(cameras.size() + 1)};
        if (!entry.is_object()) reader.Fail("-", "each camera is an object");
        NamedCamera camera;
        camera.name = reader.Text(entry, "name", true);
        reader.camera = camera.name;
        if (camera.name.empty()) reader.Fail("name", "empty");
        if (!names.insert(camera.name).second) reader.Fail("name", "used twice");
        CameraOptions& options = camera.options;
        options.linkGiven = true;
        const std::string mode = reader.Text(entry, "mode", true);
        if (mode == "serial") {
            options.mode = MODE_SERIAL;
            options.target = reader.Text(entry, "device", true);
            options.baud = reader.Number(entry, "baud", 4000000).value_or(9600);
        } else if (mode == "onvif" || mode == "relay1" || mode == "relay2" || mode == "relay4") {
            options.mode = MODE_NETWORK;
            options.deviceType = mode == "onvif"    ? DEVICE_ONVIF
                                 : mode == "relay1" ? DEVICE_TYPE_1
                                 : mode == "relay2" ? DEVICE_TYPE_2
                                                    : DEVICE_TYPE_4;
            options.target = reader.Text(entry, "host", true);
            options.port = reader.Number(entry, "port", 65535);
            options.user = reader.Text(entry, "user", false);
            options.password = reader.Text(entry, "password", false);
        } else if (mode == "tracking") {
            options.mode = MODE_TRACKSYSTEM;
            options.target = reader.Text(entry, "host", true);
            options.port = reader.Number(entry, "port", 65535);
            if (!options.port) reader.Fail("port", "missing (the tracking system's UDP port)");
        } else {
            reader.Fail("mode", "wants serial, onvif, relay1, relay2, relay4 or tracking");
        }
        if (entry.contains("protocol")) {
            try {
                options.protocol = ParseProtocol(reader.Text(entry, "protocol", true));
            } catch (const UsageError&) {
                reader.Fail("protocol", "wants pelco-d, pelco-p or visca");
            }
        }
        options.address = reader.Number(entry, "address", 255).value_or(1);
        options.panSpeed = static_cast<int>(reader.Number(entry, "pan_speed", 63).value_or(32));
        options.tiltSpeed = static_cast<int>(reader.Number(entry, "tilt_speed", 63).value_or(32));
        cameras.push_back(std::move(camera));
    }
    if (cameras.empty()) throw UsageError(path + ": no cameras");
    return cameras;
}

}  // namespace korvane::tool
