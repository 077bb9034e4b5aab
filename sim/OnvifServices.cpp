#include "sim/OnvifServices.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace korvane::sim {

using onvif::Child;

std::string Answer(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"" + std::string(onvif::kNsSoap) +
           "\" xmlns:dev=\"" + onvif::kNsDevice + "\" xmlns:med=\"" + onvif::kNsMedia + "\" xmlns:ptz=\"" +
           onvif::kNsPtz + "\" xmlns:img=\"" + onvif::kNsImaging + "\" xmlns:sch=\"" + onvif::kNsSchema +
           "\" xmlns:ter=\"http://www.onvif.org/ver10/error\"><env:Body>" + body + "</env:Body></env:Envelope>";
}

std::string Fault(const char* code, const char* subcode, const char* reason, const char* detail)
{
    const std::string inner =
        detail ? std::string("<env:Subcode><env:Value>") + detail + "</env:Value></env:Subcode>" : std::string();
    return Answer(std::string("<env:Fault><env:Code><env:Value>env:") + code + "</env:Value><env:Subcode><env:Value>" +
                  subcode + "</env:Value>" + inner + "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" +
                  reason + "</env:Text></env:Reason></env:Fault>");
}

namespace {

std::string Velocity(pugi::xml_node parent, const char* axis, const char* attribute)
{
    return Child(parent, axis).attribute(attribute).value();
}

std::string Number(float value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

float FloatOf(const std::string& text)
{
    float value = 0.0f;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

// An xs:duration as a move's Timeout carries it: "PT1.5S", "PT2M", "PT1H0M3S".
std::optional<std::chrono::milliseconds> ParseDuration(const std::string& text)
{
    if (text.rfind("PT", 0) != 0 || text.size() < 4) return std::nullopt;
    double total = 0.0;
    std::size_t at = 2;
    while (at < text.size()) {
        double value = 0.0;
        const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
        if (error != std::errc() || end == text.data() + text.size()) return std::nullopt;
        const char unit = *end;
        total += value * (unit == 'H' ? 3600.0 : unit == 'M' ? 60.0 : unit == 'S' ? 1.0 : -1e12);
        if (total < 0) return std::nullopt;
        at = static_cast<std::size_t>(end - text.data()) + 1;
    }
    return std::chrono::milliseconds(static_cast<long long>(total * 1000.0 + 0.5));
}


Place Motion::Now() const
{
    const Clock::time_point now = until ? std::min(Clock::now(), *until) : Clock::now();
    const float seconds = std::chrono::duration<float>(now - since).count();
    Place at;
    for (int axis = 0; axis < 3; ++axis)
        at[axis] = std::clamp(from[axis] + velocity[axis] * seconds, axis == 2 ? 0.0f : -1.0f, 1.0f);
    return at;
}

void Motion::Set(const Place& place, const Place& speed, std::optional<std::chrono::milliseconds> timeout)
{
    from = place;
    velocity = speed;
    since = Clock::now();
    until.reset();
    if (timeout) until = since + *timeout;
}

COnvifServices::COnvifServices(const OnvifCameraOptions& options, std::function<std::string(const char*)> serviceUrl,
                               std::function<onvif::UtcSeconds()> now)
    : m_options(options), m_serviceUrl(std::move(serviceUrl)), m_now(std::move(now))
{
    AddDevice();
    AddMedia();
    AddPtz();
    if (m_options.imaging) AddImaging();
}

std::string COnvifServices::Host() const
{
    std::string host = m_serviceUrl("device_service");
    host = host.substr(host.find("://") + 3);
    host = host.substr(0, host.find('/'));
    // "[::1]:80" keeps its brackets; "127.0.0.1:80" loses its port.
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']') == std::string::npos) host.resize(colon);
    if (colon != std::string::npos && host.find(']') != std::string::npos && colon > host.find(']')) host.resize(colon);
    return host;
}

std::string COnvifServices::Dispatch(OnvifRequest& record, pugi::xml_node operation, int& status)
{
    record.values["profile"] = Child(operation, "ProfileToken").child_value();
    // "/onvif/ptz_service" -> "ptz"
    std::string service = record.path.substr(0, record.path.find('?'));
    service = service.substr(service.rfind('/') + 1);
    if (service.size() > 8 && service.compare(service.size() - 8, 8, "_service") == 0) service.resize(service.size() - 8);
    const auto found = m_handlers.find({service, record.operation});
    if (found != m_handlers.end()) return found->second(record, operation, status);
    status = 400;
    return Fault("Sender", "ter:ActionNotSupported", "Not supported by this camera");
}

void COnvifServices::AddOnProfile(const std::string& operation, Handler handler)
{
    m_handlers[{"ptz", operation}] = [handler = std::move(handler)](OnvifRequest& record, pugi::xml_node node,
                                                                    int& status) {
        const std::string& profile = record.values["profile"];
        if (profile != "Profile_1" && profile != "Profile_2") {
            status = 400;
            return Fault("Sender", "ter:NoProfile", "No such profile, or it has no PTZ configuration");
        }
        return handler(record, node, status);
    };
}

void COnvifServices::AddDevice()
{
    m_handlers[{"device", "GetSystemDateAndTime"}] = [this](OnvifRequest&, pugi::xml_node, int&) {
        const std::string now = onvif::FormatUtc(m_now());
        int y, mo, d, h, mi, s;
        std::sscanf(now.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s);
        std::vector<std::string> fields = {std::to_string(y), std::to_string(mo), std::to_string(d),
                                           std::to_string(h), std::to_string(mi), std::to_string(s)};
        if (m_options.claimedDate.size() == fields.size()) fields = m_options.claimedDate;
        std::ostringstream out;
        out << "<dev:GetSystemDateAndTimeResponse><dev:SystemDateAndTime><sch:DateTimeType>NTP</sch:DateTimeType>"
            << "<sch:UTCDateTime><sch:Time><sch:Hour>" << fields[3] << "</sch:Hour><sch:Minute>" << fields[4]
            << "</sch:Minute><sch:Second>" << fields[5] << "</sch:Second></sch:Time><sch:Date><sch:Year>"
            << fields[0] << "</sch:Year><sch:Month>" << fields[1] << "</sch:Month><sch:Day>" << fields[2]
            << "</sch:Day></sch:Date></sch:UTCDateTime></dev:SystemDateAndTime></dev:GetSystemDateAndTimeResponse>";
        return Answer(out.str());
    };
    if (m_options.answerGetCapabilities)
        m_handlers[{"device", "GetCapabilities"}] = [this](OnvifRequest&, pugi::xml_node, int&) {
            return Answer("<dev:GetCapabilitiesResponse><dev:Capabilities><sch:Device><sch:XAddr>" +
                          m_serviceUrl("device_service") + "</sch:XAddr></sch:Device>" +
                          (m_options.media1
                               ? "<sch:Media><sch:XAddr>" + m_serviceUrl("media_service") + "</sch:XAddr></sch:Media>"
                               : std::string()) +
                          (m_options.imaging ? "<sch:Imaging><sch:XAddr>" + m_serviceUrl("imaging_service") +
                                                   "</sch:XAddr></sch:Imaging>"
                                             : std::string()) +
                          "<sch:PTZ><sch:XAddr>" + m_serviceUrl("ptz_service") +
                          "</sch:XAddr></sch:PTZ></dev:Capabilities></dev:GetCapabilitiesResponse>");
        };
    m_handlers[{"device", "GetServices"}] = [this](OnvifRequest& record, pugi::xml_node operation, int&) {
        // Generic clients ask with IncludeCapability true and read each
        // service's Capabilities element and version.
        record.values["capability"] = Child(operation, "IncludeCapability").child_value();
        const bool capabilities = record.values["capability"] == "true" || record.values["capability"] == "1";
        struct Listed {
            const char* ns;
            const char* path;
            std::string capability;
        };
        std::vector<Listed> listed = {
            {onvif::kNsDevice, "device_service", "<dev:Capabilities><dev:Network/><dev:Security/><dev:System/></dev:Capabilities>"},
            {m_options.media1 ? onvif::kNsMedia : onvif::kNsMedia2, m_options.media1 ? "media_service" : "media2_service",
             "<med:Capabilities SnapshotUri=\"true\"><med:ProfileCapabilities MaximumNumberOfProfiles=\"3\"/>"
             "<med:StreamingCapabilities RTP_RTSP_TCP=\"true\"/></med:Capabilities>"},
            {onvif::kNsPtz, "ptz_service", "<ptz:Capabilities MoveStatus=\"true\" StatusPosition=\"true\"/>"}};
        if (m_options.imaging)
            listed.push_back({onvif::kNsImaging, "imaging_service", "<img:Capabilities ImageStabilization=\"false\"/>"});
        std::string out = "<dev:GetServicesResponse>";
        for (const Listed& service : listed)
            out += std::string("<dev:Service><dev:Namespace>") + service.ns + "</dev:Namespace><dev:XAddr>" +
                   m_serviceUrl(service.path) + "</dev:XAddr>" +
                   (capabilities ? "<dev:Capabilities>" + service.capability + "</dev:Capabilities>" : std::string()) +
                   "<dev:Version><sch:Major>2</sch:Major><sch:Minor>60</sch:Minor></dev:Version></dev:Service>";
        return Answer(out + "</dev:GetServicesResponse>");
    };
}

void COnvifServices::AddMedia()
{
    m_handlers[{"media2", "GetProfiles"}] = [this](OnvifRequest& record, pugi::xml_node operation, int& status) {
        record.values["type"] = Child(operation, "Type").child_value();
        if (m_options.faultTypeAll && record.values["type"] == "All") {
            status = 400;
            return Fault("Sender", "ter:InvalidArgVal", "Type All is not supported");
        }
        return Answer("<tr2:GetProfilesResponse xmlns:tr2=\"" + std::string(onvif::kNsMedia2) +
                      "\"><tr2:Profiles token=\"Profile_Sub\" fixed=\"true\"><tr2:Name>sub</tr2:Name>"
                      "<tr2:Configurations/></tr2:Profiles><tr2:Profiles token=\"Profile_1\" fixed=\"true\">"
                      "<tr2:Name>main</tr2:Name><tr2:Configurations><tr2:VideoSource token=\"VideoSourceConfig_1\">"
                      "<sch:Name>video</sch:Name><sch:SourceToken>VideoSource_1</sch:SourceToken></tr2:VideoSource>"
                      "<tr2:PTZ token=\"PTZConfig_1\"><sch:Name>ptz"
                      "</sch:Name></tr2:PTZ></tr2:Configurations></tr2:Profiles></tr2:GetProfilesResponse>");
    };
    m_handlers[{"media", "GetProfiles"}] = [](OnvifRequest&, pugi::xml_node, int&) {
        // Every profile reads the one video source; the profile without PTZ
        // comes first: the client must pick the next.
        const std::string video = "<sch:VideoSourceConfiguration token=\"VideoSourceConfig_1\"><sch:Name>video"
                                  "</sch:Name><sch:UseCount>3</sch:UseCount><sch:SourceToken>VideoSource_1"
                                  "</sch:SourceToken><sch:Bounds x=\"0\" y=\"0\" width=\"1920\" height=\"1080\"/>"
                                  "</sch:VideoSourceConfiguration>";
        // Generic clients (the npm onvif one among them) read the encoder of a profile as a stream's.
        const std::string encoder =
            "<sch:VideoEncoderConfiguration token=\"VideoEncoderConfig_1\"><sch:Name>h264</sch:Name>"
            "<sch:UseCount>3</sch:UseCount><sch:Encoding>H264</sch:Encoding><sch:Resolution><sch:Width>1920"
            "</sch:Width><sch:Height>1080</sch:Height></sch:Resolution><sch:Quality>5</sch:Quality><sch:RateControl>"
            "<sch:FrameRateLimit>30</sch:FrameRateLimit><sch:EncodingInterval>1</sch:EncodingInterval>"
            "<sch:BitrateLimit>4096</sch:BitrateLimit></sch:RateControl><sch:H264><sch:GovLength>30</sch:GovLength>"
            "<sch:H264Profile>Main</sch:H264Profile></sch:H264><sch:Multicast><sch:Address><sch:Type>IPv4</sch:Type>"
            "<sch:IPv4Address>0.0.0.0</sch:IPv4Address></sch:Address><sch:Port>0</sch:Port><sch:TTL>1</sch:TTL>"
            "<sch:AutoStart>false</sch:AutoStart></sch:Multicast><sch:SessionTimeout>PT60S</sch:SessionTimeout>"
            "</sch:VideoEncoderConfiguration>";
        const std::string ptz = "<sch:PTZConfiguration token=\"PTZConfig_1\"><sch:Name>ptz</sch:Name>"
                                "</sch:PTZConfiguration>";
        return Answer("<med:GetProfilesResponse><med:Profiles token=\"Profile_Sub\" fixed=\"true\"><sch:Name>sub"
                      "</sch:Name>" + video + encoder + "</med:Profiles><med:Profiles token=\"Profile_1\" fixed=\"true\">"
                      "<sch:Name>main</sch:Name>" + video + encoder + ptz + "</med:Profiles><med:Profiles token=\"Profile_2\""
                      " fixed=\"true\"><sch:Name>second</sch:Name>" + video + encoder + ptz +
                      "</med:Profiles></med:GetProfilesResponse>");
    };
    m_handlers[{"media", "GetVideoSources"}] = [](OnvifRequest&, pugi::xml_node, int&) {
        return Answer("<med:GetVideoSourcesResponse><med:VideoSources token=\"VideoSource_1\"><sch:Framerate>30"
                      "</sch:Framerate><sch:Resolution><sch:Width>1920</sch:Width><sch:Height>1080</sch:Height>"
                      "</sch:Resolution></med:VideoSources></med:GetVideoSourcesResponse>");
    };
    // Placeholder addresses on the camera's own host: nothing streams.
    for (const std::string op : {"GetStreamUri", "GetSnapshotUri"}) {
        m_handlers[{"media", op}] = [this, op](OnvifRequest& record, pugi::xml_node, int& status) {
            const std::string& profile = record.values["profile"];
            if (profile != "Profile_Sub" && profile != "Profile_1" && profile != "Profile_2") {
                status = 400;
                return Fault("Sender", "ter:NoProfile", "No such profile");
            }
            const std::string uri = op == "GetStreamUri" ? "rtsp://" + Host() + ":554/" + profile
                                                         : "http://" + Host() + "/snapshot/" + profile + ".jpg";
            return Answer("<med:" + op + "Response><med:MediaUri><sch:Uri>" + uri + "</sch:Uri><sch:InvalidAfterConnect>"
                          "false</sch:InvalidAfterConnect><sch:InvalidAfterReboot>false</sch:InvalidAfterReboot>"
                          "<sch:Timeout>PT0S</sch:Timeout></med:MediaUri></med:" + op + "Response>");
        };
    }
}

void COnvifServices::AddPtz()
{
    m_handlers[{"ptz", "GetConfigurations"}] = [](OnvifRequest&, pugi::xml_node, int&) {
        return Answer("<ptz:GetConfigurationsResponse><ptz:PTZConfiguration token=\"PTZConfig_1\"><sch:Name>ptz"
                      "</sch:Name></ptz:PTZConfiguration></ptz:GetConfigurationsResponse>");
    };
    m_handlers[{"ptz", "GetConfigurationOptions"}] = [this](OnvifRequest& record, pugi::xml_node operation,
                                                            int& status) {
        record.values["configuration"] = Child(operation, "ConfigurationToken").child_value();
        if (record.values["configuration"] != "PTZConfig_1") {
            status = 400;
            return Fault("Sender", "ter:NoConfig", "No such configuration");
        }
        const bool generic = m_options.velocityRange == 1.0f;
        const std::string low = Number(-m_options.velocityRange), high = Number(m_options.velocityRange);
        const std::string range = "<sch:Min>" + low + "</sch:Min><sch:Max>" + high + "</sch:Max>";
        return Answer("<ptz:GetConfigurationOptionsResponse><ptz:PTZConfigurationOptions><sch:Spaces>"
                      "<sch:ContinuousPanTiltVelocitySpace><sch:URI>http://www.onvif.org/ver10/tptz/PanTiltSpaces/" +
                      std::string(generic ? "VelocityGenericSpace" : "VelocitySpaceDegrees") +
                      "</sch:URI><sch:XRange>" + range + "</sch:XRange><sch:YRange>" + range +
                      "</sch:YRange></sch:ContinuousPanTiltVelocitySpace><sch:ContinuousZoomVelocitySpace><sch:URI>"
                      "http://www.onvif.org/ver10/tptz/ZoomSpaces/" +
                      (generic ? "VelocityGenericSpace" : "VelocitySpaceMillimeter") + "</sch:URI><sch:XRange>" +
                      range + "</sch:XRange></sch:ContinuousZoomVelocitySpace></sch:Spaces>"
                      "</ptz:PTZConfigurationOptions></ptz:GetConfigurationOptionsResponse>");
    };
    AddOnProfile("GetPresets", [this](OnvifRequest&, pugi::xml_node, int&) {
        std::string list;
        for (const auto& [token, name] : state.presets)
            list += "<ptz:Preset token=\"" + token + "\"><sch:Name>" + name + "</sch:Name></ptz:Preset>";
        return Answer("<ptz:GetPresetsResponse>" + list + "</ptz:GetPresetsResponse>");
    });
    AddOnProfile("ContinuousMove", [this](OnvifRequest& record, pugi::xml_node operation, int& status) {
        Motion& motion = state.motion;
        const pugi::xml_node velocity = Child(operation, "Velocity");
        record.values["pan"] = Velocity(velocity, "PanTilt", "x");
        record.values["tilt"] = Velocity(velocity, "PanTilt", "y");
        record.values["zoom"] = Velocity(velocity, "Zoom", "x");
        record.values["space"] = Velocity(velocity, "PanTilt", "space");
        record.values["timeout"] = Child(operation, "Timeout").child_value();
        const auto timeout = ParseDuration(record.values["timeout"]);
        if (!record.values["timeout"].empty() && !timeout) {
            status = 400;
            return Fault("Sender", "ter:InvalidArgVal", "Timeout is no duration");
        }
        const float range = m_options.velocityRange;
        motion.Set(motion.Now(),
                   {FloatOf(record.values["pan"]) / range, FloatOf(record.values["tilt"]) / range,
                    FloatOf(record.values["zoom"]) / range},
                   timeout);
        return Answer("<ptz:ContinuousMoveResponse/>");
    });
    AddOnProfile("Stop", [this](OnvifRequest& record, pugi::xml_node operation, int&) {
        Motion& motion = state.motion;
        record.values["pantilt"] = Child(operation, "PanTilt").child_value();
        record.values["zoom"] = Child(operation, "Zoom").child_value();
        Place velocity = motion.velocity;
        if (record.values["pantilt"] != "false") velocity[0] = velocity[1] = 0.0f;
        if (record.values["zoom"] != "false") velocity[2] = 0.0f;
        const auto until = motion.until;
        motion.Set(motion.Now(), velocity);
        motion.until = until;  // what still moves keeps its timeout
        return Answer("<ptz:StopResponse/>");
    });
    AddOnProfile("GetStatus", [this](OnvifRequest&, pugi::xml_node, int&) {
        Motion& motion = state.motion;
        const Place at = motion.Now();
        const auto word = [](bool moving) { return moving ? "MOVING" : "IDLE"; };
        return Answer("<ptz:GetStatusResponse><ptz:PTZStatus><sch:Position><sch:PanTilt x=\"" + Number(at[0]) +
                      "\" y=\"" + Number(at[1]) + "\"/><sch:Zoom x=\"" + Number(at[2]) +
                      "\"/></sch:Position><sch:MoveStatus><sch:PanTilt>" +
                      word(motion.Moving(0) || motion.Moving(1)) + "</sch:PanTilt><sch:Zoom>" + word(motion.Moving(2)) +
                      "</sch:Zoom></sch:MoveStatus><sch:UtcTime>" + onvif::FormatUtc(m_now()) +
                      "</sch:UtcTime></ptz:PTZStatus></ptz:GetStatusResponse>");
    });
    AddOnProfile("GotoHomePosition", [this](OnvifRequest& record, pugi::xml_node operation, int&) {
        Motion& motion = state.motion;
        record.values["pan"] = Velocity(Child(operation, "Speed"), "PanTilt", "x");
        motion.Set(state.home, {0.0f, 0.0f, 0.0f});
        return Answer("<ptz:GotoHomePositionResponse/>");
    });
    AddOnProfile("SetHomePosition", [this](OnvifRequest&, pugi::xml_node, int&) {
        Motion& motion = state.motion;
        state.home = motion.Now();
        return Answer("<ptz:SetHomePositionResponse/>");
    });
    // A name is one preset: stored again, it is updated by its token, and a
    // new one of a name the camera has is refused, as cameras do.
    AddOnProfile("SetPreset", [this](OnvifRequest& record, pugi::xml_node operation, int& status) {
        Motion& motion = state.motion;
        const std::string name = Child(operation, "PresetName").child_value();
        record.values["name"] = name;
        std::string token = Child(operation, "PresetToken").child_value();
        record.values["update"] = token;
        const auto named = std::find_if(state.presets.begin(), state.presets.end(),
                                        [&](const auto& preset) { return preset.second == name; });
        if (!token.empty() && !state.presets.count(token)) {
            status = 400;
            return Fault("Sender", "ter:InvalidArgVal", "No such preset", "ter:NoToken");
        }
        if (token.empty() && named != state.presets.end()) {
            status = 400;
            return Fault("Sender", "ter:InvalidArgVal", "A preset of that name exists", "ter:PresetExist");
        }
        if (token.empty()) token = "Preset_" + std::to_string(state.nextPreset++);
        state.presets[token] = name;
        state.presetPlaces[token] = motion.Now();
        record.values["token"] = token;
        return Answer("<ptz:SetPresetResponse><ptz:PresetToken>" + token + "</ptz:PresetToken></ptz:SetPresetResponse>");
    });
    for (const std::string op : {"RemovePreset", "GotoPreset"}) {
        AddOnProfile(op, [this, op](OnvifRequest& record, pugi::xml_node operation, int& status) {
            Motion& motion = state.motion;
            const std::string token = Child(operation, "PresetToken").child_value();
            record.values["token"] = token;
            if (op == "GotoPreset") {
                const pugi::xml_node speed = Child(operation, "Speed");
                record.values["pan"] = Velocity(speed, "PanTilt", "x");
                record.values["tilt"] = Velocity(speed, "PanTilt", "y");
                record.values["zoom"] = Velocity(speed, "Zoom", "x");
            }
            if (!state.presets.count(token)) {
                status = 400;
                return Fault("Sender", "ter:NoToken", "No such preset");
            }
            if (op == "RemovePreset") state.presets.erase(token);
            if (op == "GotoPreset") motion.Set(state.presetPlaces[token], {0.0f, 0.0f, 0.0f});
            return Answer("<ptz:" + op + "Response/>");
        });
    }
}

}  // namespace korvane::sim
