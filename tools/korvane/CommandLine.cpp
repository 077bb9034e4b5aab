#include "CommandLine.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>

namespace korvane::tool {

namespace {

constexpr unsigned kViscaIpDefaultPort = 52381;

DEVICETYPE ParseDeviceType(const std::string& text)
{
    if (text == "onvif" || text == "3") return DEVICE_ONVIF;
    if (text == "relay1" || text == "1") return DEVICE_TYPE_1;
    if (text == "relay2" || text == "2") return DEVICE_TYPE_2;
    if (text == "relay4" || text == "4") return DEVICE_TYPE_4;
    if (text == "visca-ip" || text == "16") return DEVICE_VISCA_IP;
    throw UsageError("unknown device type '" + text + "' (onvif, relay1, relay2, relay4 or visca-ip)");
}

void SetLink(CameraOptions& options, KORVANEMODE mode, const std::string& target)
{
    if (options.linkGiven) throw UsageError("give one of --serial, --network and --tracking");
    if (target.empty()) throw UsageError("the link option needs a device or an address");
    options.mode = mode;
    options.target = target;
    options.linkGiven = true;
}

// Boost reads an address up to a zero byte: "192.168.1.64\0junk" would pass.
bool HasZeroByte(const std::string& text) { return text.find('\0') != std::string::npos; }

bool IsIpv4(const std::string& text)
{
    if (HasZeroByte(text)) return false;
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(text, error);
    return !error;
}

// The tracking system is one host. The library's sends are asynchronous and
// their failures are lost, so addresses the socket refuses (broadcast without
// permission) or that reach no single host are refused here.
bool IsOneHost(const std::string& text)
{
    const auto address = boost::asio::ip::make_address_v4(text);
    return !address.is_unspecified() && !address.is_multicast() &&
           address != boost::asio::ip::address_v4::broadcast();
}

bool IsIpAddress(const std::string& text)
{
    if (HasZeroByte(text)) return false;
    boost::system::error_code error;
    boost::asio::ip::make_address(text, error);
    return !error;
}

// The option that sets a camera file's field, for messages about the command line.
std::string OptionFor(const CameraOptions& options, const std::string& field)
{
    if (field == "device") return "--serial";
    if (field == "host") return options.mode == MODE_TRACKSYSTEM ? "--tracking" : "--network";
    if (field == "data_bits") return "--data-bits";
    if (field == "pan_speed") return "--pan-speed";
    if (field == "tilt_speed") return "--tilt-speed";
    if (field == "system_type") return "--system-type";
    if (field == "tls_fingerprint") return "--tls-fingerprint";
    return "--" + field;
}

// The line speeds termios names (B50 to B4000000): any other number would
// fail only when the line is opened, after the command line was accepted.
constexpr unsigned kLineSpeeds[] = {50,     75,     110,    134,     150,     200,     300,     600,
                                    1200,   1800,   2400,   4800,    9600,    19200,   38400,   57600,
                                    115200, 230400, 460800, 500000,  576000,  921600,  1000000, 1152000,
                                    1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// The option that left a move at speed 0 on an axis it moves (left and right
// pan, up and down tilt, diagonals both); nothing for other commands.
std::optional<std::string> StoppedMove(const CameraOptions& options)
{
    if (options.words.empty()) return std::nullopt;
    const std::string& verb = options.words[0];
    const bool pans = verb == "left" || verb == "right" || verb.find('-') != std::string::npos;
    const bool tilts = verb.rfind("up", 0) == 0 || verb.rfind("down", 0) == 0;
    static const char* const kMoves[] = {"up", "down", "left", "right", "up-left", "up-right", "down-left", "down-right"};
    if (std::find(std::begin(kMoves), std::end(kMoves), verb) == std::end(kMoves)) return std::nullopt;
    if (pans && options.panSpeed == 0) return std::string(options.given.count("--pan-speed") ? "--pan-speed" : "--speed");
    if (tilts && options.tiltSpeed == 0) return std::string(options.given.count("--tilt-speed") ? "--tilt-speed" : "--speed");
    return std::nullopt;
}

}  // namespace

std::optional<std::string> NormalFingerprint(const std::string& text)
{
    std::string rest = text;
    std::string lower;
    for (const char c : rest) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // openssl x509 -fingerprint -sha256 prints "sha256 Fingerprint=AB:CD:..." (SHA256 in older versions).
    const std::size_t equals = lower.find("fingerprint=");
    if (equals != std::string::npos) {
        const std::string label = lower.substr(0, equals);
        if (label.find_first_not_of(" \t") != std::string::npos && label.find("sha256") == std::string::npos &&
            label.find("sha-256") == std::string::npos)
            return std::nullopt;  // another digest's fingerprint
        rest = rest.substr(equals + 12);
    }
    std::string hex;
    for (const char c : rest) {
        if (c == ':' || c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64) return std::nullopt;
    return hex;
}

bool IsLineSpeed(unsigned baud)
{
    return std::find(std::begin(kLineSpeeds), std::end(kLineSpeeds), baud) != std::end(kLineSpeeds);
}

const char* DeviceTypeName(DEVICETYPE type)
{
    switch (type) {
    case DEVICE_ONVIF: return "onvif";
    case DEVICE_TYPE_1: return "relay1";
    case DEVICE_TYPE_2: return "relay2";
    case DEVICE_TYPE_4: return "relay4";
    case DEVICE_VISCA_IP: return "visca-ip";
    }
    return "?";
}

std::optional<OnvifAddress> ParseOnvifAddress(const std::string& text)
{
    OnvifAddress address;
    std::string rest = text;
    for (const char* scheme : {"http", "https"}) {
        const std::string prefix = std::string(scheme) + "://";
        if (rest.rfind(prefix, 0) == 0) {
            address.scheme = scheme;
            rest.erase(0, prefix.size());
        }
    }
    if (address.scheme.empty()) {
        if (!IsIpAddress(rest)) return std::nullopt;
        address.ip = rest;
        return address;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::size_t close = rest.rfind(']');
    const std::size_t colon = rest.rfind(':');
    const bool v6 = !rest.empty() && rest.front() == '[';
    if (colon != std::string::npos && (v6 ? close != std::string::npos && colon > close : rest.find(':') == colon)) {
        try {
            address.port = ParseUnsigned("port", rest.substr(colon + 1), 65535);
        } catch (const UsageError&) {
            return std::nullopt;
        }
        rest.erase(colon);
    }
    if (v6) {
        if (rest.size() < 2 || rest.back() != ']') return std::nullopt;
        rest = rest.substr(1, rest.size() - 2);
    }
    if (!IsIpAddress(rest) || (address.port && *address.port == 0)) return std::nullopt;
    address.ip = rest;
    return address;
}

std::optional<LinkProblem> CheckLink(const CameraOptions& options)
{
    const std::string& target = options.target;
    const bool serial = options.mode == MODE_SERIAL;
    if (target.empty()) return LinkProblem{serial ? "device" : "host", serial ? "the serial device" : "the address", true};
    if (options.panSpeed < 0 || options.panSpeed > 63) return LinkProblem{"pan_speed", "must be 0 to 63"};
    if (options.tiltSpeed < 0 || options.tiltSpeed > 63) return LinkProblem{"tilt_speed", "must be 0 to 63"};
    if (options.address > 255) return LinkProblem{"address", "must be 0 to 255"};
    // ONVIF sends no frames; a VISCA-over-IP camera's frames say address 1 whatever is given.
    const bool frames = !(options.mode == MODE_NETWORK &&
                          (options.deviceType == DEVICE_ONVIF || options.deviceType == DEVICE_VISCA_IP));
    // VISCA puts 0x80 + address in its first byte: 0 is the controller and 8
    // is the broadcast to every camera on the line.
    if (frames && options.protocol == PROTOCOL_VISCA && (options.address < 1 || options.address > 7))
        return LinkProblem{"address", "a VISCA camera's address is 1 to 7, not " + std::to_string(options.address)};
    if (options.port && *options.port == 0) return LinkProblem{"port", "must be 1 to 65535: nothing can be sent to port 0"};
    if (options.port && *options.port > 65535) return LinkProblem{"port", "must be 1 to 65535"};
    switch (options.mode) {
    case MODE_SERIAL:
        if (!options.tlsFingerprint.empty())
            return LinkProblem{"tls_fingerprint", "is for ONVIF cameras over HTTPS only"};
        if (!IsLineSpeed(options.baud))
            return LinkProblem{"baud", "must be a line speed such as 9600 (1200, 2400, 4800, 19200, 38400, 57600, "
                                       "115200, ...), not " + std::to_string(options.baud)};
        if (options.dataBits < 5 || options.dataBits > 8) return LinkProblem{"data_bits", "must be 5 to 8"};
        break;
    case MODE_NETWORK:
        if (options.deviceType == DEVICE_ONVIF ? !ParseOnvifAddress(target) : !IsIpAddress(target))
            return LinkProblem{"host", std::string("must be an IP address such as 192.168.1.64") +
                                           (options.deviceType == DEVICE_ONVIF ? " or https://192.168.1.64" : "") +
                                           " (no names), not '" + target + "'"};
        if (options.deviceType == DEVICE_ONVIF && options.port && target.find("://") != std::string::npos)
            return LinkProblem{"port", "is not used with an address such as https://IP: write https://IP:PORT"};
        if (!options.tlsFingerprint.empty()) {
            if (options.deviceType != DEVICE_ONVIF)
                return LinkProblem{"tls_fingerprint", "is for ONVIF cameras over HTTPS only"};
            if (!NormalFingerprint(options.tlsFingerprint))
                return LinkProblem{"tls_fingerprint", "must be a certificate's SHA-256: 64 hex digits (colons and "
                                                      "openssl's 'sha256 Fingerprint=' may stay)"};
            // Pinned but plain HTTP: the password would go out unencrypted.
            if (OnvifOrigin(options).rfind("https://", 0) != 0)
                return LinkProblem{"tls_fingerprint", "pins an HTTPS camera's certificate, but " + OnvifOrigin(options) +
                                                          " is plain HTTP: write https://" +
                                                          ParseOnvifAddress(target)->ip + " (or the camera's HTTPS port)"};
        }
        if (options.deviceType == DEVICE_VISCA_IP && options.address != 1)
            return LinkProblem{"address", "a VISCA-over-IP camera answers to address 1, not " +
                                              std::to_string(options.address)};
        if (options.deviceType == DEVICE_VISCA_IP && options.protocol != PROTOCOL_VISCA)
            return LinkProblem{"protocol", "a VISCA-over-IP camera speaks visca, not " +
                                               std::string(ProtocolName(options.protocol))};
        // A link on which the library sends nothing at all (the relay with VISCA).
        if (char why[256]; CKorvane::LinkWhyCannot(options.mode, options.protocol, options.deviceType,
                                                   options.systemType, OP_MOVE, why, sizeof why))
            return LinkProblem{"protocol", why};
        break;
    case MODE_TRACKSYSTEM:
        if (!options.tlsFingerprint.empty())
            return LinkProblem{"tls_fingerprint", "is for ONVIF cameras over HTTPS only"};
        // The library's tracking socket is IPv4 and takes no names: anything
        // else is accepted by Open and then every command is dropped.
        if (!IsIpv4(target))
            return LinkProblem{"host", "must be an IPv4 address such as 192.168.1.20 (no names, no IPv6), not '" +
                                           target + "'"};
        if (!IsOneHost(target))
            return LinkProblem{"host", "must be the tracking system's own address, not '" + target +
                                           "' (no broadcast, multicast or 0.0.0.0)"};
        if (!options.port) return LinkProblem{"port", "the tracking system's UDP port", true};
        break;
    }
    return std::nullopt;
}

void ValidateLink(const CameraOptions& options)
{
    if (const auto option = StoppedMove(options))
        throw UsageError(*option + " 0 would send '" + options.words[0] +
                         "' at speed 0, which moves nothing: give a speed from 1 to 63");
    const auto problem = CheckLink(options);
    if (!problem) return;
    const std::string option = OptionFor(options, problem->field);
    if (problem->missing) {
        const char* link = options.mode == MODE_SERIAL ? "--serial" : options.mode == MODE_NETWORK ? "--network" : "--tracking";
        throw UsageError(std::string(link) + " needs " + option + ": " + problem->message);
    }
    throw UsageError(option + " " + problem->message);
}

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

std::optional<std::string> SplitInlineValue(std::string& arg)
{
    const std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) != 0 || equals == std::string::npos) return std::nullopt;
    std::string value = arg.substr(equals + 1);
    arg.resize(equals);
    return value;
}

std::string OptionValue(const std::string& arg, const std::optional<std::string>& inlineValue,
                        const std::vector<std::string>& args, std::size_t& i)
{
    if (inlineValue) return *inlineValue;
    if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
    return args[++i];
}

std::string ReadSecretFile(const std::string& path, const std::string& what)
{
    std::ifstream file(path, std::ios::binary);
    char first[4096];  // a secret is one short line; a device without end is read no further
    file.read(first, sizeof first);
    const std::string text(first, static_cast<std::size_t>(file.gcount()));
    if (text.empty())
        throw UsageError("cannot read " + what + " from " + path + " (missing, empty, or not yours to read)");
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty()) throw UsageError(path + " holds no " + what + " on its first line");
    return line;
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
        const auto inlineValue = SplitInlineValue(arg);
        const auto next = [&] { return OptionValue(arg, inlineValue, args, i); };
        options.given.insert(arg);
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
        else if (arg == "--password-file") options.password = ReadSecretFile(next(), "a password");
        else if (arg == "--value4") options.value4 = ParseUnsigned(arg, next(), 0xFFFFFFFFu);
        else if (arg == "--text7") options.text7 = next();
        else if (arg == "--profile") options.profile = next();
        else if (arg == "--tls-fingerprint") {
            const std::string text = next();
            const auto fingerprint = NormalFingerprint(text);
            if (!fingerprint)
                throw UsageError("--tls-fingerprint wants the certificate's SHA-256 as 64 hex digits (colons, "
                                 "spaces and openssl's 'sha256 Fingerprint=AB:CD:...' may stay), not '" +
                                 text.substr(0, 120) + "'");
            options.tlsFingerprint = *fingerprint;
        }
        else if (arg == "--system-type") options.systemType = static_cast<TRACKSYSTEMTYPE>(ParseUnsigned(arg, next(), 255));
        else if (arg == "--for") options.duration = ParseDuration(next());
        else if (arg == "--camera") {
            options.camera = next();
            if (options.camera.empty()) throw UsageError("--camera needs a camera's name");
        } else if (arg == "--cameras") {
            options.camerasFile = next();
            if (options.camerasFile.empty()) throw UsageError("--cameras needs a file");
        }
        else throw UsageError("unknown option " + arg);
    }
    // VISCA is the protocol of a VISCA-over-IP camera unless another is asked for (and refused).
    if (options.deviceType == DEVICE_VISCA_IP && !options.given.count("--protocol")) options.protocol = PROTOCOL_VISCA;
    if (options.given.count("--password") && options.given.count("--password-file"))
        throw UsageError("give --password or --password-file, not both");
    // From the environment, the password shows in no process list.
    if (!options.given.count("--password") && !options.given.count("--password-file"))
        if (const char* password = std::getenv("KORVANE_PASSWORD")) options.password = password;
    return options;
}

