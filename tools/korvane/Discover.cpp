#include "Discover.h"

#include "Camera.h"
#include "CameraFile.h"
#include "CommandLine.h"
#include "platform/Files.h"

#include <korvane/Korvane.h>

#include <boost/asio/ip/address_v4.hpp>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace korvane::tool {

using json = nlohmann::ordered_json;

const char* const kDiscoverHelp =
    "usage: korvane discover [--timeout 3s] [--interface IP] [--json] [--write FILE]\n"
    "\n"
    "Sends one WS-Discovery probe for ONVIF cameras (network video transmitters)\n"
    "to 239.255.255.250:3702 and lists each camera that answers within the time:\n"
    "its address and port, its name and hardware (from its scopes) and whether it\n"
    "offers PTZ, and how soon the first answer came. A search keeps at most 1000\n"
    "cameras (a note says when it stopped there).\n"
    "\n"
    "  --timeout DURATION  how long to wait for answers (default 3s)\n"
    "  --interface IP      probe from the interface with this IPv4 address (on a\n"
    "                      machine with several networks)\n"
    "  --json              print {\"cameras\": [...]} for scripts\n"
    "  --write FILE        add the cameras found to the camera file (created if\n"
    "                      missing) as ONVIF cameras, without user or password;\n"
    "                      a camera already there (same host and port) is left,\n"
    "                      one the file cannot hold (a host name) is left out\n"
    "                      with a note. The file is replaced whole (a temporary\n"
    "                      file renamed over it, under a lock in FILE.lock): a\n"
    "                      full disk leaves it as it was\n"
    "\n"
    "Exit codes: 0 done (also when none answered), 1 the probe could not be sent,\n"
    "2 a mistake on the command line.\n";

namespace {

// As the library keeps them (CKorvaneDiscovery).
constexpr int kMostCameras = 1000;

struct DiscoverOptions {
    std::chrono::milliseconds timeout{3000};
    std::string interfaceIp;
    bool json = false;
    std::string writeTo;
};

DiscoverOptions ParseDiscoverOptions(const std::vector<std::string>& args)
{
    DiscoverOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        const auto inlineValue = SplitInlineValue(arg);
        const auto next = [&] { return OptionValue(arg, inlineValue, args, i); };
        if (arg == "--timeout") options.timeout = ParseDuration(next());
        else if (arg == "--interface") options.interfaceIp = next();
        else if (arg == "--json") options.json = true;
        else if (arg == "--write") options.writeTo = next();
        else throw UsageError("korvane discover: unknown argument " + arg);
    }
    if (options.timeout > std::chrono::seconds(60)) throw UsageError("--timeout is at most 60s");
    boost::system::error_code error;
    if (!options.interfaceIp.empty() &&
        (options.interfaceIp.find('\0') != std::string::npos ||
         (boost::asio::ip::make_address_v4(options.interfaceIp, error), error)))
        throw UsageError("--interface must be an IPv4 address of this machine, not '" + options.interfaceIp + "'");
    return options;
}

// The host field of the camera file: "https://HOST:PORT" for HTTPS cameras
// (the port inside, as the file wants it), the address alone otherwise.
std::string HostField(const CKorvaneDiscovery& found, int i)
{
    const std::string host = found.Host(i);
    const std::string bracketed = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (std::string(found.Scheme(i)) != "https") return host;
    return "https://" + bracketed + ":" + std::to_string(found.Port(i));
}

// Where a camera answered from, as the listing shows it.
std::string Where(const CKorvaneDiscovery& found, int i)
{
    const std::string field = HostField(found, i);
    return field.rfind("https://", 0) == 0 ? field : field + ":" + std::to_string(found.Port(i));
}

// A name for the file: the camera's own, made plain, else its address; unique.
std::string FileName(const CKorvaneDiscovery& found, int i, std::set<std::string>& taken)
{
    std::string base;
    for (const char c : std::string(found.Name(i))) {
        if (std::isalnum(static_cast<unsigned char>(c))) base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!base.empty() && base.back() != '-') base += '-';
    }
    while (!base.empty() && base.back() == '-') base.pop_back();
    if (base.size() > 64) base.resize(64);
    if (base.empty()) base = "onvif-" + std::string(found.Host(i));
    std::string name = base;
    for (int n = 2; taken.count(name); ++n) name = base + "-" + std::to_string(n);
    taken.insert(name);
    return name;
}

