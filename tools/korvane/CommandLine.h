// The korvane tool's command line: how the camera is reached, its settings,
// and the words of the command.
#pragma once

#include <korvane/Korvane.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::tool {

// A mistake on the command line: reported with the usage hint, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CameraOptions {
    KORVANEMODE mode = MODE_SERIAL;
    bool linkGiven = false;
    std::string target;  // serial device, or the IP of the camera / tracking system

    PTZPROTOCOL protocol = PROTOCOL_PELCO_D;
    unsigned address = 1;
    int panSpeed = 32;
    int tiltSpeed = 32;

    // serial
    unsigned baud = 9600;
    unsigned dataBits = 8;
    // network
    DEVICETYPE deviceType = DEVICE_ONVIF;
    std::optional<unsigned> port;
    std::string user;
    std::string password;
    unsigned value4 = 9600;
    std::string text7;
    std::string profile;         // ONVIF: the media profile's token (empty: the first with PTZ)
    std::string tlsFingerprint;  // ONVIF over HTTPS: the certificate's SHA-256
    unsigned moveTimeoutMs = 0;  // ONVIF: moves end by themselves after this (0: never)
    // tracking system
    TRACKSYSTEMTYPE systemType = TRACKSYSTEM_TYPE_1;

    std::optional<std::chrono::milliseconds> duration;  // --for
    bool help = false;
    std::vector<std::string> words;  // the command and its arguments

    std::string camera;                         // --camera NAME: the link comes from the camera file
    std::string camerasFile = "cameras.json";   // --cameras FILE
    std::set<std::string> given;                // the options named on the command line ("--port")
    std::map<int, std::string> presetNames;     // the camera file's names of presets ("lectern")
    // The camera file's "reports": false: a camera whose reports nobody wants
    // is opened without a report function (a serial one then gets no presets
    // 88 and 100 as it opens).
    bool reports = true;

    // "serial /dev/ttyUSB0 addr 1 pelco-d" and the like.
    std::string Describe() const;
};

// Throws UsageError.
CameraOptions ParseCommandLine(const std::vector<std::string>& args);

// What is wrong with a link's settings, by the camera file's field name
// ("host", "port", ...); missing: the field is needed but not there.
struct LinkProblem {
    std::string field;
    std::string message;
    bool missing = false;
};

// The one check of a link's settings, for the command line and the camera
// file alike: settings with which the library would send nothing at all.
std::optional<LinkProblem> CheckLink(const CameraOptions& options);
// CheckLink for the command line: throws UsageError naming the option. Also
// refuses a move at speed 0 (it would go out as a stop that says "sent").
void ValidateLink(const CameraOptions& options);

// A certificate's SHA-256 as 64 lower-case hex digits, from hex with colons or
// spaces in any case, openssl's "sha256 Fingerprint=AA:BB:..." included;
// nothing for anything else.
std::optional<std::string> NormalFingerprint(const std::string& text);
// Whether a serial port takes this line speed (the standard rates).
bool IsLineSpeed(unsigned baud);

// An ONVIF address: an IP address, or "http(s)://IP[:port]" (IPv6 in
// brackets); the scheme and port it names, if any.
struct OnvifAddress {
    std::string scheme;  // "http", "https", or empty when none was written
    std::string ip;
    std::optional<unsigned> port;
};
std::optional<OnvifAddress> ParseOnvifAddress(const std::string& text);
// "192.168.1.64:80", "https://192.168.1.64:443": where the camera is reached.
std::string OnvifOrigin(const CameraOptions& options);

// "onvif", "relay4", ...
const char* DeviceTypeName(DEVICETYPE type);

// "--name=value": cuts arg to "--name" and returns the value; nothing for
// other arguments.
std::optional<std::string> SplitInlineValue(std::string& arg);
// The value of option arg: its inline value, else the next argument (i moves
// on to it); throws UsageError when there is none.
std::string OptionValue(const std::string& arg, const std::optional<std::string>& inlineValue,
                        const std::vector<std::string>& args, std::size_t& i);

// A secret (token, password) from the first line of a file, so that it never
// shows in the process list as a command-line word does; throws UsageError
// naming the file and what, never the text.
std::string ReadSecretFile(const std::string& path, const std::string& what);

// "2s", "500ms", "1.5s", "1m"; throws UsageError.
std::chrono::milliseconds ParseDuration(const std::string& text);
unsigned ParseUnsigned(const std::string& option, const std::string& text, unsigned limit);
PTZPROTOCOL ParseProtocol(const std::string& text);
const char* ProtocolName(PTZPROTOCOL protocol);

}  // namespace korvane::tool
