// The simulated camera's Imaging service: the focus of its one video source,
// moved continuously and stopped, as a camera with a motorised lens does.
#include "sim/OnvifServices.h"

#include <algorithm>
#include <charconv>

namespace korvane::sim {

using onvif::Child;

namespace {

constexpr const char* kSource = "VideoSource_1";

std::string Text(float value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

}  // namespace

float FocusMotion::Now() const
{
    const float seconds = std::chrono::duration<float>(Motion::Clock::now() - since).count();
    return std::clamp(from + speed * seconds, 0.0f, 1.0f);
}

void FocusMotion::Set(float newSpeed)
{
    from = Now();
    speed = newSpeed;
    since = Motion::Clock::now();
}

void COnvifServices::AddImaging()
{
    // Every Imaging request names the video source; another is refused.
    const auto onSource = [this](const std::string& operation, Handler handler) {
        m_handlers[{"imaging", operation}] = [handler = std::move(handler)](OnvifRequest& record, pugi::xml_node node,
                                                                            int& status) {
            record.values["source"] = Child(node, "VideoSourceToken").child_value();
            if (record.values["source"] != kSource) {
                status = 400;
                return Fault("Sender", "ter:InvalidArgVal", "No such video source");
            }
            return handler(record, node, status);
        };
    };
    onSource("GetImagingSettings", [](OnvifRequest&, pugi::xml_node, int&) {
        return Answer("<img:GetImagingSettingsResponse><img:ImagingSettings><sch:Focus><sch:AutoFocusMode>MANUAL"
                       "</sch:AutoFocusMode></sch:Focus></img:ImagingSettings></img:GetImagingSettingsResponse>");
    });
    onSource("GetMoveOptions", [](OnvifRequest&, pugi::xml_node, int&) {
        return Answer("<img:GetMoveOptionsResponse><img:MoveOptions><sch:Continuous><sch:Speed><sch:Min>-1</sch:Min>"
                       "<sch:Max>1</sch:Max></sch:Speed></sch:Continuous></img:MoveOptions></img:GetMoveOptionsResponse>");
    });
    onSource("Move", [this](OnvifRequest& record, pugi::xml_node operation, int& status) {
        const pugi::xml_node continuous = Child(Child(operation, "Focus"), "Continuous");
        const std::string text = Child(continuous, "Speed").child_value();
        record.values["focus"] = text;
        float speed = 0.0f;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), speed);
        if (!continuous || text.empty() || error != std::errc() || end != text.data() + text.size() || speed < -1.0f ||
            speed > 1.0f) {
            status = 400;
            return Fault("Sender", "ter:InvalidArgVal", "Only a continuous focus move from -1 to 1 is supported");
        }
        state.focus.Set(speed);
        return Answer("<img:MoveResponse/>");
    });
    onSource("Stop", [this](OnvifRequest&, pugi::xml_node, int&) {
        state.focus.Set(0.0f);
        return Answer("<img:StopResponse/>");
    });
    onSource("GetStatus", [this](OnvifRequest&, pugi::xml_node, int&) {
        return Answer("<img:GetStatusResponse><img:Status><sch:FocusStatus20><sch:Position>" + Text(state.focus.Now()) +
                       "</sch:Position><sch:MoveStatus>" + (state.focus.speed != 0.0f ? "MOVING" : "IDLE") +
                       "</sch:MoveStatus></sch:FocusStatus20></img:Status></img:GetStatusResponse>");
    });
}

}  // namespace korvane::sim
