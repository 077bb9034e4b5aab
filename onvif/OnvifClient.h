// The ONVIF requests the PTZ client needs: device, media and PTZ services,
// SOAP 1.2 over HTTP, each request signed with a WS-Security UsernameToken
// dated in the camera's own time. Every function takes the service address
// and the credentials on each call and reports failure in its result.
#pragma once

#include "onvif/HttpSession.h"
#include "onvif/Soap.h"
#include "onvif/WsSecurity.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::onvif {

// The camera's clock as UsernameTokens must carry it: read once from the
// camera and carried forward on the monotonic clock, so that a step of this
// host's wall clock changes nothing. Shared by a camera's connections.
class CCameraClock {
public:
    // What the camera said its time is, now.
    void Learn(UtcSeconds cameraNow);
    void Forget();
    bool Known() const;
    // The camera's time now; our own wall clock while it is unknown.
    UtcSeconds Now() const;

private:
    mutable std::mutex m_mutex;
    std::optional<UtcSeconds> m_learned;
    std::chrono::steady_clock::time_point m_learnedAt;
};

// One HTTP connection to one camera (a kept-alive HTTP session) with the
// camera's clock. A failed request leaves a debug line (KORVANE_DEBUG)
// saying which request failed and why. One thread at a time.
class COnvifConnection {
public:
    // The time one host call may take, whatever the camera does.
    static constexpr std::chrono::milliseconds kCallBudget = CHttpSession::kTimeout;

    explicit COnvifConnection(std::shared_ptr<CCameraClock> clock = std::make_shared<CCameraClock>())
        : m_pClock(std::move(clock))
    {
    }

    // Starts a host call: its requests share one deadline, budget from now,
    // and once one of them has run out of time the rest are not made. Until
    // the first StartCall each request has the session's own time-out.
    void StartCall(std::chrono::milliseconds budget = kCallBudget);

    // Reads the camera's time (GetSystemDateAndTime needs no credentials)
    // so that later tokens carry a time the camera accepts. Once per camera.
    // A date that is no date (a field missing, not a number, out of range)
    // leaves the clock unknown: tokens then carry our own time.
    // False when no HTTP answer came at all: the camera is not reachable.
    bool LearnCameraClock(const std::string& deviceUrl);
    void ForgetCameraClock() { m_pClock->Forget(); }
    // Where the clock is read again when the camera refuses a token
    // (NotAuthorized): its clock may have jumped. Once per call, then the
    // refused request is made once more. Empty: never.
    void SetClockSource(const std::string& deviceUrl) { m_strClockUrl = deviceUrl; }
    bool SetTlsFingerprint(const std::string& fingerprint) { return m_http.SetTlsFingerprint(fingerprint); }

    SoapReply Call(const std::string& url, const std::string& action, const std::string& body,
                   const std::string& user, const std::string& password);

    // What the current call's last request made came to: nothing when none
    // was made, empty when it was answered, else "<request>: <why>". A
    // request left out for lack of time does not count.
    const std::optional<std::string>& CallOutcome() const { return m_callOutcome; }

private:
    void NoteOutcome(const std::string& action, const std::string& failure);
    bool ReadCameraClock(const std::string& deviceUrl);
    SoapReply Send(const std::string& url, const std::string& action, const std::string& body,
                   const std::string& user, const std::string& password);

    HttpReply Post(const std::string& url, const std::string& action, const std::string& envelope,
                   const std::string& user, const std::string& password);

    CHttpSession m_http;
    std::shared_ptr<CCameraClock> m_pClock;
    std::string m_strClockUrl;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_bOutOfTime = false;
    bool m_bClockRetried = false;  // this call already read the clock again
    std::optional<std::string> m_callOutcome;
};

constexpr int kOnvifOk = 0;
constexpr int kOnvifFailed = -1;

// A media profile: whether it has a PTZ configuration, and that
// configuration's token (some cameras leave it out).
struct MediaProfile {
    std::string token;
    bool hasPtz = false;
    std::string ptzConfiguration;
    std::string videoSource;  // the source its video configuration reads: what Imaging requests name
};

// One axis of a continuous velocity space the camera advertises.
struct VelocityRange {
    float min = -1.0f;
    float max = 1.0f;
    // A velocity from -1 to 1 in this range: the sign kept, 1 at max, -1 at
    // min. A range that does not hold 0 on both sides is taken as -1 to 1.
    float Scale(float velocity) const;
    bool IsGeneric() const { return min == -1.0f && max == 1.0f; }
};

// The continuous pan/tilt and zoom velocity spaces of a PTZ configuration:
// the first of each kind the camera lists; the URI is sent with a move only
// when the range is not -1 to 1, so cameras with the generic range get the
// requests they always got.
struct VelocitySpaces {
    std::string panTiltSpace;
    VelocityRange pan, tilt;
    std::string zoomSpace;
    VelocityRange zoom;
};

