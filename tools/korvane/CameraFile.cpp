#include "CameraFile.h"

#include <nlohmann/json.hpp>

#include "platform/Process.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace korvane::tool {

namespace {

using nlohmann::json;

struct ModeFields {
    KORVANEMODE mode;
    DEVICETYPE deviceType;
    std::vector<std::string> fields;  // besides name, mode, pan_speed, tilt_speed
};

const std::map<std::string, ModeFields>& Modes()
{
    static const std::vector<std::string> relay = {"host",     "port",          "address", "protocol", "user",
                                                   "password", "password_file", "value4",  "text7"};
    static const std::map<std::string, ModeFields> modes = {
        {"serial", {MODE_SERIAL, DEVICE_ONVIF, {"device", "baud", "data_bits", "protocol", "address"}}},
        {"onvif", {MODE_NETWORK, DEVICE_ONVIF, {"host", "port", "user", "password", "password_file", "profile", "tls_fingerprint", "move_timeout"}}},
        {"relay1", {MODE_NETWORK, DEVICE_TYPE_1, relay}},
        {"relay2", {MODE_NETWORK, DEVICE_TYPE_2, relay}},
        {"relay4", {MODE_NETWORK, DEVICE_TYPE_4, relay}},
        {"visca-ip", {MODE_NETWORK, DEVICE_VISCA_IP, {"host", "port", "address"}}},
        {"tracking", {MODE_TRACKSYSTEM, DEVICE_ONVIF, {"host", "port", "address", "protocol", "system_type"}}},
    };
    return modes;
}

bool IsField(const std::string& name)
{
    if (name == "name" || name == "mode" || name == "pan_speed" || name == "tilt_speed" || name == "presets" ||
        name == "reports")
        return true;
    for (const auto& [mode, fields] : Modes())
        if (std::find(fields.fields.begin(), fields.fields.end(), name) != fields.fields.end()) return true;
    return false;
}

// Where a mistake is: every message starts with the file and the camera.
// Values from the file appear in messages only for fields that are no secret.
class CPlace {
public:
    CPlace(std::string path, std::string camera) : m_path(std::move(path)), m_camera(std::move(camera)) {}

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw UsageError(m_path + ": " + (m_camera.empty() ? "" : m_camera + ": ") + what);
    }
    [[noreturn]] void Fail(const std::string& field, const std::string& what) const
    {
        Fail("field '" + field + "' " + what);
    }

    std::optional<std::string> Text(const json& camera, const std::string& field) const
    {
        const auto found = camera.find(field);
        if (found == camera.end()) return std::nullopt;
        if (!found->is_string()) Fail(field, "must be text in quotes");
        return found->get<std::string>();
    }

    std::optional<unsigned> Number(const json& camera, const std::string& field, unsigned limit,
                                   unsigned lowest = 0) const
    {
        const auto found = camera.find(field);
        if (found == camera.end()) return std::nullopt;
        const std::string range = "a whole number from " + std::to_string(lowest) + " to " + std::to_string(limit);
        if (!found->is_number_integer()) Fail(field, "must be " + range);
        if (found->is_number_unsigned() && found->get<std::uint64_t>() >= lowest &&
            found->get<std::uint64_t>() <= limit)
            return static_cast<unsigned>(found->get<std::uint64_t>());
        Fail(field, "must be " + range + ", not " + found->dump());
    }

private:
    std::string m_path;
    std::string m_camera;
};

