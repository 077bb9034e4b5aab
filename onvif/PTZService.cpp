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

// The control session for one operation: its turn taken, its deadline set.
class CPTZService::CControlTurn {
public:
    CControlTurn(CPTZService& service, bool stop) : m_service(service)
    {
        const auto start = std::chrono::steady_clock::now();
        m_bHeld = service.m_turns.Take(stop, start + COnvifConnection::kCallBudget);
        if (!m_bHeld) return;
        // A stop waited only for the request in flight, which had its own
        // deadline: it gets a whole budget of its own, so that it goes out.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            start + COnvifConnection::kCallBudget - std::chrono::steady_clock::now());
        service.m_control.StartCall(stop ? COnvifConnection::kCallBudget : std::max(left, std::chrono::milliseconds(1)));
    }
    ~CControlTurn()
    {
        if (m_bHeld) m_service.m_turns.Give();
    }
    CControlTurn(const CControlTurn&) = delete;
    CControlTurn& operator=(const CControlTurn&) = delete;
    bool Held() const { return m_bHeld; }
    // What a caller that never got its turn reports.
    static OnvifResult Busy(const char* operation)
    {
        return {0, std::string(operation) + ": not asked: an earlier request to the camera did not end in time"};
    }

private:
    CPTZService& m_service;
    bool m_bHeld = false;
};

// Set-up holds both sessions: nothing else runs while it changes addresses,
// profiles and tokens.
class CPTZService::CSetUp {
public:
    explicit CSetUp(CPTZService& service) : m_control(service, false), m_query(service.m_queryMutex) {}
    bool Held() const { return m_control.Held(); }

private:
    CControlTurn m_control;
    std::lock_guard<std::mutex> m_query;
};

bool CPTZService::CTurns::Take(bool stop, std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (stop) ++m_nStopsWaiting;
    const bool taken = m_changed.wait_until(lock, until, [&] { return !m_bBusy && (stop || m_nStopsWaiting == 0); });
    if (stop) --m_nStopsWaiting;
    if (taken) m_bBusy = true;
    if (stop && !taken) m_changed.notify_all();  // what waited behind this stop may go
    return taken;
}

void CPTZService::CTurns::Give()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bBusy = false;
    }
    m_changed.notify_all();
}

CPTZService::CPTZService()
    : m_pClock(std::make_shared<onvif::CCameraClock>()), m_control(m_pClock), m_query(m_pClock)
{
}

OnvifResult CPTZService::Done(COnvifConnection& connection, int value) const
{
    return {value, connection.CallOutcome()};
}

void CPTZService::SetProfileToken(const std::string& token)
{
    CSetUp setUp(*this);
    m_strProfileWanted = token;
}

void CPTZService::SetTlsFingerprint(const std::string& fingerprint)
{
    CSetUp setUp(*this);
    m_control.SetTlsFingerprint(fingerprint);
    m_query.SetTlsFingerprint(fingerprint);
}

void CPTZService::ClearPresets()
{
    CSetUp setUp(*this);
    m_mapPresets.clear();
    m_setCleared.clear();
}

OnvifResult CPTZService::Init(const char* ip, unsigned int port, const char* user, const char* password)
{
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("set-up");
    m_strDeviceUrl = DeviceServiceUrl(ip, port);
    m_strUser = user ? user : "";
    m_strPassword = password ? password : "";
    m_strMediaUrl.clear();
    m_strMedia2Url.clear();
    m_strPtzUrl.clear();
    m_control.SetClockSource(m_strDeviceUrl);
    m_query.SetClockSource(m_strDeviceUrl);
    if (m_strDeviceUrl.empty()) return {};
    m_control.ForgetCameraClock();
    return Discover();
}

