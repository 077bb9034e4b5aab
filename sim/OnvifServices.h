// The simulated ONVIF camera's services (device, media, PTZ) and the state
// they share: where the camera points, its home and its presets. Requests
// reach a handler by service (from the path: "/onvif/ptz_service" is "ptz")
// and operation, so services that share an operation name (Imaging has its
// own Stop and GetStatus) keep apart. The HTTP side (OnvifCamera.cpp) checks
// credentials and paces answers; nothing here knows of connections.
#pragma once

#include "sim/OnvifCamera.h"
#include "onvif/Soap.h"
#include "onvif/WsSecurity.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace korvane::sim {

// An answer in this camera's own prefixes, unlike the client's: answers
// must be read by local names.
std::string Answer(const std::string& body);
// detail: a second subcode inside the first ("ter:PresetExist"), or none.
std::string Fault(const char* code, const char* subcode, const char* reason, const char* detail = nullptr);

// Pan, tilt and zoom.
using Place = std::array<float, 3>;

// Where the camera points: a place and the velocities it moves at since
// then, until a move's timeout, if it had one, lapses.
struct Motion {
    using Clock = std::chrono::steady_clock;
    Place from{0.0f, 0.0f, 0.0f};
    Place velocity{0.0f, 0.0f, 0.0f};
    Clock::time_point since = Clock::now();
    std::optional<Clock::time_point> until;

    Place Now() const;
    void Set(const Place& place, const Place& speed, std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    bool Moving(int axis) const { return velocity[axis] != 0.0f && (!until || Clock::now() < *until); }
};

// The focus of the one video source: 0 near to 1 far, moving at speed
// (a unit a second at 1) since a time, until it meets an end.
struct FocusMotion {
    float from = 0.5f;
    float speed = 0.0f;
    Motion::Clock::time_point since = Motion::Clock::now();

    float Now() const;
    void Set(float newSpeed);
};

struct OnvifCameraState {
    std::map<std::string, std::string> presets{{"Preset_1", "1"}, {"Home", "Home"}, {"Preset_012", "012"}};
    std::map<std::string, Place> presetPlaces;
    int nextPreset = 100;
    Motion motion;
    Place home{0.0f, 0.0f, 0.0f};
    FocusMotion focus;
};

// An xs:duration as a move's Timeout carries it: "PT1.5S", "PT2M", "PT1H0M3S".
std::optional<std::chrono::milliseconds> ParseDuration(const std::string& text);

class COnvifServices {
public:
    // serviceUrl: a service's advertised address by its path's last part
    // ("ptz_service"); now: the camera's clock.
    COnvifServices(const OnvifCameraOptions& options, std::function<std::string(const char*)> serviceUrl,
                   std::function<onvif::UtcSeconds()> now);

    // The answer to an authorized request; status is set when it is no 200.
    std::string Dispatch(OnvifRequest& record, pugi::xml_node operation, int& status);

    OnvifCameraState state;

private:
    using Handler = std::function<std::string(OnvifRequest& record, pugi::xml_node operation, int& status)>;
    void AddDevice();
    void AddMedia();
    void AddPtz();
    void AddImaging();  // OnvifImaging.cpp
    // PTZ operations on a profile refuse other profiles.
    void AddOnProfile(const std::string& operation, Handler handler);

    const OnvifCameraOptions& m_options;
    std::function<std::string(const char*)> m_serviceUrl;
    // The camera's host as its service addresses name it: "127.0.0.1".
    std::string Host() const;
    std::function<onvif::UtcSeconds()> m_now;
    std::map<std::pair<std::string, std::string>, Handler> m_handlers;  // by service and operation
};

}  // namespace korvane::sim
