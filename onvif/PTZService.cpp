#include "onvif/PTZService.h"

#include "platform/Platform.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cstring>

namespace korvane {

using namespace onvif;

namespace {
constexpr int kRefused = -1;
}

std::string DeviceServiceUrl(const char* ip, unsigned int port)
{
    if (!ip) return {};
    std::string text = ip;
    std::string scheme;
    for (const char* prefix : {"http://", "https://"}) {
        if (text.rfind(prefix, 0) == 0) {
            scheme = std::string(prefix, std::strlen(prefix) - 3);
            text.erase(0, std::strlen(prefix));
        }
    }
    if (!scheme.empty()) {
        if (!text.empty() && text.back() == '/') text.pop_back();
        // "[v6]:port", "v4:port": the port in the address wins.
        const std::size_t close = text.rfind(']');
        const std::size_t colon = text.rfind(':');
        const bool v6 = !text.empty() && text.front() == '[';
        if (colon != std::string::npos && (v6 ? close != std::string::npos && colon > close
                                              : text.find(':') == colon)) {
            const std::string digits = text.substr(colon + 1);
            if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
                return {};
            port = static_cast<unsigned>(std::stoul(digits));
            text.erase(colon);
        } else {
            port = scheme == "https" ? 443 : 80;  // an address with a scheme carries its own port
        }
        if (v6 && text.back() == ']') text = text.substr(1, text.size() - 2);
    }
    if (port == 0 || port > 65535) return {};
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(text, error);
    if (error) return {};
    if (scheme.empty()) scheme = port == 443 ? "https" : "http";
    const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return scheme + "://" + host + ":" + std::to_string(port) + "/onvif/device_service";
}

void CPTZService::Init(const char* ip, unsigned int port, const char* user, const char* password)
{
    m_strDeviceUrl = DeviceServiceUrl(ip, port);
    m_strUser = user ? user : "";
    m_strPassword = password ? password : "";
    m_strMediaUrl.clear();
    m_strMedia2Url.clear();
    m_strPtzUrl.clear();
    if (m_strDeviceUrl.empty()) return;
    m_connection.StartCall();
    m_connection.ForgetCameraClock();
    // A camera that does not answer at all costs one time-out, not three.
    if (!m_connection.LearnCameraClock(m_strDeviceUrl)) return;
    Onvif_device_geturls(m_connection, m_strDeviceUrl, m_strUser, m_strPassword, m_strMediaUrl, m_strPtzUrl,
                         &m_strMedia2Url);
}

int CPTZService::Open()
{
    m_vecProfiles.clear();  // not ready until the end: moves stay refused
    if ((m_strMediaUrl.empty() && m_strMedia2Url.empty()) || m_strPtzUrl.empty()) return 0;
    m_connection.StartCall();
    std::vector<MediaProfile> listed;
    if (!m_strMediaUrl.empty())
        Onvif_media_get_profile_list(m_connection, m_strMediaUrl, m_strUser, m_strPassword, listed);
    else
        Onvif_media2_get_profiles(m_connection, m_strMedia2Url, m_strUser, m_strPassword, listed);
    // The named profile, else the first with PTZ, else (as before) the first.
    auto chosen = std::find_if(listed.begin(), listed.end(), [&](const MediaProfile& profile) {
        return m_strProfileWanted.empty() ? profile.hasPtz : profile.token == m_strProfileWanted;
    });
    if (chosen == listed.end() && m_strProfileWanted.empty()) chosen = listed.begin();
    if (chosen == listed.end()) {
        if (!m_strProfileWanted.empty())
            platform::DebugOutput("ONVIF camera at " + m_strDeviceUrl + " has no profile " + m_strProfileWanted + "\n");
        return 0;
    }
    const std::string profile = chosen->token;
    m_strConfigToken.clear();
    // The newer media service names the configuration in the profile: one
    // request fewer. The older path asks as it always did.
    if (m_strMediaUrl.empty() && !chosen->ptzConfiguration.empty()) {
        m_strConfigToken = chosen->ptzConfiguration;
    } else {
        if (Onvif_ptz_getConfigurations(m_connection, m_strPtzUrl, m_strUser, m_strPassword, profile,
                                        m_strConfigToken) != kOnvifOk ||
            m_strConfigToken.empty())
            return 0;
        if (!chosen->ptzConfiguration.empty()) m_strConfigToken = chosen->ptzConfiguration;  // the profile's own
    }
    if (Onvif_ptz_getConfigurationOptions(m_connection, m_strPtzUrl, m_strUser, m_strPassword, profile,
                                          m_strConfigToken, &m_velocity) != kOnvifOk)
        return 0;
    m_vecProfiles.push_back(profile);
    Onvif_ptz_getPreset(m_connection, m_strPtzUrl, m_strUser, m_strPassword, profile, m_mapPresets);
    for (const auto& listed : m_mapPresets) m_setCleared.erase(listed.first);  // the camera has them again
    return 1;
}

bool CPTZService::Test(std::string& text)
{
    if (m_strDeviceUrl.empty()) {
        text = "no ONVIF camera address was given (SetSocketParam)";
        return false;
    }
    m_connection.StartCall();
    // Services not found at set-up (camera away, credentials refused): look
    // again, so that the outcome says why.
    if (m_strMediaUrl.empty() && m_connection.LearnCameraClock(m_strDeviceUrl))
        Onvif_device_geturls(m_connection, m_strDeviceUrl, m_strUser, m_strPassword, m_strMediaUrl, m_strPtzUrl);
    const char* asked = "GetCapabilities";
    if (HasProfile()) {
        asked = "GetPresets";
        std::map<int, std::string> presets;
        Onvif_ptz_getPreset(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), presets);
    } else if (!m_strMediaUrl.empty()) {
        asked = "GetProfiles";
        std::vector<std::string> profiles;
        Onvif_media_get_profiles(m_connection, m_strMediaUrl, m_strUser, m_strPassword, profiles);
    }
    const auto& outcome = m_connection.CallOutcome();
    const bool answered = outcome && outcome->empty();
    text = answered ? std::string("the ONVIF camera answered ") + asked + " with these credentials"
                    : "the ONVIF camera failed the test: " + outcome.value_or("no request could be made");
    return answered;
}

