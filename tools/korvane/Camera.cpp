#include "Camera.h"

#include "platform/Process.h"
#include "report/ReturnCodes.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

namespace korvane::tool {

// Shared with its thread, which may outlive the COutput when the reader is stuck.
struct COutput::Writer {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::size_t bytes = 0;  // queued
    Queued limit;
    std::uint64_t dropped = 0;  // since the last line that went out
    bool quit = false;
    bool done = false;

    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return quit || !lines.empty(); });
            if (lines.empty()) break;
            std::string batch;
            if (dropped)
                batch = "(" + std::to_string(dropped) + " lines dropped: nobody read the output)\n";
            dropped = 0;
            for (const std::string& line : lines) batch += line + "\n";
            lines.clear();
            bytes = 0;
            lock.unlock();
            platform::WriteStandardOutput(batch);  // a reader gone: the lines are lost, nothing more
            lock.lock();
        }
        done = true;
        changed.notify_all();
    }
};

COutput::COutput(Queued queued) : m_pWriter(std::make_shared<Writer>())
{
    m_pWriter->limit = queued;
    std::thread([writer = m_pWriter] { writer->Run(); }).detach();
}

COutput::~COutput()
{
    if (!m_pWriter) return;
    std::unique_lock<std::mutex> lock(m_pWriter->mutex);
    m_pWriter->quit = true;
    m_pWriter->changed.notify_all();
    // A reader that never reads again must not keep the process (its cameras
    // are stopped by now) from ending: the thread is left blocked, and ends with it.
    m_pWriter->changed.wait_for(lock, std::chrono::seconds(1), [&] { return m_pWriter->done; });
}

// In raw mode a line end must carry its own carriage return.
void COutput::Line(const std::string& text)
{
    if (m_pWriter) {
        std::lock_guard<std::mutex> lock(m_pWriter->mutex);
        Writer& writer = *m_pWriter;
        if (writer.lines.size() >= writer.limit.lines || writer.bytes + text.size() > writer.limit.bytes) {
            ++writer.dropped;
            return;
        }
        writer.bytes += text.size();
        writer.lines.push_back(text);
        m_pWriter->changed.notify_all();
        return;
    }
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

std::string Printable(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls (U+0080 to U+009F) are CSI and friends on a UTF-8 terminal.
        const bool c1 = byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0 &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80;
        if (byte >= 0x20 && byte != 0x7f && !c1) {
            out += text[i];
            continue;
        }
        const unsigned value = c1 ? static_cast<unsigned char>(text[++i]) : byte;
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", value);
        out += escaped;
    }
    return out;
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
        if (!cam.SetCommDevice(options.target.c_str(), dcb)) {
            char why[512];  // the library's cause, from the system's error
            cam.GetLinkState(why, sizeof why);
            throw RunError(why[0] ? why : "cannot open serial device " + options.target);
        }
        break;
    }
    case MODE_NETWORK: {
        cam.SetDeviceType(options.deviceType);
        cam.SetOnvifProfile(options.profile.c_str());
        cam.SetTlsFingerprint(options.tlsFingerprint.c_str());
        cam.SetMoveTimeout(options.moveTimeoutMs);
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
    char reason[512];
    const std::string why = cam.GetLinkState(reason, sizeof reason) == KORVANE_LINK_FAILED ? reason : "";
    m_pCamera.reset();
    switch (options.mode) {
    case MODE_SERIAL: throw RunError("cannot open the camera on " + options.target);
    case MODE_NETWORK:
        if (options.deviceType == DEVICE_ONVIF)
            throw RunError("the ONVIF camera at " + OnvifOrigin(options) + " did not open" +
                           (why.empty() ? "" : " (" + why + ")") +
                           ": unreachable, wrong --user/--password, it has no PTZ" +
                           (options.profile.empty() ? "" : " or no profile " + options.profile) +
                           (OnvifOrigin(options).rfind("https", 0) == 0
                                ? ", or its certificate is not trusted (--tls-fingerprint pins a camera's own)"
                                : "") +
                           " (KORVANE_DEBUG=1 shows each request)");
        if (options.deviceType == DEVICE_VISCA_IP)
            throw RunError("the VISCA-over-IP camera at " + options.target + ":" +
                           std::to_string(options.port.value_or(52381)) + " did not open" +
                           (why.empty() ? "" : " (" + why + ")"));
        throw RunError("the relay service on 127.0.0.1:20715 did not accept the camera: " +
                       (why.empty() ? "not running, or it refused" : why));
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
