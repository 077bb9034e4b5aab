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
        service.m_session.Control().StartCall(stop ? COnvifConnection::kCallBudget : std::max(left, std::chrono::milliseconds(1)));
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

CPTZService::CPTZService(std::shared_ptr<CStoredPresets> stored) : m_pStored(std::move(stored)) {}

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
    m_session.SetTlsFingerprint(fingerprint);
}

void CPTZService::ClearPresets()
{
    CSetUp setUp(*this);
    m_mapPresets.clear();
    m_setCleared.clear();
    KeepStoredList();
}

void CPTZService::KeepStoredList()
{
    std::optional<std::vector<int>> stored;
    if (m_ptz.Ready() && m_bListed) {
        stored.emplace();
        for (const auto& [number, token] : m_mapPresets)
            if (!token.empty()) stored->push_back(number);
    }
    m_pStored->Publish(std::move(stored));
}

OnvifResult CPTZService::Init(const char* ip, unsigned int port, const char* user, const char* password)
{
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("set-up");
    m_session.SetDevice(DeviceServiceUrl(ip, port), user ? user : "", password ? password : "");
    m_media.Clear();
    m_ptz.Clear();
    m_imaging.Clear();
    m_bHasFocus = false;
    KeepStoredList();
    if (m_session.DeviceUrl().empty())
        return ip && *ip ? OnvifResult{0, "the address " + std::string(ip) +
                                             " is not an IP address, http://IP[:port] or https://IP[:port]"}
                         : OnvifResult{};
    return Discover();
}

// The clock and the service addresses, over the control session, whose
// turn and deadline the caller holds.
OnvifResult CPTZService::Discover()
{
    CDeviceService::Discover(m_session, m_session.Control(), m_media, m_ptz, m_imaging);
    return Done(m_session.Control(), m_media.HasOlder() ? 1 : 0);
}

OnvifResult CPTZService::Open()
{
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("Open");
    m_ptz.Forget();  // not ready until the end: moves stay refused
    m_imaging.Forget();
    m_bHasFocus = false;
    m_bListed = false;
    KeepStoredList();
    if (!m_media.Found() || !m_ptz.Found()) return {};
    COnvifConnection& control = m_session.Control();
    std::vector<MediaProfile> listed;
    m_media.Profiles(m_session, control, listed);
    // The named profile, else the first with PTZ, else (as before) the first.
    auto chosen = std::find_if(listed.begin(), listed.end(), [&](const MediaProfile& profile) {
        return m_strProfileWanted.empty() ? profile.hasPtz : profile.token == m_strProfileWanted;
    });
    if (chosen == listed.end() && m_strProfileWanted.empty()) chosen = listed.begin();
    if (chosen == listed.end()) {
        if (!m_strProfileWanted.empty())
            platform::DebugOutput("ONVIF camera at " + m_session.DeviceUrl() + " has no profile " +
                                  m_strProfileWanted + "\n");
        return Done(control, 0);
    }
    if (!m_ptz.UseProfile(m_session, control, *chosen)) return Done(control, 0);
    // Focus is the chosen profile's video source's, when the camera has Imaging.
    m_imaging.UseSource(chosen->videoSource);
    m_bHasFocus = m_imaging.Ready();
    // What the camera lists now is the truth, whatever this process knew:
    // another may have stored or removed presets meanwhile.
    m_mapPresets.clear();
    m_bListed = m_ptz.Presets(m_session, control, m_mapPresets) == kOnvifOk;
    for (const auto& listed : m_mapPresets) m_setCleared.erase(listed.first);  // the camera has them again
    KeepStoredList();
    return Done(control, 1);
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
        if (m_ptz.Ready()) {
            m_session.Query().StartCall();
            std::map<int, std::string> presets;
            m_ptz.Presets(m_session, m_session.Query(), presets);
            return say(m_session.Query().CallOutcome(), "GetPresets");
        }
    }
    CSetUp setUp(*this);
    if (!setUp.Held()) return CControlTurn::Busy("the test");
    if (m_session.DeviceUrl().empty()) {
        text = "no ONVIF camera address was given (SetSocketParam)";
        return {};
    }
    // Services not found at set-up (camera away, credentials refused): look
    // again, so that the outcome says why.
    if (!m_media.HasOlder()) Discover();
    const char* asked = "GetCapabilities";
    if (m_media.HasOlder()) {
        asked = "GetProfiles";
        std::vector<std::string> profiles;
        m_media.ProfileTokens(m_session, m_session.Control(), profiles);
    }
    return say(m_session.Control().CallOutcome(), asked);
}

OnvifResult CPTZService::ContinuousMove(float pan, float tilt, float zoom)
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("ContinuousMove");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    const int result = m_ptz.Move(m_session, m_session.Control(), pan, tilt, zoom,
                                  std::chrono::milliseconds(m_moveTimeoutMs.load()));
    return Done(m_session.Control(), result);
}