// The clock and the service addresses, over the control session, whose
// turn and deadline the caller holds.
OnvifResult CPTZService::Discover()
{
    // A camera that does not answer at all costs one time-out, not three.
    if (m_control.LearnCameraClock(m_strDeviceUrl))
        Onvif_device_geturls(m_control, m_strDeviceUrl, m_strUser, m_strPassword, m_strMediaUrl, m_strPtzUrl,
                             &m_strMedia2Url);
    return Done(m_control, m_strMediaUrl.empty() ? 0 : 1);
}

OnvifResult CPTZService::Open()
{
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("Open");
    m_vecProfiles.clear();  // not ready until the end: moves stay refused
    if ((m_strMediaUrl.empty() && m_strMedia2Url.empty()) || m_strPtzUrl.empty()) return {};
    std::vector<MediaProfile> listed;
    if (!m_strMediaUrl.empty())
        Onvif_media_get_profile_list(m_control, m_strMediaUrl, m_strUser, m_strPassword, listed);
    else
        Onvif_media2_get_profiles(m_control, m_strMedia2Url, m_strUser, m_strPassword, listed);
    // The named profile, else the first with PTZ, else (as before) the first.
    auto chosen = std::find_if(listed.begin(), listed.end(), [&](const MediaProfile& profile) {
        return m_strProfileWanted.empty() ? profile.hasPtz : profile.token == m_strProfileWanted;
    });
    if (chosen == listed.end() && m_strProfileWanted.empty()) chosen = listed.begin();
    if (chosen == listed.end()) {
        if (!m_strProfileWanted.empty())
            platform::DebugOutput("ONVIF camera at " + m_strDeviceUrl + " has no profile " + m_strProfileWanted + "\n");
        return Done(m_control, 0);
    }
    const std::string profile = chosen->token;
    m_strConfigToken.clear();
    // The newer media service names the configuration in the profile: one
    // request fewer. The older path asks as it always did.
    if (m_strMediaUrl.empty() && !chosen->ptzConfiguration.empty()) {
        m_strConfigToken = chosen->ptzConfiguration;
    } else {
        if (Onvif_ptz_getConfigurations(m_control, m_strPtzUrl, m_strUser, m_strPassword, profile,
                                        m_strConfigToken) != kOnvifOk ||
            m_strConfigToken.empty())
            return Done(m_control, 0);
        if (!chosen->ptzConfiguration.empty()) m_strConfigToken = chosen->ptzConfiguration;  // the profile's own
    }
    if (Onvif_ptz_getConfigurationOptions(m_control, m_strPtzUrl, m_strUser, m_strPassword, profile,
                                          m_strConfigToken, &m_velocity) != kOnvifOk)
        return Done(m_control, 0);
    m_vecProfiles.push_back(profile);
    Onvif_ptz_getPreset(m_control, m_strPtzUrl, m_strUser, m_strPassword, profile, m_mapPresets);
    for (const auto& listed : m_mapPresets) m_setCleared.erase(listed.first);  // the camera has them again
    return Done(m_control, 1);
}

OnvifResult CPTZService::Test(std::string& text)
{
    const auto say = [&](const std::optional<std::string>& outcome, const char* asked) {
        const bool answered = outcome && outcome->empty();
        text = answered ? std::string("the ONVIF camera answered ") + asked + " with these credentials"
                        : "the ONVIF camera failed the test: " + outcome.value_or("no request could be made");
        return OnvifResult{answered ? 1 : 0, outcome};
    };
    {
        // An open camera is asked on the query session: no stop waits for it.
        std::lock_guard<std::mutex> lock(m_queryMutex);
        if (HasProfile()) {
            m_query.StartCall();
            std::map<int, std::string> presets;
            Onvif_ptz_getPreset(m_query, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), presets);
            return say(m_query.CallOutcome(), "GetPresets");
        }
    }
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("the test");
    if (m_strDeviceUrl.empty()) {
        text = "no ONVIF camera address was given (SetSocketParam)";
        return {};
    }
    // Services not found at set-up (camera away, credentials refused): look
    // again, so that the outcome says why.
    if (m_strMediaUrl.empty()) Discover();
    const char* asked = "GetCapabilities";
    if (!m_strMediaUrl.empty()) {
        asked = "GetProfiles";
        std::vector<std::string> profiles;
        Onvif_media_get_profiles(m_control, m_strMediaUrl, m_strUser, m_strPassword, profiles);
    }
    return say(m_control.CallOutcome(), asked);
}

