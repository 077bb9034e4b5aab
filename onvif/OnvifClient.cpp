#include "onvif/OnvifClient.h"

#include "onvif/WsSecurity.h"
#include "platform/Platform.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace korvane::onvif {

namespace {

constexpr const char* kNotAsked = "not asked: the call is out of time";

std::string Action(const char* ns, const char* operation) { return std::string(ns) + "/" + operation; }

std::string Element(const char* prefix, const char* name, const std::string& inner)
{
    return std::string("<") + prefix + ":" + name + ">" + inner + "</" + prefix + ":" + name + ">";
}

std::string ProfileToken(const std::string& profile) { return Element("tptz", "ProfileToken", XmlEscape(profile)); }

// A date or time field: a plain decimal number (blanks around it allowed),
// or -1, which no field may be.
int FieldOf(pugi::xml_node parent, const char* name)
{
    std::string_view text = Child(parent, name).child_value();
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) return -1;
    return value;
}

// A decimal number as a camera writes it (blanks around it allowed); nothing
// for text that is no finite number.
std::optional<float> NumberOf(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float value = 0.0f;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Min and Max of a range element; the generic -1 to 1 when either is missing
// or the range is empty.
VelocityRange RangeOf(pugi::xml_node range)
{
    const auto low = NumberOf(Child(range, "Min").child_value());
    const auto high = NumberOf(Child(range, "Max").child_value());
    if (!low || !high || *low >= *high) return {};
    return {*low, *high};
}

std::string SpaceAttribute(const std::string& uri)
{
    return uri.empty() ? std::string() : " space=\"" + XmlEscape(uri) + "\"";
}

UtcSeconds NowSeconds() { return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now()); }

}  // namespace

bool Onvif_device_geturls(COnvifConnection& connection, const std::string& deviceUrl, const std::string& user,
                          const std::string& password, std::string& mediaUrl, std::string& ptzUrl,
                          std::string* media2Url, std::string* imagingUrl)
{
    mediaUrl.clear();
    ptzUrl.clear();
    if (media2Url) media2Url->clear();
    if (imagingUrl) imagingUrl->clear();
    const SoapReply capabilities = connection.Call(
        deviceUrl, Action(kNsDevice, "GetCapabilities"),
        "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", user, password);
    if (capabilities.ok) {
        mediaUrl = ServiceUrlOnDevice(deviceUrl, Child(Descendant(capabilities.body, "Media"), "XAddr").child_value());
        ptzUrl = ServiceUrlOnDevice(deviceUrl, Child(Descendant(capabilities.body, "PTZ"), "XAddr").child_value());
        if (imagingUrl)
            *imagingUrl =
                ServiceUrlOnDevice(deviceUrl, Child(Descendant(capabilities.body, "Imaging"), "XAddr").child_value());
        if (!mediaUrl.empty() && !ptzUrl.empty()) return true;
    }
    // Cameras that only answer the newer request.
    const SoapReply services = connection.Call(
        deviceUrl, Action(kNsDevice, "GetServices"),
        "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>", user, password);
    if (services.ok) {
        for (pugi::xml_node service : services.body.children()) {
            if (std::string(LocalName(service)) != "Service") continue;
            const std::string ns = Child(service, "Namespace").child_value();
            std::string* url = ns == kNsMedia     ? &mediaUrl
                               : ns == kNsPtz     ? &ptzUrl
                               : ns == kNsMedia2  ? media2Url
                               : ns == kNsImaging ? imagingUrl
                                                  : nullptr;
            if (url && url->empty()) *url = ServiceUrlOnDevice(deviceUrl, Child(service, "XAddr").child_value());
        }
    }
    return !mediaUrl.empty();
}

void CCameraClock::Learn(UtcSeconds cameraNow)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_learned = cameraNow;
    m_learnedAt = std::chrono::steady_clock::now();
}

void CCameraClock::Forget()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_learned.reset();
}

bool CCameraClock::Known() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_learned.has_value();
}

UtcSeconds CCameraClock::Now() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_learned) return NowSeconds();
    return *m_learned +
           std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_learnedAt);
}

void COnvifConnection::StartCall(std::chrono::milliseconds budget)
{
    m_deadline = std::chrono::steady_clock::now() + budget;
    m_bOutOfTime = false;
    m_bClockRetried = false;
    m_callOutcome.reset();
}

void COnvifConnection::NoteOutcome(const std::string& action, const std::string& failure)
{
    m_callOutcome = failure.empty() ? std::string() : action.substr(action.rfind('/') + 1) + ": " + failure;
}

