// The C functions: each is one call on a CKorvane, which already turns every
// failure into a result; the try blocks only keep an exception thrown before
// the class is reached (memory) out of the host's C code.
#include <korvane/Korvane.h>
#include <korvane/korvane_c.h>

#include "camera/Capabilities.h"
#include "camera/Result.h"

#include <memory>
#include <type_traits>

// The host's report function goes straight to the class.
static_assert(std::is_same<korvane_report_fn, RecvNotify>::value, "report function types differ");

struct korvane_camera {
    explicit korvane_camera(KORVANEMODE mode) : camera(mode) {}
    CKorvane camera;
};

namespace {

template <typename Call>
std::int32_t OnCamera(korvane_camera* cam, Call call) noexcept
{
    if (!cam) {
        korvane::ClearLastResult();
        try {
            return korvane::Report(korvane::Result::Fail(korvane::Outcome::NotOpen, "no camera (a null handle)"));
        } catch (...) {
            return 0;
        }
    }
    try {
        return call(cam->camera);
    } catch (...) {
        return 0;
    }
}

template <typename Call>
void OnCameraVoid(korvane_camera* cam, Call call) noexcept
{
    if (!cam) return;
    try {
        call(cam->camera);
    } catch (...) {
    }
}

}  // namespace

extern "C" {

const char* KORVANE_CALL korvane_version(void) { return KORVANE_VERSION_TEXT; }

void KORVANE_CALL korvane_set_message_handler(korvane_message_fn handler, void* ctx)
{
    KorvaneSetMessageHandler(handler, ctx);
}

korvane_camera* KORVANE_CALL korvane_camera_new(std::int32_t mode)
{
    try {
        // The host owns the camera from here until korvane_camera_free.
        return std::make_unique<korvane_camera>(static_cast<KORVANEMODE>(mode)).release();
    } catch (...) {
        return nullptr;
    }
}

void KORVANE_CALL korvane_camera_free(korvane_camera* cam)
{
    std::unique_ptr<korvane_camera> owned(cam);
}

void KORVANE_CALL korvane_set_device_address(korvane_camera* cam, std::uint32_t address)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetDeviceAddress(address); });
}

void KORVANE_CALL korvane_set_horizontal_speed(korvane_camera* cam, std::int32_t speed)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetHorizonSpeed(speed); });
}

void KORVANE_CALL korvane_set_vertical_speed(korvane_camera* cam, std::int32_t speed)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetVertcalSpeed(speed); });
}

std::int32_t KORVANE_CALL korvane_set_comm_device(korvane_camera* cam, const char* name, std::uint32_t baud,
                                     std::uint8_t data_bits, std::int32_t protocol)
{
    return OnCamera(cam, [&](CKorvane& c) {
        // A protocol outside 1..3 must not wrap into one when cut to a byte.
        const bool known = protocol >= PROTOCOL_PELCO_D && protocol <= PROTOCOL_VISCA;
        MYDCB dcb{baud, data_bits, static_cast<std::uint8_t>(known ? protocol : 0)};
        return c.SetCommDevice(name, dcb) ? 1 : 0;
    });
}

void KORVANE_CALL korvane_set_device_type(korvane_camera* cam, std::int32_t type)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetDeviceType(static_cast<DEVICETYPE>(type)); });
}

void KORVANE_CALL korvane_set_socket_param(korvane_camera* cam, std::int32_t protocol, const char* ip, std::uint32_t port,
                              std::uint32_t value4, const char* user, const char* password, const char* text7)
{
    OnCameraVoid(cam, [&](CKorvane& c) {
        c.SetSocketParam(static_cast<PTZPROTOCOL>(protocol), ip, port, value4, user, password, text7);
    });
}

void KORVANE_CALL korvane_set_system_type(korvane_camera* cam, std::int32_t type)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetSystemType(static_cast<TRACKSYSTEMTYPE>(type)); });
}