int CPTZService::ContinuousMove(float pan, float tilt, float zoom)
{
    if (!HasProfile()) return kRefused;
    m_connection.StartCall();
    return Onvif_ptz_continuousMove(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), pan,
                                    tilt, zoom, &m_velocity);
}

int CPTZService::GetStatus(PtzStatus& status)
{
    status = {};
    if (!HasProfile()) return 0;
    m_connection.StartCall();
    return Onvif_ptz_getStatus(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), status) ==
                   kOnvifOk
               ? 1
               : 0;
}

int CPTZService::GotoHome(int horizontalSpeed, int verticalSpeed)
{
    if (!HasProfile()) return 0;
    m_connection.StartCall();
    return Onvif_ptz_gotoHome(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                              static_cast<float>(horizontalSpeed / 64.0), static_cast<float>(verticalSpeed / 64.0),
                              0.0f) == kOnvifOk
               ? 1
               : 0;
}

int CPTZService::SetHome()
{
    if (!HasProfile()) return 0;
    m_connection.StartCall();
    return Onvif_ptz_setHome(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front()) == kOnvifOk
               ? 1
               : 0;
}

int CPTZService::Stop()
{
    if (!HasProfile()) return kRefused;
    m_connection.StartCall();
    return Onvif_ptz_cameraStop(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                                m_bPanTilt, !m_bPanTilt);
}

int CPTZService::SetPreset(int preset)
{
    if (!InRange(preset) || !HasProfile()) return 0;
    m_connection.StartCall();
    return StorePreset(preset) ? 1 : 0;
}

bool CPTZService::StorePreset(int preset)
{
    std::string token;
    Onvif_ptz_setPreset(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                        std::to_string(preset), token);
    if (token.empty()) return false;
    m_mapPresets[preset] = token;
    m_setCleared.erase(preset);
    return true;
}

int CPTZService::RemovePreset(int preset)
{
    if (!InRange(preset) || !HasProfile()) return 0;
    m_setCleared.insert(preset);
    const auto found = m_mapPresets.find(preset);
    if (found == m_mapPresets.end() || found->second.empty()) return 0;
    m_connection.StartCall();
    const int result = Onvif_ptz_removePreset(m_connection, m_strPtzUrl, m_strUser, m_strPassword,
                                              m_vecProfiles.front(), found->second);
    if (result == kOnvifOk) m_mapPresets.erase(found);
    return result;
}

int CPTZService::GotoPreset(int preset, int horizontalSpeed, int verticalSpeed)
{
    if (!InRange(preset) || !HasProfile() || m_setCleared.count(preset)) return 0;
    m_connection.StartCall();
    auto found = m_mapPresets.find(preset);
    if (found == m_mapPresets.end() || found->second.empty()) {
        StorePreset(preset);  // calling an unknown preset stores the present position under it
        found = m_mapPresets.find(preset);
        if (found == m_mapPresets.end()) return 0;
    }
    const auto pan = static_cast<float>(horizontalSpeed / 64.0);
    const auto tilt = static_cast<float>(verticalSpeed / 64.0);
    return Onvif_ptz_gotoPreset(m_connection, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                                found->second, pan, tilt, 0.0f);
}

}  // namespace korvane