HttpReply COnvifConnection::Post(const std::string& url, const std::string& action, const std::string& envelope,
                                 const std::string& user, const std::string& password)
{
    auto timeout = CHttpSession::kTimeout;
    if (m_deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*m_deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) m_bOutOfTime = true;
        timeout = std::min(timeout, left);
    }
    if (m_bOutOfTime) {
        HttpReply skipped;
        skipped.error = kNotAsked;
        skipped.timedOut = true;
        return skipped;
    }
    HttpReply reply = m_http.PostSoap(url, action, envelope, user, password, timeout);
    if (reply.timedOut) m_bOutOfTime = true;
    return reply;
}

bool COnvifConnection::LearnCameraClock(const std::string& deviceUrl)
{
    return m_pClock->Known() || ReadCameraClock(deviceUrl);
}

bool COnvifConnection::ReadCameraClock(const std::string& deviceUrl)
{
    const std::string envelope = Envelope("", "<tds:GetSystemDateAndTime/>");
    const HttpReply http = Post(deviceUrl, Action(kNsDevice, "GetSystemDateAndTime"), envelope, "", "");
    if (http.error != kNotAsked)
        NoteOutcome("GetSystemDateAndTime", http.status == 0 || http.timedOut ? http.error : "");
    if (http.status == 0 || http.timedOut) {
        platform::DebugOutput("ONVIF camera at " + deviceUrl + " does not answer: " + http.error + "\n");
        return false;
    }
    const SoapReply reply = ParseSoapReply(http.status, http.body, http.error);
    if (!reply.ok) return true;  // tokens then carry our own time
    const pugi::xml_node utc = Descendant(reply.body, "UTCDateTime");
    const pugi::xml_node date = Child(utc, "Date");
    const pugi::xml_node time = Child(utc, "Time");
    const auto cameraNow = UtcFromFields(FieldOf(date, "Year"), FieldOf(date, "Month"), FieldOf(date, "Day"),
                                         FieldOf(time, "Hour"), FieldOf(time, "Minute"), FieldOf(time, "Second"));
    if (!utc || !cameraNow) return true;
    m_pClock->Learn(*cameraNow);
    return true;
}

SoapReply COnvifConnection::Send(const std::string& url, const std::string& action, const std::string& body,
                                 const std::string& user, const std::string& password)
{
    const std::string header = user.empty() ? std::string() : SecurityHeader(user, password, m_pClock->Now());
    const HttpReply http = Post(url, action, Envelope(header, body), user, password);
    SoapReply reply = ParseSoapReply(http.status, http.body, http.error);
    if (http.error != kNotAsked) NoteOutcome(action, reply.ok ? "" : reply.error);
    if (!reply.ok) platform::DebugOutput("ONVIF " + action.substr(action.rfind('/') + 1) + " at " + url + ": " + reply.error + "\n");
    return reply;
}

SoapReply COnvifConnection::Call(const std::string& url, const std::string& action, const std::string& body,
                                 const std::string& user, const std::string& password)
{
    SoapReply reply = Send(url, action, body, user, password);
    // A camera whose clock jumped refuses tokens dated by the old one: read
    // its clock again and ask once more, within the same call's deadline.
    const bool refused = reply.subcode.size() >= 13 &&
                         reply.subcode.compare(reply.subcode.size() - 13, 13, "NotAuthorized") == 0;
    if (!refused || user.empty() || m_strClockUrl.empty() || m_bClockRetried) return reply;
    m_bClockRetried = true;
    const auto failure = m_callOutcome;
    if (!ReadCameraClock(m_strClockUrl)) {
        m_callOutcome = failure;  // the refusal is what the host should see
        return reply;
    }
    return Send(url, action, body, user, password);
}

namespace {

// The Profiles elements of a GetProfiles answer; ptz finds a profile's PTZ
// configuration element, source its video source configuration.
template <typename FindPtz, typename FindSource>
void ReadProfiles(const SoapReply& reply, std::vector<MediaProfile>& profiles, FindPtz ptz, FindSource source)
{
    for (pugi::xml_node profile : reply.body.children()) {
        if (std::string(LocalName(profile)) != "Profiles") continue;
        MediaProfile read;
        read.token = profile.attribute("token").value();
        if (read.token.empty()) continue;
        const pugi::xml_node configuration = ptz(profile);
        read.hasPtz = static_cast<bool>(configuration);
        read.ptzConfiguration = configuration.attribute("token").value();
        read.videoSource = Child(source(profile), "SourceToken").child_value();
        profiles.push_back(std::move(read));
    }
}

}  // namespace

