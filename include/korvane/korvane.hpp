// Korvane for C++ hosts of any compiler (MSVC included): a header-only class
// over the C interface in <korvane/korvane_c.h>. Only the C functions cross
// into the library, so the host needs neither the library's compiler nor its
// C++ runtime; link Korvanu.lib (MSVC), libKorvanu.dll.a (mingw) or
// -lKorvanu.
//
//   korvane::Camera cam(KORVANE_MODE_SERIAL);
//   cam.SetDeviceAddress(1);
//   cam.OnReport([](const korvane::Report& r) { ... });   // a library thread
//   if (cam.SetCommDevice("/dev/ttyUSB0", 9600, 8, KORVANE_PELCO_D) && cam.Open())
//       cam.MoveLeft(), cam.Stop();
//
// Errors are results, as in the C interface: Open and SetCommDevice return
// false on failure; commands return true when done or queued on a healthy
// serial line, false when they failed, and LastError() then says why. Nothing
// throws except the constructor, with std::bad_alloc when the library has no
// memory for a camera. A report function must not throw: an exception from it
// is caught and dropped so that it never unwinds through the library.
//
// Camera is move-only; a moved-from camera holds nothing and its calls return
// false. Once Close or the destructor has returned, no report function of the
// camera runs. Report functions given earlier stay alive until then, so one
// may be replaced while reports arrive.
#ifndef KORVANE_KORVANE_HPP
#define KORVANE_KORVANE_HPP

#include <korvane/korvane_c.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace korvane {

// The library's version, e.g. "0.2.0".
inline std::string Version() { return korvane_version(); }

// Why the calling thread's last call failed ("" after a success), and its
// outcome (KORVANE_RESULT_*) when outcome is given.
inline std::string LastError(std::int32_t* outcome = nullptr)
{
    char text[512];
    const std::int32_t result = korvane_last_error(text, static_cast<std::int32_t>(sizeof text));
    if (outcome) *outcome = result;
    return text;
}

// A report as the library hands it over; data is valid only during the call.
struct Report {
    const unsigned char* data;
    std::size_t size;
    std::uint32_t message;  // KORVANE_TARGET_APPEARS ... KORVANE_WRITE_STOP
};

using ReportFunction = std::function<void(const Report&)>;
using MessageFunction = std::function<void(const std::string& title, const std::string& text)>;

namespace detail {

inline void KORVANE_CALL CallReport(const unsigned char* data, int32_t length, uint32_t message, void* ctx)
{
    try {
        (*static_cast<const ReportFunction*>(ctx))(
            Report{data, length > 0 ? static_cast<std::size_t>(length) : 0u, message});
    } catch (...) {
    }
}

inline void KORVANE_CALL CallMessage(const char* title, const char* text, void* ctx)
{
    try {
        (*static_cast<const MessageFunction*>(ctx))(title ? title : "", text ? text : "");
    } catch (...) {
    }
}

struct CameraFree {
    void operator()(korvane_camera* cam) const { korvane_camera_free(cam); }
};

}  // namespace detail

// Process-wide: the library's messages go to this function (an empty one
// restores the library's default). A library thread may still be showing a
// message through an earlier function, so every function given stays alive
// to the end of the process; set it once or a few times, not per message.
inline void SetMessageHandler(MessageFunction handler)
{
    static std::mutex mutex;
    static std::vector<std::unique_ptr<MessageFunction>> kept;
    std::lock_guard<std::mutex> lock(mutex);
    if (!handler) {
        korvane_set_message_handler(nullptr, nullptr);
        return;
    }
    kept.push_back(std::make_unique<MessageFunction>(std::move(handler)));
    korvane_set_message_handler(&detail::CallMessage, kept.back().get());
}

class Camera {
public:
    // mode: KORVANE_MODE_SERIAL, KORVANE_MODE_NETWORK or KORVANE_MODE_TRACKSYSTEM.
    explicit Camera(std::int32_t mode) : m_camera(korvane_camera_new(mode))
    {
        if (!m_camera) throw std::bad_alloc();
    }
    Camera(Camera&&) noexcept = default;
    Camera& operator=(Camera&& other) noexcept
    {
        if (this == &other) return *this;
        // Our own camera goes (and its reports stop) before its functions do.
        m_camera.reset();
        m_reports = std::move(other.m_reports);
        m_camera = std::move(other.m_camera);
        return *this;
    }
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;
    ~Camera() { m_camera.reset(); }

    // The C handle, for functions this class does not wrap; null once moved from.
    korvane_camera* Handle() const noexcept { return m_camera.get(); }