OnvifResult CPTZService::ContinuousMove(float pan, float tilt, float zoom)
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("ContinuousMove");
    if (!HasProfile()) return {kRefused, std::nullopt};
    const int result =
        Onvif_ptz_continuousMove(m_control, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), pan, tilt,
                                 zoom, &m_velocity, std::chrono::milliseconds(m_moveTimeoutMs.load()));
    return Done(m_control, result);
}

OnvifResult CPTZService::GetStatus(PtzStatus& status)
{
    status = {};
    std::lock_guard<std::mutex> lock(m_queryMutex);
    if (!HasProfile()) return {};
    m_query.StartCall();
    const int result =
        Onvif_ptz_getStatus(m_query, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(), status);
    return Done(m_query, result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::GotoHome(int horizontalSpeed, int verticalSpeed)
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("GotoHomePosition");
    if (!HasProfile()) return {};
    const int result = Onvif_ptz_gotoHome(m_control, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                                          static_cast<float>(horizontalSpeed / 64.0),
                                          static_cast<float>(verticalSpeed / 64.0), 0.0f);
    return Done(m_control, result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::SetHome()
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("SetHomePosition");
    if (!HasProfile()) return {};
    const int result = Onvif_ptz_setHome(m_control, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front());
    return Done(m_control, result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::Stop()
{
    CControlTurn turn(*this, true);
    if (!turn.Held()) return CControlTurn::Busy("Stop");
    if (!HasProfile()) return {kRefused, std::nullopt};
    return Done(m_control, Onvif_ptz_cameraStop(m_control, m_strPtzUrl, m_strUser, m_strPassword,
                                                m_vecProfiles.front(), true, true));
}

OnvifResult CPTZService::SetPreset(int preset)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("SetPreset");
    if (!HasProfile()) return {};
    return Done(m_control, StorePreset(preset) ? 1 : 0);
}

bool CPTZService::StorePreset(int preset)
{
    std::string token;
    Onvif_ptz_setPreset(m_control, m_strPtzUrl, m_strUser, m_strPassword, m_vecProfiles.front(),
                        std::to_string(preset), token);
    if (token.empty()) return false;
    m_mapPresets[preset] = token;
    m_setCleared.erase(preset);
    return true;
}

OnvifResult CPTZService::RemovePreset(int preset)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("RemovePreset");
    if (!HasProfile()) return {};
    m_setCleared.insert(preset);
    const auto found = m_mapPresets.find(preset);
    if (found == m_mapPresets.end() || found->second.empty()) return {};
    const int result = Onvif_ptz_removePreset(m_control, m_strPtzUrl, m_strUser, m_strPassword,
                                              m_vecProfiles.front(), found->second);
    if (result == kOnvifOk) m_mapPresets.erase(found);
    return Done(m_control, result);
}

OnvifResult CPTZService::GotoPreset(int preset, int horizontalSpeed, int verticalSpeed)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("GotoPreset");
    if (!HasProfile() || m_setCleared.count(preset)) return {};
    auto found = m_mapPresets.find(preset);
    if (found == m_mapPresets.end() || found->second.empty()) {
        StorePreset(preset);  // calling an unknown preset stores the present position under it
        found = m_mapPresets.find(preset);
        if (found == m_mapPresets.end()) return Done(m_control, 0);
    }
    const auto pan = static_cast<float>(horizontalSpeed / 64.0);
    const auto tilt = static_cast<float>(verticalSpeed / 64.0);
    return Done(m_control, Onvif_ptz_gotoPreset(m_control, m_strPtzUrl, m_strUser, m_strPassword,
                                                m_vecProfiles.front(), found->second, pan, tilt, 0.0f));
}

}  // namespace korvane