bool Onvif_media_get_profile_list(COnvifConnection& connection, const std::string& mediaUrl,
                                  const std::string& user, const std::string& password,
                                  std::vector<MediaProfile>& profiles)
{
    profiles.clear();
    const SoapReply reply =
        connection.Call(mediaUrl, Action(kNsMedia, "GetProfiles"), "<trt:GetProfiles/>", user, password);
    if (!reply.ok) return false;
    ReadProfiles(
        reply, profiles, [](pugi::xml_node profile) { return Child(profile, "PTZConfiguration"); },
        [](pugi::xml_node profile) { return Child(profile, "VideoSourceConfiguration"); });
    return true;
}

bool Onvif_media2_get_profiles(COnvifConnection& connection, const std::string& media2Url, const std::string& user,
                               const std::string& password, std::vector<MediaProfile>& profiles)
{
    profiles.clear();
    SoapReply reply = connection.Call(media2Url, Action(kNsMedia2, "GetProfiles"),
                                      "<tr2:GetProfiles><tr2:Type>All</tr2:Type></tr2:GetProfiles>", user, password);
    // Some servers refuse Type All with a fault; without a Type every
    // profile comes with every configuration it has.
    if (!reply.ok)
        reply = connection.Call(media2Url, Action(kNsMedia2, "GetProfiles"), "<tr2:GetProfiles/>", user, password);
    if (!reply.ok) return false;
    ReadProfiles(
        reply, profiles, [](pugi::xml_node profile) { return Child(Child(profile, "Configurations"), "PTZ"); },
        [](pugi::xml_node profile) { return Child(Child(profile, "Configurations"), "VideoSource"); });
    return true;
}

void Onvif_media_get_profiles(COnvifConnection& connection, const std::string& mediaUrl, const std::string& user,
                              const std::string& password, std::vector<std::string>& profiles)
{
    profiles.clear();
    std::vector<MediaProfile> list;
    Onvif_media_get_profile_list(connection, mediaUrl, user, password, list);
    std::vector<std::string> withoutPtz;
    for (const MediaProfile& profile : list)
        (profile.hasPtz ? profiles : withoutPtz).push_back(profile.token);
    profiles.insert(profiles.end(), withoutPtz.begin(), withoutPtz.end());
}

int Onvif_ptz_getConfigurations(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                                const std::string& password, const std::string&, std::string& configToken)
{
    const SoapReply reply =
        connection.Call(ptzUrl, Action(kNsPtz, "GetConfigurations"), "<tptz:GetConfigurations/>", user, password);
    if (!reply.ok) return kOnvifFailed;
    configToken = Child(reply.body, "PTZConfiguration").attribute("token").value();
    return configToken.empty() ? kOnvifFailed : kOnvifOk;
}

int Onvif_ptz_getConfigurationOptions(COnvifConnection& connection, const std::string& ptzUrl,
                                      const std::string& user, const std::string& password, const std::string&,
                                      const std::string& configToken, VelocitySpaces* spaces)
{
    const SoapReply reply = connection.Call(
        ptzUrl, Action(kNsPtz, "GetConfigurationOptions"),
        Element("tptz", "GetConfigurationOptions", Element("tptz", "ConfigurationToken", XmlEscape(configToken))),
        user, password);
    const pugi::xml_node options = Child(reply.body, "PTZConfigurationOptions");
    if (!reply.ok || !options) return kOnvifFailed;
    if (spaces) {
        *spaces = {};
        const pugi::xml_node list = Child(options, "Spaces");
        if (const pugi::xml_node panTilt = Child(list, "ContinuousPanTiltVelocitySpace")) {
            spaces->pan = RangeOf(Child(panTilt, "XRange"));
            spaces->tilt = RangeOf(Child(panTilt, "YRange"));
            if (!spaces->pan.IsGeneric() || !spaces->tilt.IsGeneric())
                spaces->panTiltSpace = Child(panTilt, "URI").child_value();
        }
        if (const pugi::xml_node zoom = Child(list, "ContinuousZoomVelocitySpace")) {
            spaces->zoom = RangeOf(Child(zoom, "XRange"));
            if (!spaces->zoom.IsGeneric()) spaces->zoomSpace = Child(zoom, "URI").child_value();
        }
    }
    return kOnvifOk;
}

