#include "onvif/PTZService.h"

#include <boost/asio/ip/address.hpp>

namespace korvane {

using namespace onvif;

namespace {
constexpr int kRefused = -1;
}

std::string DeviceServiceUrl(const char* ip, unsigned int port)
{
    if (!ip || port == 0 || port > 65535) return {};
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(ip, error);
    if (error) return {};
    const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return "http://" + host + ":" + std::to_string(port) + "/onvif/device_service";
}

void CPTZService::Init(const char* ip, unsigned int port, const char* user, const char* password)
{
    m_strDeviceUrl = DeviceServiceUrl(ip, port);
    m_strUser = user ? user : "";
    m_strPassword = password ? password : "";
    m_strMediaUrl.clear();
    m_strPtzUrl.clear();
    if (m_strDeviceUrl.empty()) return;
    m_connection.StartCall();
    m_connection.ForgetCameraClock();
    // A camera that does not answer at all costs one time-out, not three.
    if (!m_connection.LearnCameraClock(m_strDeviceUrl)) return;
    Onvif_device_geturls(m_connection, m_strDeviceUrl, m_strUser, m_strPassword, m_strMediaUrl, m_strPtzUrl);
}

int CPTZService::Open()
{
    if (m_strMediaUrl.empty() || m_strPtzUrl.empty()) return 0;
    m_connection.StartCall();
    Onvif_media_get_profiles(m_connection, m_strMediaUrl, m_strUser, m_strPassword, m_vecProfiles);
    if (m_vecProfiles.empty()) return 0;
    const std::string& profile = m_vecProfiles.front();
    m_strConfigToken.clear();
    if (Onvif_ptz_getConfigurations(m_connection, m_strPtzUrl, m_strUser, m_strPassword, profile, m_strConfigToken) !=
            kOnvifOk ||
        m_strConfigToken.empty()) {
        m_vecProfiles.clear();  // not ready: moves stay refused
        return 0;
    }
    if (Onvif_ptz_getConfigurationOptions(m_connection, m_strPtzUrl, m_strUser, m_strPassword, profile,
                                          m_strConfigToken) != kOnvifOk) {
        m_vecProfiles.clear();
        return 0;
    }
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
                                    tilt, zoom);
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