    void SetDeviceAddress(std::uint32_t address) { korvane_set_device_address(Handle(), address); }
    void SetHorizontalSpeed(std::int32_t speed) { korvane_set_horizontal_speed(Handle(), speed); }
    void SetVerticalSpeed(std::int32_t speed) { korvane_set_vertical_speed(Handle(), speed); }
    bool SetCommDevice(const std::string& name, std::uint32_t baud, std::uint8_t dataBits, std::int32_t protocol)
    {
        return korvane_set_comm_device(Handle(), name.c_str(), baud, dataBits, protocol) == 1;
    }
    void SetDeviceType(std::int32_t type) { korvane_set_device_type(Handle(), type); }
    void SetSocketParam(std::int32_t protocol, const std::string& ip, std::uint32_t port, std::uint32_t value4 = 0,
                        const std::string& user = "", const std::string& password = "",
                        const std::string& text7 = "")
    {
        korvane_set_socket_param(Handle(), protocol, ip.c_str(), port, value4, user.c_str(), password.c_str(),
                                 text7.c_str());
    }
    void SetSystemType(std::int32_t type) { korvane_set_system_type(Handle(), type); }
    // ONVIF moves end by themselves this long after they were sent (0: never).
    void SetMoveTimeout(std::uint32_t milliseconds) { korvane_set_move_timeout(Handle(), milliseconds); }
    void SetSystemParam(std::int32_t protocol, const std::string& ip, std::uint32_t port)
    {
        korvane_set_system_param(Handle(), protocol, ip.c_str(), port);
    }
    // Before Open (a serial camera then switches the tracker's reports on).
    // An empty function turns reports off.
    void OnReport(ReportFunction report)
    {
        if (!m_camera) return;
        if (!report) {
            korvane_set_recv_notify(Handle(), nullptr, nullptr);
            return;
        }
        m_reports.push_back(std::make_unique<ReportFunction>(std::move(report)));
        korvane_set_recv_notify(Handle(), &detail::CallReport, m_reports.back().get());
    }

    bool Open() { return korvane_open(Handle()) == 1; }
    // No report runs after this returns; replaced report functions go.
    void Close()
    {
        korvane_close(Handle());
        if (m_reports.size() > 1) m_reports.erase(m_reports.begin(), m_reports.end() - 1);
    }

    bool MoveUp() { return korvane_move_up(Handle()) == 1; }
    bool MoveDown() { return korvane_move_down(Handle()) == 1; }
    bool MoveLeft() { return korvane_move_left(Handle()) == 1; }
    bool MoveRight() { return korvane_move_right(Handle()) == 1; }
    bool MoveTopLeft() { return korvane_move_top_left(Handle()) == 1; }
    bool MoveTopRight() { return korvane_move_top_right(Handle()) == 1; }
    bool MoveBottomLeft() { return korvane_move_bottom_left(Handle()) == 1; }
    bool MoveBottomRight() { return korvane_move_bottom_right(Handle()) == 1; }
    bool Stop() { return korvane_stop(Handle()) == 1; }
    bool ZoomPlus() { return korvane_zoom_plus(Handle()) == 1; }
    bool ZoomMinus() { return korvane_zoom_minus(Handle()) == 1; }
    bool FocusPlus() { return korvane_focus_plus(Handle()) == 1; }
    bool FocusMinus() { return korvane_focus_minus(Handle()) == 1; }
    bool IrisPlus() { return korvane_iris_plus(Handle()) == 1; }
    bool IrisMinus() { return korvane_iris_minus(Handle()) == 1; }
    // op: KORVANE_PRESET_GO, KORVANE_PRESET_SET or KORVANE_PRESET_CLEAR.
    bool Preset(std::int32_t preset, std::uint8_t op = KORVANE_PRESET_GO)
    {
        return korvane_preset(Handle(), preset, op) == 1;
    }
    bool OpenTrack() { return korvane_open_track(Handle()) == 1; }
    bool CloseTrack() { return korvane_close_track(Handle()) == 1; }
    bool OpenAutoZoom() { return korvane_open_auto_zoom(Handle()) == 1; }
    bool CloseAutoZoom() { return korvane_close_auto_zoom(Handle()) == 1; }
    bool OpenAutoWrite() { return korvane_open_auto_write(Handle()) == 1; }
    bool CloseAutoWrite() { return korvane_close_auto_write(Handle()) == 1; }
    // True when an ONVIF camera answered, or when the test went out on a link
    // that cannot answer: LastError's outcome KORVANE_RESULT_UNCONFIRMED then.
    bool ConnectTest() { return korvane_connect_test(Handle()) == 1; }

    // Why the calling thread's last call of the library failed ("" after a
    // success): read it right after the call that returned false.
    static std::string LastError() { return korvane::LastError(); }

private:
    // Declared before the camera, so destroyed after it: the library may call
    // any of them until the camera is freed.
    std::vector<std::unique_ptr<ReportFunction>> m_reports;
    std::unique_ptr<korvane_camera, detail::CameraFree> m_camera;
};

}  // namespace korvane

#endif  // KORVANE_KORVANE_HPP