int Onvif_ptz_getStatus(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, PtzStatus& status)
{
    status = {};
    const SoapReply reply = connection.Call(ptzUrl, Action(kNsPtz, "GetStatus"),
                                            Element("tptz", "GetStatus", ProfileToken(profile)), user, password);
    const pugi::xml_node ptz = Child(reply.body, "PTZStatus");
    if (!reply.ok || !ptz) return kOnvifFailed;
    const pugi::xml_node position = Child(ptz, "Position");
    const pugi::xml_node panTilt = Child(position, "PanTilt");
    const auto pan = NumberOf(panTilt.attribute("x").value());
    const auto tilt = NumberOf(panTilt.attribute("y").value());
    if (pan && tilt) {
        status.hasPanTilt = true;
        status.pan = *pan;
        status.tilt = *tilt;
    }
    if (const auto zoom = NumberOf(Child(position, "Zoom").attribute("x").value())) {
        status.hasZoom = true;
        status.zoom = *zoom;
    }
    // Older cameras answer one word for both axes.
    const pugi::xml_node moveStatus = Child(ptz, "MoveStatus");
    const auto isMoving = [](pugi::xml_node node) { return std::string_view(node.child_value()).find("MOVING") != std::string_view::npos; };
    status.moving = isMoving(Child(moveStatus, "PanTilt")) || isMoving(Child(moveStatus, "Zoom")) || isMoving(moveStatus);
    return status.hasPanTilt || status.hasZoom ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_gotoHome(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                       const std::string& password, const std::string& profile, float pan, float tilt, float zoom)
{
    const std::string speed = "<tt:PanTilt x=\"" + XmlNumber(pan) + "\" y=\"" + XmlNumber(tilt) +
                              "\"/><tt:Zoom x=\"" + XmlNumber(zoom) + "\"/>";
    const SoapReply reply = connection.Call(
        ptzUrl, Action(kNsPtz, "GotoHomePosition"),
        Element("tptz", "GotoHomePosition", ProfileToken(profile) + Element("tptz", "Speed", speed)), user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_setHome(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                      const std::string& password, const std::string& profile)
{
    const SoapReply reply = connection.Call(ptzUrl, Action(kNsPtz, "SetHomePosition"),
                                            Element("tptz", "SetHomePosition", ProfileToken(profile)), user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_getPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, std::map<int, std::string>& presets)
{
    const SoapReply reply = connection.Call(ptzUrl, Action(kNsPtz, "GetPresets"),
                                            Element("tptz", "GetPresets", ProfileToken(profile)), user, password);
    if (!reply.ok) return kOnvifFailed;
    presets.clear();
    for (pugi::xml_node preset : reply.body.children()) {
        if (std::string(LocalName(preset)) != "Preset") continue;
        const std::string token = preset.attribute("token").value();
        const auto number = PresetNumberFromName(Child(preset, "Name").child_value());
        if (number && !token.empty()) presets[*number] = token;
    }
    return kOnvifOk;
}

int Onvif_ptz_continuousMove(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                             const std::string& password, const std::string& profile, float pan, float tilt,
                             float zoom, const VelocitySpaces* spaces, std::chrono::milliseconds timeout)
{
    const VelocitySpaces generic;
    if (!spaces) spaces = &generic;
    const std::string velocity = "<tt:PanTilt x=\"" + XmlNumber(spaces->pan.Scale(pan)) + "\" y=\"" +
                                 XmlNumber(spaces->tilt.Scale(tilt)) + "\"" + SpaceAttribute(spaces->panTiltSpace) +
                                 "/><tt:Zoom x=\"" + XmlNumber(spaces->zoom.Scale(zoom)) + "\"" +
                                 SpaceAttribute(spaces->zoomSpace) + "/>";
    const SoapReply reply = connection.Call(
        ptzUrl, Action(kNsPtz, "ContinuousMove"),
        Element("tptz", "ContinuousMove",
                ProfileToken(profile) + Element("tptz", "Velocity", velocity) +
                    (timeout.count() > 0 ? Element("tptz", "Timeout", DurationText(timeout)) : std::string())),
        user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_cameraStop(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                         const std::string& password, const std::string& profile, bool panTilt, bool zoom)
{
    const std::string body = Element("tptz", "Stop",
                                     ProfileToken(profile) + Element("tptz", "PanTilt", panTilt ? "true" : "false") +
                                         Element("tptz", "Zoom", zoom ? "true" : "false"));
    return connection.Call(ptzUrl, Action(kNsPtz, "Stop"), body, user, password).ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_setPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                        const std::string& password, const std::string& profile, const std::string& name,
                        std::string& token)
{
    const std::string update = token.empty() ? std::string() : Element("tptz", "PresetToken", XmlEscape(token));
    const SoapReply reply = connection.Call(
        ptzUrl, Action(kNsPtz, "SetPreset"),
        Element("tptz", "SetPreset",
                ProfileToken(profile) + Element("tptz", "PresetName", XmlEscape(name)) + update),
        user, password);
    const std::string answered = reply.ok ? Child(reply.body, "PresetToken").child_value() : "";
    // An update answered without a token keeps the one it named.
    token = !reply.ok ? "" : answered.empty() ? token : answered;
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_removePreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                           const std::string& password, const std::string& profile, const std::string& token)
{
    const SoapReply reply = connection.Call(
        ptzUrl, Action(kNsPtz, "RemovePreset"),
        Element("tptz", "RemovePreset", ProfileToken(profile) + Element("tptz", "PresetToken", XmlEscape(token))),
        user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_ptz_gotoPreset(COnvifConnection& connection, const std::string& ptzUrl, const std::string& user,
                         const std::string& password, const std::string& profile, const std::string& token,
                         float pan, float tilt, float zoom)
{
    const std::string speed = "<tt:PanTilt x=\"" + XmlNumber(pan) + "\" y=\"" + XmlNumber(tilt) +
                              "\"/><tt:Zoom x=\"" + XmlNumber(zoom) + "\"/>";
    const SoapReply reply = connection.Call(ptzUrl, Action(kNsPtz, "GotoPreset"),
                                            Element("tptz", "GotoPreset",
                                                    ProfileToken(profile) +
                                                        Element("tptz", "PresetToken", XmlEscape(token)) +
                                                        Element("tptz", "Speed", speed)),
                                            user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_imaging_focusMove(COnvifConnection& connection, const std::string& imagingUrl, const std::string& user,
                            const std::string& password, const std::string& videoSource, float speed)
{
    const std::string focus = Element("timg", "Focus", Element("tt", "Continuous", Element("tt", "Speed", XmlNumber(speed))));
    const SoapReply reply = connection.Call(
        imagingUrl, Action(kNsImaging, "Move"),
        Element("timg", "Move", Element("timg", "VideoSourceToken", XmlEscape(videoSource)) + focus), user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

int Onvif_imaging_stop(COnvifConnection& connection, const std::string& imagingUrl, const std::string& user,
                       const std::string& password, const std::string& videoSource)
{
    const SoapReply reply = connection.Call(
        imagingUrl, Action(kNsImaging, "Stop"),
        Element("timg", "Stop", Element("timg", "VideoSourceToken", XmlEscape(videoSource))), user, password);
    return reply.ok ? kOnvifOk : kOnvifFailed;
}

std::string DurationText(std::chrono::milliseconds duration)
{
    const auto ms = duration.count();
    std::string text = "PT" + std::to_string(ms / 1000);
    if (ms % 1000) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text + "S";
}

std::string ServiceUrlOnDevice(const std::string& deviceUrl, const std::string& xaddr)
{
    const std::size_t deviceScheme = deviceUrl.find("://");
    if (deviceScheme == std::string::npos) return {};
    const std::string origin = deviceUrl.substr(0, deviceUrl.find('/', deviceScheme + 3));
    // Some cameras list several addresses, separated by blanks: the first.
    const std::size_t first = xaddr.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    std::string address = xaddr.substr(first, xaddr.find_first_of(" \t\r\n", first) - first);
    address = address.substr(0, address.find('#'));
    const std::size_t scheme = address.find("://");
    const std::size_t path = scheme == std::string::npos ? (address.rfind('/', 0) == 0 ? 0 : std::string::npos)
                                                         : address.find_first_of("/?", scheme + 3);
    if (path == std::string::npos) return {};
    const std::string rest = address.substr(path);
    for (const char c : rest)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return {};
    return origin + (rest[0] == '?' ? "/" : "") + rest;
}

float VelocityRange::Scale(float velocity) const
{
    if (IsGeneric() || !(min < 0.0f && max > 0.0f)) return velocity;
    return velocity >= 0.0f ? velocity * max : -velocity * min;
}

std::optional<int> PresetNumberFromName(const std::string& name)
{
    if (name.empty() || name.size() > 3 || name[0] == '0') return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc() || end != name.data() + name.size() || number < 1 || number > 256) return std::nullopt;
    return number;
}

std::string XmlNumber(float value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

}  // namespace korvane::onvif