void KORVANE_CALL korvane_set_system_param(korvane_camera* cam, std::int32_t protocol, const char* ip, std::uint32_t port)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetSystemParam(static_cast<PTZPROTOCOL>(protocol), ip, port); });
}

void KORVANE_CALL korvane_set_recv_notify(korvane_camera* cam, korvane_report_fn notify, void* ctx)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetRecvNotify(notify, ctx); });
}

std::int32_t KORVANE_CALL korvane_open(korvane_camera* cam)
{
    return OnCamera(cam, [](CKorvane& c) { return c.Open(); });
}

void KORVANE_CALL korvane_close(korvane_camera* cam)
{
    OnCameraVoid(cam, [](CKorvane& c) { c.Close(); });
}

#define KORVANE_C_COMMAND(name, Operation)                                  \
    std::int32_t KORVANE_CALL name(korvane_camera* cam)                     \
    {                                                                       \
        return OnCamera(cam, [](CKorvane& c) { return c.Operation(); });    \
    }

KORVANE_C_COMMAND(korvane_move_up, MoveUp)
KORVANE_C_COMMAND(korvane_move_down, MoveDown)
KORVANE_C_COMMAND(korvane_move_left, MoveLeft)
KORVANE_C_COMMAND(korvane_move_right, MoveRight)
KORVANE_C_COMMAND(korvane_move_top_left, MoveTopLeft)
KORVANE_C_COMMAND(korvane_move_top_right, MoveTopRight)
KORVANE_C_COMMAND(korvane_move_bottom_left, MoveButtomLeft)
KORVANE_C_COMMAND(korvane_move_bottom_right, MoveButtomRight)
KORVANE_C_COMMAND(korvane_stop, CameraStop)
KORVANE_C_COMMAND(korvane_zoom_plus, ZoomPlus)
KORVANE_C_COMMAND(korvane_zoom_minus, ZoomMinus)
KORVANE_C_COMMAND(korvane_focus_plus, FocusPlus)
KORVANE_C_COMMAND(korvane_focus_minus, FocusMinus)
KORVANE_C_COMMAND(korvane_iris_plus, IrisPlus)
KORVANE_C_COMMAND(korvane_iris_minus, IrisMinus)
KORVANE_C_COMMAND(korvane_open_track, OpenTrack)
KORVANE_C_COMMAND(korvane_close_track, CloseTrack)
KORVANE_C_COMMAND(korvane_open_auto_zoom, OpenAutoZoom)
KORVANE_C_COMMAND(korvane_close_auto_zoom, CloseAutoZoom)
KORVANE_C_COMMAND(korvane_open_auto_write, OpenAutoWrite)
KORVANE_C_COMMAND(korvane_close_auto_write, CloseAutoWrite)
KORVANE_C_COMMAND(korvane_connect_test, ConnectTest)

#undef KORVANE_C_COMMAND

std::int32_t KORVANE_CALL korvane_preset(korvane_camera* cam, std::int32_t preset, std::uint8_t op)
{
    return OnCamera(cam, [&](CKorvane& c) { return c.PreSet(preset, op); });
}

// --- capabilities and link state -----------------------------------------------

std::int32_t KORVANE_CALL korvane_can(const korvane_camera* cam, std::int32_t op)
{
    return cam && cam->camera.Can(static_cast<KORVANEOPERATION>(op)) ? 1 : 0;
}

std::int32_t KORVANE_CALL korvane_why_cannot(const korvane_camera* cam, std::int32_t op, char* why, std::int32_t size)
{
    if (!cam) {
        korvane::CopyText("no camera", why, size);
        return 1;
    }
    return cam->camera.WhyCannot(static_cast<KORVANEOPERATION>(op), why, size);
}

std::int32_t KORVANE_CALL korvane_preset_range(const korvane_camera* cam, std::int32_t* first, std::int32_t* last)
{
    int a = 0, b = -1;
    const bool some = cam && cam->camera.GetPresetRange(a, b);
    if (first) *first = some ? a : 0;
    if (last) *last = some ? b : -1;
    return some ? 1 : 0;
}

