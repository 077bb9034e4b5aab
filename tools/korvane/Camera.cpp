#include "Camera.h"

#include "report/ReturnCodes.h"

#include <chrono>
#include <ctime>
#include <mutex>

namespace korvane::tool {

// In raw mode a line end must carry its own carriage return.
void COutput::Line(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_status.empty()) {
        std::fprintf(m_stream, "%s\n", text.c_str());
    } else {
        std::fprintf(m_stream, "\r\033[K%s\r\n%s", text.c_str(), m_status.c_str());
    }
    std::fflush(m_stream);
}

void COutput::SetStatus(const std::string& status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    std::fprintf(m_stream, "\r\033[K%s", m_status.c_str());
    std::fflush(m_stream);
}

void COutput::EndStatus()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_status.empty()) std::fprintf(m_stream, "\r\n");
    m_status.clear();
    std::fflush(m_stream);
}

std::string EventName(unsigned int message)
{
    static const char* const kNames[] = {"target appears", "target disappears", "close-up ready",
                                         "multiple targets", "down podium",       "up podium",
                                         "writing starts",  "writing stops"};
    for (const ReturnCode& row : kReturnCodes)
        if (row.message == message) return kNames[message - kReturnCodes[0].message];
    char text[32];
    std::snprintf(text, sizeof text, "message 0x%04x", message);
    return text;
}

std::string ClockTime()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    {
        // std::localtime shares one buffer; reports come on several threads.
        static std::mutex mutex;
        std::lock_guard<std::mutex> lock(mutex);
        local = *std::localtime(&seconds);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string Hex(const unsigned char* data, int length)
{
    std::string text;
    char two[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, i ? " %02x" : "%02x", data[i]);
        text += two;
    }
    return text;
}

CCameraLink::CCameraLink(const CameraOptions& options, COutput& output, ReportMode reports, ReportHook hook)
    : m_options(options), m_output(output), m_hook(std::move(hook)), m_pCamera(std::make_unique<CKorvane>(options.mode))
{
    CKorvane& cam = *m_pCamera;
    cam.SetDeviceAddress(options.address);
    cam.SetHorizonSpeed(options.panSpeed);
    cam.SetVertcalSpeed(options.tiltSpeed);
    switch (options.mode) {
    case MODE_SERIAL: {
        MYDCB dcb{options.baud, static_cast<std::uint8_t>(options.dataBits), static_cast<std::uint8_t>(options.protocol)};
        if (!cam.SetCommDevice(options.target.c_str(), dcb))
            throw RunError("cannot open serial device " + options.target +
                           ": missing, busy (another program has it), not yours to open (the dialout group), "
                           "not a serial device, or " +
                           std::to_string(options.baud) + " baud is not supported");
        break;
    }
    case MODE_NETWORK: {
        cam.SetDeviceType(options.deviceType);
        cam.SetOnvifProfile(options.profile.c_str());
        cam.SetTlsFingerprint(options.tlsFingerprint.c_str());
        const unsigned port = options.port.value_or(options.deviceType == DEVICE_ONVIF ? 80 : 0);
        cam.SetSocketParam(options.protocol, options.target.c_str(), port, options.value4, options.user.c_str(),
                           options.password.c_str(), options.text7.c_str());
        break;
    }
    case MODE_TRACKSYSTEM:
        if (!options.port) throw UsageError("--tracking needs --port: the tracking system's UDP port");
        cam.SetSystemType(options.systemType);
        cam.SetSystemParam(options.protocol, options.target.c_str(), *options.port);
        break;
    }
    const bool onvif = options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF;
    if (reports == ReportMode::On && !onvif) {
        cam.SetRecvNotify(&CCameraLink::OnReport, this);
        output.Line(options.mode == MODE_SERIAL
                        ? "reports on: opening sends go to preset 88 and 100, the tracker's report switch"
                        : "reports on");
    }
    if (cam.Open() == 1) return;
    m_pCamera.reset();
    switch (options.mode) {
    case MODE_SERIAL: throw RunError("cannot open the camera on " + options.target);
    case MODE_NETWORK:
        if (options.deviceType == DEVICE_ONVIF)
            throw RunError("the ONVIF camera at " + OnvifOrigin(options) +
                           " did not open: unreachable, wrong --user/--password, it has no PTZ" +
                           (options.profile.empty() ? "" : " or no profile " + options.profile) +
                           (OnvifOrigin(options).rfind("https", 0) == 0
                                ? ", or its certificate is not trusted (--tls-fingerprint pins a camera's own)"
                                : "") +
                           " (KORVANE_DEBUG=1 shows each request)");
        throw RunError("the relay service on 127.0.0.1:20715 did not accept the camera: not running, or it refused");
    case MODE_TRACKSYSTEM:
        throw RunError("cannot take local UDP port 10000 for the tracking system: another program holds it");
    }
}

CCameraLink::~CCameraLink()
{
    if (m_pCamera) m_pCamera->Close();
}

int CCameraLink::Reports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nReports;
}

void CCameraLink::OnReport(const unsigned char* data, int length, unsigned int message, void* context)
{
    auto* self = static_cast<CCameraLink*>(context);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        ++self->m_nReports;
    }
    self->m_output.Line(ClockTime() + "  " + self->m_options.Describe() + "  " + EventName(message) + "  " +
                        Hex(data, length));
    if (self->m_hook) self->m_hook(data, length, message);
}

}  // namespace korvane::tool
