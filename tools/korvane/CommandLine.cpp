#include "CommandLine.h"

#include <charconv>
#include <cstdlib>

namespace korvane::tool {

namespace {

DEVICETYPE ParseDeviceType(const std::string& text)
{
    if (text == "onvif" || text == "3") return DEVICE_ONVIF;
    if (text == "relay1" || text == "1") return DEVICE_TYPE_1;
    if (text == "relay2" || text == "2") return DEVICE_TYPE_2;
    if (text == "relay4" || text == "4") return DEVICE_TYPE_4;
    throw UsageError("unknown device type '" + text + "' (onvif, relay1, relay2 or relay4)");
}

const char* DeviceTypeName(DEVICETYPE type)
{
    switch (type) {
    case DEVICE_ONVIF: return "onvif";
    case DEVICE_TYPE_1: return "relay1";
    case DEVICE_TYPE_2: return "relay2";
    case DEVICE_TYPE_4: return "relay4";
    }
    return "?";
}

void SetLink(CameraOptions& options, KORVANEMODE mode, const std::string& target)
{
    if (options.linkGiven) throw UsageError("give one of --serial, --network and --tracking");
    if (target.empty()) throw UsageError("the link option needs a device or an address");
    options.mode = mode;
    options.target = target;
    options.linkGiven = true;
}

}  // namespace

unsigned ParseUnsigned(const std::string& option, const std::string& text, unsigned limit)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > limit)
        throw UsageError(option + " wants a number from 0 to " + std::to_string(limit) + ", not '" + text + "'");
    return value;
}

std::chrono::milliseconds ParseDuration(const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string unit = end ? end : "";
    double factor = 0;
    if (unit == "ms") factor = 1;
    else if (unit == "s" || unit.empty()) factor = 1000;
    else if (unit == "m") factor = 60000;
    if (end == text.c_str() || factor == 0 || !(value >= 0) || value * factor > 24 * 3600 * 1000.0)
        throw UsageError("'" + text + "' is no duration (say 2s, 500ms or 1m)");
    return std::chrono::milliseconds(static_cast<long long>(value * factor));
}

PTZPROTOCOL ParseProtocol(const std::string& text)
{
    if (text == "pelco-d" || text == "pelcod" || text == "d") return PROTOCOL_PELCO_D;
    if (text == "pelco-p" || text == "pelcop" || text == "p") return PROTOCOL_PELCO_P;
    if (text == "visca") return PROTOCOL_VISCA;
    throw UsageError("unknown protocol '" + text + "' (pelco-d, pelco-p or visca)");
}

const char* ProtocolName(PTZPROTOCOL protocol)
{
    switch (protocol) {
    case PROTOCOL_PELCO_D: return "pelco-d";
    case PROTOCOL_PELCO_P: return "pelco-p";
    case PROTOCOL_VISCA: return "visca";
    }
    return "?";
}

CameraOptions ParseCommandLine(const std::vector<std::string>& args)
{
    CameraOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            options.words.push_back(arg);
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            inlineValue = true;
        }
        const auto next = [&]() -> std::string {
            if (inlineValue) return value;
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--serial") SetLink(options, MODE_SERIAL, next());
        else if (arg == "--network") SetLink(options, MODE_NETWORK, next());
        else if (arg == "--tracking") SetLink(options, MODE_TRACKSYSTEM, next());
        else if (arg == "--protocol") options.protocol = ParseProtocol(next());
        else if (arg == "--address") options.address = ParseUnsigned(arg, next(), 255);
        else if (arg == "--speed") options.panSpeed = options.tiltSpeed = static_cast<int>(ParseUnsigned(arg, next(), 63));
        else if (arg == "--pan-speed") options.panSpeed = static_cast<int>(ParseUnsigned(arg, next(), 63));
        else if (arg == "--tilt-speed") options.tiltSpeed = static_cast<int>(ParseUnsigned(arg, next(), 63));
        else if (arg == "--baud") options.baud = ParseUnsigned(arg, next(), 4000000);
        else if (arg == "--data-bits") options.dataBits = ParseUnsigned(arg, next(), 8);
        else if (arg == "--device-type") options.deviceType = ParseDeviceType(next());
        else if (arg == "--port") options.port = ParseUnsigned(arg, next(), 65535);
        else if (arg == "--user") options.user = next();
        else if (arg == "--password") options.password = next();
        else if (arg == "--value4") options.value4 = ParseUnsigned(arg, next(), 0xFFFFFFFFu);
        else if (arg == "--text7") options.text7 = next();
        else if (arg == "--system-type") options.systemType = static_cast<TRACKSYSTEMTYPE>(ParseUnsigned(arg, next(), 255));
        else if (arg == "--for") options.duration = ParseDuration(next());
        else throw UsageError("unknown option " + arg);
    }
    if (options.dataBits < 5) throw UsageError("--data-bits wants 5 to 8");
    return options;
}

std::string CameraOptions::Describe() const
{
    std::string text;
    switch (mode) {
    case MODE_SERIAL: text = "serial " + target + " " + std::to_string(baud) + " baud"; break;
    case MODE_NETWORK:
        text = deviceType == DEVICE_ONVIF
                   ? "onvif camera " + target + ":" + std::to_string(port.value_or(80))
                   : "relayed " + target + (port ? ":" + std::to_string(*port) : "") + " (" +
                         DeviceTypeName(deviceType) + ")";
        break;
    case MODE_TRACKSYSTEM:
        text = "tracking system " + target + (port ? ":" + std::to_string(*port) : "");
        break;
    }
    if (!(mode == MODE_NETWORK && deviceType == DEVICE_ONVIF))
        text += std::string(", ") + ProtocolName(protocol) + " addr " + std::to_string(address);
    return text;
}

}  // namespace korvane::tool