std::string OnvifOrigin(const CameraOptions& options)
{
    const auto address = ParseOnvifAddress(options.target);
    if (!address) return options.target;
    const unsigned port = address->scheme.empty() ? options.port.value_or(80)
                                                  : address->port.value_or(address->scheme == "https" ? 443 : 80);
    const bool tls = address->scheme == "https" || (address->scheme.empty() && port == 443);
    const std::string host = address->ip.find(':') != std::string::npos ? "[" + address->ip + "]" : address->ip;
    return std::string(tls ? "https://" : "") + host + ":" + std::to_string(port);
}

std::string CameraOptions::Describe() const
{
    std::string text;
    switch (mode) {
    case MODE_SERIAL: text = "serial " + target + " " + std::to_string(baud) + " baud"; break;
    case MODE_NETWORK:
        if (deviceType == DEVICE_VISCA_IP) {
            text = "visca-ip camera " + target + ":" + std::to_string(port.value_or(kViscaIpDefaultPort));
            break;
        }
        text = deviceType == DEVICE_ONVIF
                   ? "onvif camera " + OnvifOrigin(*this)
                   : "relayed " + target + (port ? ":" + std::to_string(*port) : "") + " (" +
                         DeviceTypeName(deviceType) + ")";
        break;
    case MODE_TRACKSYSTEM:
        text = "tracking system " + target + (port ? ":" + std::to_string(*port) : "");
        break;
    }
    if (mode == MODE_NETWORK && deviceType == DEVICE_VISCA_IP) return text;  // always visca, address 1
    if (!(mode == MODE_NETWORK && deviceType == DEVICE_ONVIF))
        text += std::string(", ") + ProtocolName(protocol) + " addr " + std::to_string(address);
    return text;
}

}  // namespace korvane::tool