// "line 3, column 17" of a byte offset, without quoting the text around it:
// the text may be a password.
std::string Position(const std::string& text, std::size_t byte)
{
    byte = std::min(byte, text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < byte; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// "presets": {"1": "lectern", "2": "board"}: numbers the link carries, each
// named once by a name that is no number.
std::map<int, std::string> ReadPresetNames(const json& presets, const CameraOptions& link, const CPlace& place)
{
    if (!presets.is_object()) place.Fail("presets", "must be an object: {\"1\": \"lectern\", ...}");
    int first = 0, last = -1;
    CKorvane::LinkPresetRange(link.mode, link.protocol, link.deviceType, first, last);
    const std::string range = std::to_string(first) + " to " + std::to_string(last);
    std::map<int, std::string> names;
    for (const auto& item : presets.items()) {
        const std::string& key = item.key();
        int number = -1;
        const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
        if (key.empty() || error != std::errc() || end != key.data() + key.size() || number < first || number > last)
            place.Fail("presets", "has '" + key + "': preset numbers on this link are " + range);
        if (!item.value().is_string() || item.value().get<std::string>().empty())
            place.Fail("presets", "gives preset " + key + " no name: names are text in quotes");
        const std::string name = item.value().get<std::string>();
        if (name.find_first_not_of("0123456789") == std::string::npos)
            place.Fail("presets", "names preset " + key + " '" + name + "': a name must not be a number");
        for (const auto& [other, taken] : names)
            if (taken == name)
                place.Fail("presets", "names presets " + std::to_string(other) + " and " + key + " both '" + name + "'");
        names[number] = name;
    }
    return names;
}

CameraOptions ReadCamera(const json& camera, const CPlace& place, const std::string& folder)
{
    for (const auto& item : camera.items())
        if (!IsField(item.key())) place.Fail("unknown field '" + item.key() + "'");

    const auto modeName = place.Text(camera, "mode");
    if (!modeName) place.Fail("mode", "is missing (serial, onvif, relay1, relay2, relay4, visca-ip or tracking)");
    const auto mode = Modes().find(*modeName);
    if (mode == Modes().end())
        place.Fail("mode", "must be serial, onvif, relay1, relay2, relay4, visca-ip or tracking, not '" + *modeName + "'");
    const ModeFields& kind = mode->second;
    for (const auto& item : camera.items()) {
        const std::string& key = item.key();
        if (key == "name" || key == "mode" || key == "pan_speed" || key == "tilt_speed" || key == "presets" ||
            key == "reports")
            continue;
        if (std::find(kind.fields.begin(), kind.fields.end(), key) == kind.fields.end())
            place.Fail(key, "does not belong to a camera of mode " + *modeName);
    }

    CameraOptions options;
    options.mode = kind.mode;
    options.deviceType = kind.deviceType;
    options.linkGiven = true;
    options.target = place.Text(camera, kind.mode == MODE_SERIAL ? "device" : "host").value_or("");
    if (const auto protocol = place.Text(camera, "protocol")) {
        try {
            options.protocol = ParseProtocol(*protocol);
        } catch (const UsageError& error) {
            place.Fail("protocol", std::string("is wrong: ") + error.what());
        }
    }
    if (kind.deviceType == DEVICE_VISCA_IP && kind.mode == MODE_NETWORK) options.protocol = PROTOCOL_VISCA;
    options.address = place.Number(camera, "address", 255).value_or(options.address);
    options.panSpeed = static_cast<int>(place.Number(camera, "pan_speed", 63).value_or(options.panSpeed));
    options.tiltSpeed = static_cast<int>(place.Number(camera, "tilt_speed", 63).value_or(options.tiltSpeed));
    options.baud = place.Number(camera, "baud", 4000000, 1).value_or(options.baud);
    options.dataBits = place.Number(camera, "data_bits", 8).value_or(options.dataBits);
    options.port = place.Number(camera, "port", 65535, 1);
    options.user = place.Text(camera, "user").value_or("");
    options.password = place.Text(camera, "password").value_or("");
    if (const auto file = place.Text(camera, "password_file")) {
        if (camera.contains("password")) place.Fail("password_file", "and 'password' both given: keep one");
        // A relative name is beside the camera file, wherever korvane runs.
        const std::filesystem::path named = std::filesystem::u8path(*file);
        const std::string path = named.is_absolute() || folder.empty() ? *file : (std::filesystem::u8path(folder) / named).u8string();
        try {
            options.password = ReadSecretFile(path, "the password");
        } catch (const UsageError& error) {
            place.Fail("password_file", error.what());
        }
    }
    options.value4 = place.Number(camera, "value4", 0xFFFFFFFFu).value_or(options.value4);
    options.text7 = place.Text(camera, "text7").value_or("");
    options.profile = place.Text(camera, "profile").value_or("");
    options.tlsFingerprint = place.Text(camera, "tls_fingerprint").value_or("");
    if (const auto timeout = camera.find("move_timeout"); timeout != camera.end()) {
        constexpr std::uint64_t kHour = 3600000;
        if (!timeout->is_number_unsigned() || timeout->get<std::uint64_t>() > kHour)
            place.Fail("move_timeout", "must be milliseconds, a whole number from 0 (moves last until stopped) to " +
                                           std::to_string(kHour) + ", not " + timeout->dump());
        options.moveTimeoutMs = static_cast<unsigned>(timeout->get<std::uint64_t>());
    }
    if (const auto type = place.Number(camera, "system_type", 255))
        options.systemType = static_cast<TRACKSYSTEMTYPE>(*type);

    if (const auto problem = CheckLink(options)) {
        if (problem->missing) place.Fail(problem->field, "is missing: " + problem->message);
        place.Fail(problem->field, problem->message);
    }
    if (!options.tlsFingerprint.empty()) options.tlsFingerprint = *NormalFingerprint(options.tlsFingerprint);
    if (const auto presets = camera.find("presets"); presets != camera.end())
        options.presetNames = ReadPresetNames(*presets, options, place);
    if (const auto reports = camera.find("reports"); reports != camera.end()) {
        if (!reports->is_boolean()) place.Fail("reports", "must be true or false");
        options.reports = reports->get<bool>();
    }
    return options;
}

}  // namespace

std::vector<NamedCamera> LoadCameraFile(const std::string& path)
{
    const CPlace file(path, "");
    std::ifstream stream(path, std::ios::binary);
    if (!stream) file.Fail("cannot be read (missing, or not yours to read)");
    std::ostringstream content;
    content << stream.rdbuf();
    std::vector<NamedCamera> cameras = ParseCameraFile(content.str(), path);
    const json document = json::parse(content.str());  // parsed once already: it is valid
    const bool password = std::any_of(document["cameras"].begin(), document["cameras"].end(),
                                      [](const json& camera) { return camera.contains("password"); });
    if (password && platform::ReadableByOthers(path))
        std::fprintf(stderr,
                     "korvane: warning: %s holds a password and other users may read it: chmod 600 it, or name a "
                     "password_file that only you may read\n",
                     path.c_str());
    return cameras;
}

std::vector<NamedCamera> ParseCameraFile(const std::string& text, const std::string& path)
{
    const std::string folder = std::filesystem::u8path(path).parent_path().u8string();
    const CPlace file(path, "");
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& error) {
        // Not error.what(): it quotes the text last read, which may be a password.
        file.Fail("is not valid JSON: a mistake at " + Position(text, error.byte));
    } catch (const json::exception&) {
        // A number beyond what a double holds (1e999) is the one other way parsing fails.
        file.Fail("is not valid JSON: a number out of range");
    }
    if (!document.is_object()) file.Fail("must hold an object: {\"cameras\": [...]}");
    for (const auto& item : document.items())
        if (item.key() != "cameras") file.Fail("unknown field '" + item.key() + "' (the file holds \"cameras\" only)");
    const auto list = document.find("cameras");
    if (list == document.end()) file.Fail("field 'cameras' is missing: {\"cameras\": [...]}");
    if (!list->is_array()) file.Fail("field 'cameras' must be a list: [{...}, {...}]");

    std::vector<NamedCamera> cameras;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const json& camera = (*list)[i];
        const CPlace numbered(path, "camera #" + std::to_string(i + 1));
        if (!camera.is_object()) numbered.Fail("must be an object: {\"name\": ..., \"mode\": ...}");
        const auto name = numbered.Text(camera, "name");
        if (!name || name->empty()) numbered.Fail("name", "is missing: every camera needs a name");
        for (std::size_t j = 0; j < cameras.size(); ++j)
            if (cameras[j].name == *name)
                numbered.Fail("name", "'" + *name + "' is taken by camera #" + std::to_string(j + 1) +
                                          ": names must differ");
        cameras.push_back({*name, ReadCamera(camera, CPlace(path, "camera '" + *name + "'"), folder)});
    }
    return cameras;
}