OnvifResult CPTZService::GetStatus(PtzStatus& status)
{
    status = {};
    std::lock_guard<std::mutex> lock(m_queryMutex);
    if (!m_ptz.Ready()) return {};
    m_session.Query().StartCall();
    const int result = m_ptz.Status(m_session, m_session.Query(), status);
    return Done(m_session.Query(), result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::GotoHome(int horizontalSpeed, int verticalSpeed)
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("GotoHomePosition");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    const int result = m_ptz.GotoHome(m_session, m_session.Control(), static_cast<float>(horizontalSpeed / 64.0),
                                      static_cast<float>(verticalSpeed / 64.0));
    return Done(m_session.Control(), result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::SetHome()
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("SetHomePosition");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    const int result = m_ptz.SetHome(m_session, m_session.Control());
    return Done(m_session.Control(), result == kOnvifOk ? 1 : 0);
}

OnvifResult CPTZService::Stop()
{
    CControlTurn turn(*this, true);
    if (!turn.Held()) return CControlTurn::Busy("Stop");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    COnvifConnection& control = m_session.Control();
    const int stopped = m_ptz.Stop(m_session, control);
    if (!m_bFocusMoved || !m_imaging.Ready()) return Done(control, stopped);
    // The host sees the first failure of the two, not a later success.
    const OnvifResult axes = Done(control, stopped);
    const int focus = m_imaging.Stop(m_session, control);
    if (focus == kOnvifOk) m_bFocusMoved = false;  // else the next stop tries again
    if (stopped != kOnvifOk) return axes;
    return Done(control, focus);
}

OnvifResult CPTZService::Focus(float speed)
{
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("Move");
    if (!m_ptz.Ready() || !m_imaging.Ready()) return {kRefused, std::nullopt};
    // Noted before the answer: a move the camera took but whose answer was
    // lost must still be stopped.
    m_bFocusMoved = true;
    return Done(m_session.Control(), m_imaging.Focus(m_session, m_session.Control(), speed));
}

OnvifResult CPTZService::SetPreset(int preset)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("SetPreset");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    return Done(m_session.Control(), StorePreset(preset, false) == Stored::Yes ? 1 : 0);
}

CPTZService::Stored CPTZService::StorePreset(int preset, bool keepListed)
{
    const std::string name = std::to_string(preset);
    const auto known = m_mapPresets.find(preset);
    const std::string tried = known != m_mapPresets.end() ? known->second : std::string();
    std::string token = tried;
    m_ptz.SetPreset(m_session, m_session.Control(), name, token);
    Stored stored = Stored::Yes;
    std::map<int, std::string> listed;
    // Refused: the camera's presets may have changed since Open (another
    // process stored or removed this one). As it lists them now, once more.
    if (token.empty() && m_ptz.Presets(m_session, m_session.Control(), listed) == kOnvifOk) {
        m_mapPresets.erase(preset);
        const auto now = listed.find(preset);
        if (now != listed.end()) token = now->second;
        if (token == tried)
            token.clear();
        else if (keepListed && !token.empty())
            stored = Stored::Listed;
        else
            m_ptz.SetPreset(m_session, m_session.Control(), name, token);
    }
    if (!token.empty()) {
        m_mapPresets[preset] = token;
        m_setCleared.erase(preset);
    }
    KeepStoredList();
    return token.empty() ? Stored::No : stored;
}

OnvifResult CPTZService::RemovePreset(int preset)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("RemovePreset");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    m_setCleared.insert(preset);
    const auto found = m_mapPresets.find(preset);
    if (found == m_mapPresets.end() || found->second.empty()) return {};
    const int result = m_ptz.RemovePreset(m_session, m_session.Control(), found->second);
    if (result == kOnvifOk) m_mapPresets.erase(found);
    KeepStoredList();
    return Done(m_session.Control(), result);
}

OnvifResult CPTZService::GotoPreset(int preset, int horizontalSpeed, int verticalSpeed)
{
    if (!InRange(preset)) return {};
    CControlTurn turn(*this, false);
    if (!turn.Held()) return CControlTurn::Busy("GotoPreset");
    if (!m_ptz.Ready()) return {kRefused, std::nullopt};
    if (m_setCleared.count(preset))
        return {0, std::nullopt, "preset " + std::to_string(preset) + " was cleared: store it again before going to it"};
    auto found = m_mapPresets.find(preset);
    std::string note;
    if (found == m_mapPresets.end() || found->second.empty()) {
        // Calling a preset the camera does not have stores the present position under it.
        const Stored stored = StorePreset(preset, true);
        if (stored == Stored::No) return Done(m_session.Control(), 0);
        found = m_mapPresets.find(preset);
        if (stored == Stored::Yes)
            note = "preset " + std::to_string(preset) + " was not on the camera: the current view was stored under it";
    }
    const auto pan = static_cast<float>(horizontalSpeed / 64.0);
    const auto tilt = static_cast<float>(verticalSpeed / 64.0);
    OnvifResult result =
        Done(m_session.Control(), m_ptz.GotoPreset(m_session, m_session.Control(), found->second, pan, tilt));
    result.note = std::move(note);
    return result;
}

}  // namespace korvane