// Where the camera points (GetStatus). Absent axes stay unread.
struct PtzStatus {
    bool hasPanTilt = false;
    bool hasZoom = false;
    float pan = 0.0f, tilt = 0.0f, zoom = 0.0f;
    bool moving = false;  // either axis reported MOVING
};

// The media and PTZ service addresses from one GetCapabilities answer (one
// GetServices answer for cameras without it), on the device's own scheme,
// host and port (ServiceUrlOnDevice). True when the media service was found;
// ptzUrl stays empty when the camera has no PTZ service.
// media2Url, when given, receives the newer media service's address a
// GetServices answer lists (it is asked only when GetCapabilities did not
// give both addresses); imagingUrl, when given, the Imaging service's
// address from whichever answer was read (empty: the camera has none).
bool Onvif_device_geturls(COnvifConnection& connection, const std::string& deviceUrl, const std::string& user,
                          const std::string& password, std::string& mediaUrl, std::string& ptzUrl,
                          std::string* media2Url = nullptr, std::string* imagingUrl = nullptr);
// The profile for PTZ control (one with a PTZ configuration) first; empty
// when none could be read.
void Onvif_media_get_profiles(COnvifConnection& connection, const std::string& mediaUrl, const std::string& user,
                              const std::string& password, std::vector<std::string>& profiles);
// Every profile in the camera's order (GetProfiles of the media service).
bool Onvif_media_get_profile_list(COnvifConnection& connection, const std::string& mediaUrl,
                                  const std::string& user, const std::string& password,
                                  std::vector<MediaProfile>& profiles);
// The same from the newer media service (GetProfiles, Type All; asked again
// without a Type when that fails).
bool Onvif_media2_get_profiles(COnvifConnection& connection, const std::string& media2Url, const std::string& user,
                               const std::string& password, std::vector<MediaProfile>& profiles);
int Onvif_ptz_getConfigurations(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                                const std::string& password, const std::string& profile, std::string& configToken);
int Onvif_ptz_getConfigurationOptions(COnvifConnection& connection, const std::string& ptzUrl,
                                      const std::string& user, const std::string& password,
                                      const std::string& profile, const std::string& configToken,
                                      VelocitySpaces* spaces = nullptr);
int Onvif_ptz_getStatus(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, PtzStatus& status);
int Onvif_ptz_gotoHome(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                       const std::string& password, const std::string& profile, float pan, float tilt, float zoom);
int Onvif_ptz_setHome(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                      const std::string& password, const std::string& profile);
// Presets whose names are preset numbers (1 to 256, plain decimal) by number;
// other presets are left out.
int Onvif_ptz_getPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, std::map<int, std::string>& presets);
int Onvif_ptz_continuousMove(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                             const std::string& password, const std::string& profile, float pan, float tilt,
                             float zoom, const VelocitySpaces* spaces = nullptr,
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
// An xs:duration of whole milliseconds, as a move's Timeout: "PT1.5S".
std::string DurationText(std::chrono::milliseconds duration);
int Onvif_ptz_cameraStop(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                         const std::string& password, const std::string& profile, bool panTilt, bool zoom);
// Stores the present position under name. token names the preset to update
// (empty: a new one) and receives the camera's token, empty on failure.
int Onvif_ptz_setPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, const std::string& name,
                        std::string& token);
int Onvif_ptz_removePreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                           const std::string& password, const std::string& profile, const std::string& token);
int Onvif_ptz_gotoPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                         const std::string& password, const std::string& profile, const std::string& token,
                         float pan, float tilt, float zoom);

// Imaging: a continuous focus move at speed (-1 near to 1 far) of one video
// source, and the stop of every focus move of that source.
int Onvif_imaging_focusMove(COnvifConnection& connection, const std::string& imagingUrl, const std::string& user,
                            const std::string& password, const std::string& videoSource, float speed);
int Onvif_imaging_stop(COnvifConnection& connection, const std::string& imagingUrl, const std::string& user,
                       const std::string& password, const std::string& videoSource);

// The address to use for a service the camera advertises at xaddr: the
// scheme, host and port of the device service address the host gave, with
// the advertised path and query. Credentials then never go to a host or port
// the camera names, and a camera behind NAT, which advertises its inside
// address, is still reached. Empty when xaddr has no path.
std::string ServiceUrlOnDevice(const std::string& deviceUrl, const std::string& xaddr);

// A preset name that is a preset number: "1" to "256", no sign, no leading zero.
std::optional<int> PresetNumberFromName(const std::string& name);
// A float as XML wants it, whatever the host's locale.
std::string XmlNumber(float value);

}  // namespace korvane::onvif