static_assert(std::is_same_v<std::int32_t, int>, "korvane_stored_presets hands its buffer on as it is");

std::int32_t KORVANE_CALL korvane_stored_presets(const korvane_camera* cam, std::int32_t* presets, std::int32_t size)
{
    return cam ? cam->camera.GetStoredPresets(presets, size) : -1;
}

std::int32_t KORVANE_CALL korvane_link_why_cannot(std::int32_t mode, std::int32_t protocol, std::int32_t device_type,
                                                  std::int32_t system_type, std::int32_t op, char* why,
                                                  std::int32_t size)
{
    return CKorvane::LinkWhyCannot(static_cast<KORVANEMODE>(mode), static_cast<PTZPROTOCOL>(protocol),
                                   static_cast<DEVICETYPE>(device_type), static_cast<TRACKSYSTEMTYPE>(system_type),
                                   static_cast<KORVANEOPERATION>(op), why, size);
}

std::int32_t KORVANE_CALL korvane_link_preset_range(std::int32_t mode, std::int32_t protocol,
                                                    std::int32_t device_type, std::int32_t* first, std::int32_t* last)
{
    int a = 0, b = -1;
    const bool some = CKorvane::LinkPresetRange(static_cast<KORVANEMODE>(mode), static_cast<PTZPROTOCOL>(protocol),
                                                static_cast<DEVICETYPE>(device_type), a, b);
    if (first) *first = some ? a : 0;
    if (last) *last = some ? b : -1;
    return some ? 1 : 0;
}

const char* KORVANE_CALL korvane_operation_name(std::int32_t op) { return korvane::OperationName(op); }

std::int32_t KORVANE_CALL korvane_link_state(const korvane_camera* cam, char* reason, std::int32_t size)
{
    if (!cam) {
        korvane::CopyText("", reason, size);
        return KORVANE_LINK_UNCHECKED;
    }
    return cam->camera.GetLinkState(reason, size);
}

std::int32_t KORVANE_CALL korvane_last_error(char* text, std::int32_t size)
{
    korvane::CopyText(korvane::LastReason(), text, size);
    return static_cast<std::int32_t>(korvane::LastOutcome());
}

// --- end of capabilities and link state -------------------------------------------

std::int32_t KORVANE_CALL korvane_get_position(korvane_camera* cam, float* pan, float* tilt, float* zoom,
                                               std::int32_t* moving)
{
    return OnCamera(cam, [&](CKorvane& c) {
        float p = pan ? *pan : 0.0f, t = tilt ? *tilt : 0.0f, z = zoom ? *zoom : 0.0f;
        int m = 0;
        if (!c.GetPosition(p, t, z, m)) return 0;
        if (pan) *pan = p;
        if (tilt) *tilt = t;
        if (zoom) *zoom = z;
        if (moving) *moving = m;
        return 1;
    });
}

std::int32_t KORVANE_CALL korvane_goto_home(korvane_camera* cam)
{
    return OnCamera(cam, [](CKorvane& c) { return c.GotoHome(); });
}

std::int32_t KORVANE_CALL korvane_set_home(korvane_camera* cam)
{
    return OnCamera(cam, [](CKorvane& c) { return c.SetHome(); });
}

void KORVANE_CALL korvane_set_onvif_profile(korvane_camera* cam, const char* token)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetOnvifProfile(token); });
}

void KORVANE_CALL korvane_set_tls_fingerprint(korvane_camera* cam, const char* sha256)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetTlsFingerprint(sha256); });
}

void KORVANE_CALL korvane_set_move_timeout(korvane_camera* cam, unsigned milliseconds)
{
    OnCameraVoid(cam, [&](CKorvane& c) { c.SetMoveTimeout(milliseconds); });
}

}  // extern "C"