int WriteCameraFile(const std::string& path, const CKorvaneDiscovery& found)
{
    // Read, add and write as one step: a second writer waits and then adds to what this one wrote.
    const platform::CFileLock lock(path);
    if (!lock.Locked()) {
        std::fprintf(stderr, "korvane: cannot lock %s: %s\n", path.c_str(), lock.Error().c_str());
        return 1;
    }
    json document = {{"cameras", json::array()}};
    if (std::ifstream in(path, std::ios::binary); in) {
        std::ostringstream text;
        text << in.rdbuf();
        ParseCameraFile(text.str(), path);  // refuses (exit 2) a file that is not a camera file
        document = json::parse(text.str());
    }
    std::set<std::string> names;
    std::set<std::string> places;
    for (const NamedCamera& camera : ParseCameraFile(document.dump(), path)) {
        names.insert(camera.name);
        if (camera.options.mode == MODE_NETWORK && camera.options.deviceType == DEVICE_ONVIF)
            places.insert(OnvifOrigin(camera.options));
    }
    int added = 0;
    for (int i = 0; i < found.Count(); ++i) {
        CameraOptions options;
        options.mode = MODE_NETWORK;
        options.deviceType = DEVICE_ONVIF;
        options.target = HostField(found, i);
        if (std::string(found.Scheme(i)) != "https") options.port = static_cast<unsigned>(found.Port(i));
        // One answer the file cannot hold leaves the others to be written.
        if (const auto problem = CheckLink(options)) {
            std::printf("left out %s: its %s %s\n", Printable(Where(found, i)).c_str(), problem->field.c_str(),
                        Printable(problem->message).c_str());
            continue;
        }
        if (!places.insert(OnvifOrigin(options)).second) continue;
        json camera = {{"name", FileName(found, i, names)}, {"mode", "onvif"}, {"host", options.target}};
        if (options.port) camera["port"] = *options.port;
        document["cameras"].push_back(camera);
        ++added;
    }
    const std::string text = document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    ParseCameraFile(text, path);  // what is written reads back
    std::string error;
    if (!platform::WriteWholeFile(path, text, error)) {
        std::fprintf(stderr, "korvane: cannot write %s: %s (the file is as it was)\n", path.c_str(), error.c_str());
        return 1;
    }
    std::printf("%d camera(s) added to %s (give each its user and password there)\n", added, path.c_str());
    return 0;
}

}  // namespace

int RunDiscover(const std::vector<std::string>& args)
{
    const DiscoverOptions options = ParseDiscoverOptions(args);
    CKorvaneDiscovery found;
    const int count = found.Run(static_cast<int>(options.timeout.count()),
                                options.interfaceIp.empty() ? nullptr : options.interfaceIp.c_str());
    if (count == 0 && *found.Error()) {
        std::fprintf(stderr, "korvane: discovery failed: %s\n", found.Error());
        return 1;
    }
    if (count >= kMostCameras)
        std::fprintf(stderr, "korvane: note: the search stopped at %d cameras, the most one search keeps; "
                             "more may have answered (--interface narrows it)\n", count);
    if (options.json) {
        std::printf("%s\n", json{{"cameras", FoundCameras(found)}}.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        // The answer's own time, not the wait: a camera on the same switch answers in a millisecond.
        const double first = count ? found.AnsweredAfter(0) * 1000 : 0;
        if (count) std::printf("%d ONVIF camera(s) answered, the first after %.1f ms\n", count, first);
        else std::printf("no ONVIF camera answered within %.1f s\n", options.timeout.count() / 1000.0);
        for (int i = 0; i < count; ++i)
            std::printf("  %s  %s  %s  %s\n", Printable(Where(found, i)).c_str(),
                        *found.Name(i) ? Printable(found.Name(i)).c_str() : "(no name)",
                        *found.Hardware(i) ? Printable(found.Hardware(i)).c_str() : "-",
                        found.Ptz(i) ? "PTZ" : "no PTZ advertised");
    }
    std::fflush(stdout);
    return options.writeTo.empty() ? 0 : WriteCameraFile(options.writeTo, found);
}

}  // namespace korvane::tool
