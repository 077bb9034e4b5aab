// Drives one ONVIF camera: finds its media (or newer media) and PTZ services,
// uses the profile the host named or else the first profile with a PTZ
// configuration, and keeps the tokens the camera hands out so that the host
// can speak in plain preset numbers 1 to 256.
//
// Each operation is one host call: its requests share one deadline of 5
// seconds (COnvifConnection::kCallBudget), and once a request has run out of
// time the operation makes no more, so none blocks the calling thread longer.
#pragma once

#include "onvif/OnvifClient.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korvane {

class CPTZService {
public:
    static constexpr int kFirstPreset = 1;
    static constexpr int kLastPreset = 256;

    CPTZService() = default;
    virtual ~CPTZService() = default;

    // The camera at ip:port (ip may be "https://address[:port]"). The latest
    // credentials are the ones used. Asks for the camera's time and its
    // service addresses at once.
    void Init(const char* ip, unsigned int port, const char* user, const char* password);
    // Profiles, PTZ configuration and presets: 1 ready, 0 failed.
    int Open();

    // The profile to use by its token (empty: the first with PTZ); read by Open.
    void SetProfileToken(const std::string& token) { m_strProfileWanted = token; }
    // The certificate an HTTPS camera must show (SHA-256, hex); before Init.
    void SetTlsFingerprint(const std::string& fingerprint) { m_connection.SetTlsFingerprint(fingerprint); }
    // Position and move status: 1 read, 0 not.
    int GetStatus(onvif::PtzStatus& status);
    int GotoHome(int horizontalSpeed, int verticalSpeed);  // 1 taken, 0 not
    int SetHome();                                          // 1 taken, 0 not
    // Each of these refuses (result -1, no request) while no profile is known.
    int ContinuousMove(float pan, float tilt, float zoom);
    int Stop();  // pan/tilt after a move, zoom after a zoom (m_bPanTilt)
    int SetPreset(int preset);     // 1 stored, 0 not
    // Clears the number: the camera's preset is removed when one is known
    // (0 refused here, else the camera's result), and the number stays
    // cleared until it is stored again.
    int RemovePreset(int preset);
    // A number never stored is stored at the present position first; a
    // cleared number sends nothing (0): it must not come back unasked.
    int GotoPreset(int preset, int horizontalSpeed, int verticalSpeed);
    // The connection test: one real request that needs the credentials (the
    // PTZ presets once open, else the media profiles). True when answered;
    // text says what happened, for the host's message.
    bool Test(std::string& text);
    // What the last operation's requests came to (COnvifConnection::CallOutcome).
    const std::optional<std::string>& Outcome() const { return m_connection.CallOutcome(); }

    void ClearPresets()
    {
        m_mapPresets.clear();
        m_setCleared.clear();
    }

    bool m_bPanTilt = true;

private:
    bool StorePreset(int preset);
    bool HasProfile() const { return !m_vecProfiles.empty() && !m_strPtzUrl.empty(); }
    static bool InRange(int preset) { return preset >= kFirstPreset && preset <= kLastPreset; }

    onvif::COnvifConnection m_connection;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strDeviceUrl;
    std::string m_strMediaUrl;
    std::string m_strMedia2Url;
    std::string m_strPtzUrl;
    std::string m_strConfigToken;
    std::string m_strProfileWanted;
    onvif::VelocitySpaces m_velocity;
    std::vector<std::string> m_vecProfiles;
    std::map<int, std::string> m_mapPresets;
    std::set<int> m_setCleared;  // cleared by the host, not stored since
};

// "http://<ip>:<port>/onvif/device_service", or empty when ip is no IP
// address or the port is not a TCP port. ip may be an address with a
// scheme, "https://192.168.1.64[:8443]", which carries its own port (443 or
// 80 when it names none; port is then not used); a bare address on port 443
// is reached over HTTPS.
std::string DeviceServiceUrl(const char* ip, unsigned int port);

}  // namespace korvane