CameraOptions ResolveCamera(const CameraOptions& commandLine)
{
    if (commandLine.camera.empty()) return commandLine;
    static const std::set<std::string> kAllowed = {"--camera", "--cameras", "--for", "--speed", "--pan-speed",
                                                   "--tilt-speed"};
    for (const std::string& option : commandLine.given)
        if (!kAllowed.count(option))
            throw UsageError("--camera " + commandLine.camera + " takes its link from " + commandLine.camerasFile +
                             "; leave out " + option);

    const std::vector<NamedCamera> cameras = LoadCameraFile(commandLine.camerasFile);
    const auto found = std::find_if(cameras.begin(), cameras.end(),
                                    [&](const NamedCamera& camera) { return camera.name == commandLine.camera; });
    if (found == cameras.end()) {
        std::string names;
        for (const NamedCamera& camera : cameras) names += (names.empty() ? "" : ", ") + camera.name;
        throw UsageError(commandLine.camerasFile + " has no camera '" + commandLine.camera + "' (" +
                         (names.empty() ? "it lists none" : "it has " + names) + ")");
    }
    CameraOptions options = found->options;
    options.words = commandLine.words;
    options.duration = commandLine.duration;
    options.help = commandLine.help;
    options.camera = commandLine.camera;
    options.camerasFile = commandLine.camerasFile;
    options.given = commandLine.given;
    if (commandLine.given.count("--speed") || commandLine.given.count("--pan-speed"))
        options.panSpeed = commandLine.panSpeed;
    if (commandLine.given.count("--speed") || commandLine.given.count("--tilt-speed"))
        options.tiltSpeed = commandLine.tiltSpeed;
    return options;
}

}  // namespace korvane::tool
