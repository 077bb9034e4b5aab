/* Korvane from C, or from any language that can call C (C#, Python, ...).
 *
 * The same cameras as the C++ class CKorvane in <korvane/Korvane.h>, through
 * an opaque handle and plain functions: every korvane_* function is a thin
 * layer over one CKorvane operation and means the same. Names are the class's
 * operations in lower case with underscores and the prefix korvane_
 * (SetDeviceAddress -> korvane_set_device_address); the class's misspellings
 * are corrected (MoveButtomLeft -> korvane_move_bottom_left, SetVertcalSpeed
 * -> korvane_set_vertical_speed) and CameraStop is korvane_stop. The handle's
 * own life is korvane_camera_new / korvane_camera_free.
 *
 *   korvane_camera* cam = korvane_camera_new(KORVANE_MODE_SERIAL);
 *   korvane_set_device_address(cam, 1);
 *   if (korvane_set_comm_device(cam, "/dev/ttyUSB0", 9600, 8, KORVANE_PELCO_D)) {
 *       korvane_set_recv_notify(cam, on_report, &my_context);
 *       if (korvane_open(cam)) { korvane_move_up(cam); korvane_stop(cam); }
 *   }
 *   korvane_camera_free(cam);
 *
 * Only fixed-size integers, texts (const char*, zero-terminated, UTF-8),
 * pointers and the opaque handle cross this interface; on Windows every
 * function and callback uses __cdecl.
 *
 * Results. Nothing fails loudly: no function throws, aborts or exits. Every
 * function accepts a null handle and does nothing; those that return an
 * int32_t then return 0. With a camera, commands return 1 when done, or
 * queued on a healthy serial line (a move replaced by a newer one before it
 * went out counts as done), and 0 when they failed: korvane_last_error, read
 * right after the call on the same thread, says why (no link, a failed link,
 * an operation the link cannot send, a full queue). korvane_open and
 * korvane_set_comm_device return 1 on success and 0 on failure. A null text counts as an empty one: a null
 * device name makes korvane_set_comm_device return 0, a tracking or ONVIF
 * camera without an address has no peer, and a relayed camera sends empty
 * fields to the relay.
 *
 * Threads. Calls may come from any host thread, one call at a time per
 * camera, except that korvane_stop may be called while another call of the
 * same camera (any call) runs on another thread, in the serial and tracking
 * modes. They return without waiting for the device, except in the network
 * mode (korvane_open of a relayed device waits up to 5 seconds for the relay;
 * an ONVIF camera answers each request, each bounded by 5 seconds). Reports
 * arrive on one of the library's own threads, never on the calling thread.
 *
 * Lifetime. The context given to korvane_set_recv_notify is handed back to
 * every report unchanged; it must stay valid until korvane_close or
 * korvane_camera_free of that camera has returned: after either no report for
 * it runs or starts. A report function may call korvane_close of its own or
 * any other camera, and must not wait for anything that itself waits for a
 * report to finish.
 *
 * Unloading. Close every camera before FreeLibrary or dlclose: the library's
 * threads end with the last korvane_close, so the unload has nothing to wait
 * for. While a camera is open the library keeps itself loaded: an unload then
 * leaves it in place, its cameras and reports running, never a hang. At
 * process exit open cameras are left to the system: exiting never waits.
 */
#ifndef KORVANE_KORVANE_C_H
#define KORVANE_KORVANE_C_H

#include <stdint.h>

#if defined(_WIN32)
#define KORVANE_CALL __cdecl
#if defined(KORVANU_BUILDING)
#define KORVANE_C_API __declspec(dllexport)
#else
#define KORVANE_C_API __declspec(dllimport)
#endif
#else
#define KORVANE_CALL
#define KORVANE_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One camera. Made by korvane_camera_new, released by korvane_camera_free. */
typedef struct korvane_camera korvane_camera;

/* How the camera is reached (korvane_camera_new). */
enum {
    KORVANE_MODE_SERIAL = 1,      /* on a serial line, by bus address */
    KORVANE_MODE_NETWORK = 2,     /* ONVIF camera, or a device behind the relay */
    KORVANE_MODE_TRACKSYSTEM = 3  /* through the tracking system, over UDP */
};

/* Command frames sent to the camera. */
enum {
    KORVANE_PELCO_D = 1,
    KORVANE_PELCO_P = 2,
    KORVANE_VISCA = 3
};

/* Network mode (korvane_set_device_type). */
enum {
    KORVANE_DEVICE_RELAY_1 = 1, /* relayed device, kind 1 (the default) */
    KORVANE_DEVICE_RELAY_2 = 2, /* relayed device, kind 2 */
    KORVANE_DEVICE_ONVIF = 3,   /* ONVIF camera, driven in process */
    KORVANE_DEVICE_RELAY_4 = 4, /* relayed device, kind 4, with target events */
    /* VISCA over IP, driven in process (16: the relay takes 0 to 5 as kinds
     * of its own); korvane_set_socket_param's port 0 is 52381. */
    KORVANE_DEVICE_VISCA_IP = 16
};

/* Tracking mode (korvane_set_system_type): only type 1 sends the tracking
 * system's own on/off packets from korvane_open_track / korvane_close_track. */
enum { KORVANE_TRACKSYSTEM_TYPE_1 = 1 };

/* korvane_preset's operation; other values send nothing. */
enum {
    KORVANE_PRESET_GO = 0,
    KORVANE_PRESET_SET = 1,
    KORVANE_PRESET_CLEAR = 2
};

/* Report message codes; unsigned in C++, as the message argument is. */
#ifdef __cplusplus
#define KORVANE_MESSAGE_BASE : uint32_t
#else
#define KORVANE_MESSAGE_BASE
#endif
enum KORVANE_MESSAGE_BASE {
    KORVANE_TARGET_APPEARS = 0x8400,
    KORVANE_TARGET_DISAPPEARS = 0x8401,
    KORVANE_CLOSEUP_READY = 0x8402,
    KORVANE_MULTIPLE_TARGETS = 0x8403,
    KORVANE_DOWN_PODIUM = 0x8404,
    KORVANE_UP_PODIUM = 0x8405,
    KORVANE_WRITE_START = 0x8406,
    KORVANE_WRITE_STOP = 0x8407
};
#undef KORVANE_MESSAGE_BASE

/* A report: its bytes (valid only during the call), their count, the message
 * code (0x8400 to 0x8407) and the context given to korvane_set_recv_notify.
 * Serial mode: the 7-byte return-code frame; tracking mode: the 5 bytes
 * AA 50 02 <address> <state>; relayed devices of kind 4: the 18 characters
 * "Camera Return Code". ONVIF cameras send no reports. */
typedef void(KORVANE_CALL* korvane_report_fn)(const unsigned char* data, int32_t length, uint32_t message,
                                              void* ctx);

/* The library's one kind of message (a box titled "提示" with the system's text
 * for an error, e.g. from korvane_connect_test), UTF-8. */
typedef void(KORVANE_CALL* korvane_message_fn)(const char* title, const char* text, void* ctx);

/* The library's version, e.g. "0.1.0". Static text, never null. */
KORVANE_C_API const char* KORVANE_CALL korvane_version(void);

/* Process-wide: show the library's messages yourself. A null handler restores
 * the default (a message box on Windows; a line on standard error elsewhere).
 * The handler runs on the thread that caused the message, several at once when
 * several threads do. Once this returns, the replaced handler runs no more and
 * every call of it has finished (this waits for them), so its context may be
 * freed; except a call on this same thread (a handler may set the handler and
 * may call any korvane_* function) and calls on threads that are setting the
 * handler at that moment themselves. A handler must not wait for another
 * thread that is setting the handler. */
KORVANE_C_API void KORVANE_CALL korvane_set_message_handler(korvane_message_fn handler, void* ctx);

/* A camera reached in this mode. Any other mode gives a camera that does
 * nothing (korvane_open returns 1, commands return 1). Null only when memory
 * runs out. */
KORVANE_C_API korvane_camera* KORVANE_CALL korvane_camera_new(int32_t mode);
/* Releases the camera and its link, as the class's destructor does; no report
 * for it runs or starts after this returns. Only korvane_close tells the relay
 * service that a relayed camera has gone: call it first. Null is ignored. */
KORVANE_C_API void KORVANE_CALL korvane_camera_free(korvane_camera* cam);

/* --- configuration ------------------------------------------------------- */
/* Set the address before korvane_set_comm_device / korvane_set_system_param
 * and keep it until korvane_close: reports are routed by it. */
KORVANE_C_API void KORVANE_CALL korvane_set_device_address(korvane_camera* cam, uint32_t address);
KORVANE_C_API void KORVANE_CALL korvane_set_horizontal_speed(korvane_camera* cam, int32_t speed); /* 0..63 */
KORVANE_C_API void KORVANE_CALL korvane_set_vertical_speed(korvane_camera* cam, int32_t speed);   /* 0..63 */
/* Serial mode: opens (or shares) the named device ("/dev/ttyUSB0", "COM3") at
 * this speed and data size (no parity, one stop bit) and binds the camera
 * under its address; protocol 1 to 3 sets the camera's protocol, any other
 * value keeps it. 1 on success; 0 for a null or empty name, a device that
 * cannot be opened or is busy, an address already bound on that line, and in
 * the other modes. */
KORVANE_C_API int32_t KORVANE_CALL korvane_set_comm_device(korvane_camera* cam, const char* name, uint32_t baud,
                                                           uint8_t data_bits, int32_t protocol);
/* Network mode: one of KORVANE_DEVICE_*. ONVIF: call before
 * korvane_set_socket_param. */
KORVANE_C_API void KORVANE_CALL korvane_set_device_type(korvane_camera* cam, int32_t type);
/* Network mode: the camera's address and port and its credentials. Relayed
 * devices: all seven go to the relay (texts cut to 254 bytes). ONVIF: ip,
 * port, user and password; the camera is asked for its clock and services at
 * once. An ONVIF ip may be "https://address[:port]", which carries its own
 * port (see korvane_set_tls_fingerprint). */
KORVANE_C_API void KORVANE_CALL korvane_set_socket_param(korvane_camera* cam, int32_t protocol, const char* ip,
                                                         uint32_t port, uint32_t value4, const char* user,
                                                         const char* password, const char* text7);
/* Tracking mode. */
KORVANE_C_API void KORVANE_CALL korvane_set_system_type(korvane_camera* cam, int32_t type);
/* Tracking mode: the tracking system's IPv4 address and UDP port. Binds local
 * UDP port 10000, shared by every tracking camera. */
KORVANE_C_API void KORVANE_CALL korvane_set_system_param(korvane_camera* cam, int32_t protocol, const char* ip,
                                                         uint32_t port);
/* Register before korvane_open. A null function turns reports off. */
KORVANE_C_API void KORVANE_CALL korvane_set_recv_notify(korvane_camera* cam, korvane_report_fn notify, void* ctx);

/* --- link ------------------------------------------------------------------ */
/* 1 on success, 0 on failure. */
KORVANE_C_API int32_t KORVANE_CALL korvane_open(korvane_camera* cam);
/* Closes the link; the camera may be set up and opened again. */
KORVANE_C_API void KORVANE_CALL korvane_close(korvane_camera* cam);

/* --- commands: 1 done or queued on a healthy line; 0 failed (see
 * korvane_last_error; a null handle too) ----------------------------------- */
KORVANE_C_API int32_t KORVANE_CALL korvane_move_up(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_down(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_left(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_right(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_top_left(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_top_right(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_bottom_left(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_move_bottom_right(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_stop(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_zoom_plus(korvane_camera* cam);  /* tele */
KORVANE_C_API int32_t KORVANE_CALL korvane_zoom_minus(korvane_camera* cam); /* wide */
KORVANE_C_API int32_t KORVANE_CALL korvane_focus_plus(korvane_camera* cam); /* far */
KORVANE_C_API int32_t KORVANE_CALL korvane_focus_minus(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_iris_plus(korvane_camera* cam); /* open */
KORVANE_C_API int32_t KORVANE_CALL korvane_iris_minus(korvane_camera* cam);
/* op: KORVANE_PRESET_GO, _SET or _CLEAR; only the preset's low 8 bits reach a
 * frame. */
KORVANE_C_API int32_t KORVANE_CALL korvane_preset(korvane_camera* cam, int32_t preset, uint8_t op);
KORVANE_C_API int32_t KORVANE_CALL korvane_open_track(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_close_track(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_open_auto_zoom(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_close_auto_zoom(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_open_auto_write(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_close_auto_write(korvane_camera* cam);
/* Tests the link and shows its outcome as the library's message. ONVIF: asks
 * the camera for its presets (its profiles before korvane_open), a request
 * that needs the credentials: 1 when it answered (korvane_last_error
 * KORVANE_RESULT_OK), 0 with the camera's reason when not; korvane_link_state
 * follows. Serial lines, the tracking system and the relay cannot answer the
 * test: 1 when the test frame went out (KORVANE_RESULT_UNCONFIRMED: sent, not
 * confirmed), 0 when it could not be sent. */
KORVANE_C_API int32_t KORVANE_CALL korvane_connect_test(korvane_camera* cam);

/* --- capabilities and link state ------------------------------------------ */
/* Operations a host may ask about; move covers the eight moves and stop. */
enum {
    KORVANE_OP_MOVE = 1,
    KORVANE_OP_ZOOM = 2,
    KORVANE_OP_FOCUS = 3,
    KORVANE_OP_IRIS = 4,
    KORVANE_OP_PRESET = 5,
    KORVANE_OP_TRACK = 6,
    KORVANE_OP_AUTOZOOM = 7,
    KORVANE_OP_AUTOWRITE = 8,
    KORVANE_OP_TEST = 9,
    KORVANE_OP_POSITION = 10,
    KORVANE_OP_HOME = 11
};
/* 1 when the camera's link, as set up now (mode, protocol, device type,
 * tracking-system type), sends op; 0 when the command sends nothing (and for
 * a null handle or an unknown op). No I/O. */
KORVANE_C_API int32_t KORVANE_CALL korvane_can(const korvane_camera* cam, int32_t op);
/* 1 and why (UTF-8, cut to size bytes with its terminating zero) when the
 * link cannot send op; 0 when it can. Null handle: 1, "no camera". */
KORVANE_C_API int32_t KORVANE_CALL korvane_why_cannot(const korvane_camera* cam, int32_t op, char* why, int32_t size);
/* The preset numbers the link carries (ONVIF 1 to 256, frames 0 to 255): 1,
 * or 0 when it carries none. */
KORVANE_C_API int32_t KORVANE_CALL korvane_preset_range(const korvane_camera* cam, int32_t* first, int32_t* last);
/* The presets the camera holds, as the library knows them (an ONVIF camera's,
 * read at korvane_open and kept by korvane_preset since): up to size numbers
 * written to presets, ascending; returns how many there are (more than size
 * when they did not all fit), or -1 when they are not known (a frame link
 * cannot ask; an ONVIF camera not open; a null handle). No I/O. */
KORVANE_C_API int32_t KORVANE_CALL korvane_stored_presets(const korvane_camera* cam, int32_t* presets, int32_t size);
/* The same for a link described without a camera (nothing is opened). */
KORVANE_C_API int32_t KORVANE_CALL korvane_link_why_cannot(int32_t mode, int32_t protocol, int32_t device_type,
                                                           int32_t system_type, int32_t op, char* why, int32_t size);
KORVANE_C_API int32_t KORVANE_CALL korvane_link_preset_range(int32_t mode, int32_t protocol, int32_t device_type,
                                                             int32_t* first, int32_t* last);
/* "move", "zoom", "focus", "iris", "preset", "track", "autozoom",
 * "autowrite", "test", "position", "home"; null for an unknown op. */
KORVANE_C_API const char* KORVANE_CALL korvane_operation_name(int32_t op);

enum {
    KORVANE_LINK_UNCHECKED = 0, /* nothing seen yet, or a link that cannot tell */
    KORVANE_LINK_OK = 1,        /* the camera (ONVIF) or the relay answered */
    KORVANE_LINK_FAILED = 2     /* a request failed or timed out, a send failed */
};
/* What the library last saw of the link, and the reason for a failure (UTF-8,
 * cut to size bytes; reason may be null). A later success turns a failed link
 * back. Null handle: KORVANE_LINK_UNCHECKED. */
KORVANE_C_API int32_t KORVANE_CALL korvane_link_state(const korvane_camera* cam, char* reason, int32_t size);
/* What became of the calling thread's last call. */
enum {
    KORVANE_RESULT_OK = 0,
    KORVANE_RESULT_SUPERSEDED = 1,  /* a newer command took its place: success */
    KORVANE_RESULT_UNSUPPORTED = 2, /* the link cannot send it (korvane_why_cannot) */
    KORVANE_RESULT_NOT_OPEN = 3,    /* no link set up, or closed */
    KORVANE_RESULT_LINK_FAILED = 4, /* the send failed, or the line is failing */
    KORVANE_RESULT_TIMED_OUT = 5,
    KORVANE_RESULT_REFUSED = 6,     /* the camera answered no */
    KORVANE_RESULT_QUEUE_FULL = 7,  /* too many commands wait for the line */
    KORVANE_RESULT_UNCONFIRMED = 8  /* sent, but the link cannot tell whether the camera
                                       got it (korvane_connect_test on a serial line, the
                                       tracking system or the relay): success */
};
/* The outcome of the calling thread's last korvane_* call and why it failed
 * (UTF-8, cut to size bytes with its terminating zero; text may be null).
 * After a success the text is "" or says what else happened (as
 * CKorvane::LastError). Read it right after the call, on the same thread. */
KORVANE_C_API int32_t KORVANE_CALL korvane_last_error(char* text, int32_t size);
/* --- end of capabilities and link state ------------------------------------ */
/* --- ONVIF: position, home, profile, certificate ---------------------------
 * ONVIF cameras only; the other links send nothing and return 0. */
/* Where the camera points: 1 read, 0 not (see CKorvane::GetPosition). Any
 * pointer may be null; an axis the camera leaves out keeps its value. */
KORVANE_C_API int32_t KORVANE_CALL korvane_get_position(korvane_camera* cam, float* pan, float* tilt, float* zoom,
                                                        int32_t* moving);
/* Go to / store the camera's home position: 1 the camera took it, 0 not. */
KORVANE_C_API int32_t KORVANE_CALL korvane_goto_home(korvane_camera* cam);
KORVANE_C_API int32_t KORVANE_CALL korvane_set_home(korvane_camera* cam);
/* The media profile to drive by its token; null or "": the first with PTZ.
 * Read by korvane_open. */
KORVANE_C_API void KORVANE_CALL korvane_set_onvif_profile(korvane_camera* cam, const char* token);
/* The SHA-256 fingerprint an https camera's certificate must have (hex,
 * colons allowed); null or "": verified against the system's store. Before
 * korvane_set_socket_param. */
KORVANE_C_API void KORVANE_CALL korvane_set_tls_fingerprint(korvane_camera* cam, const char* sha256);
/* ONVIF moves end by themselves this many milliseconds after they were sent,
 * so a camera stops even when its host is gone; 0 (the default): never.
 * Other links ignore it. */
KORVANE_C_API void KORVANE_CALL korvane_set_move_timeout(korvane_camera* cam, unsigned milliseconds);

/* --- finding ONVIF cameras (WS-Discovery), apart from any camera ---------
 * korvane_discover probes 239.255.255.250:3702 from the interface with this
 * IPv4 address (null or "": the system's choice), waits timeout_ms (at most
 * 60000) and returns what answered; null only when memory runs out. Release
 * with korvane_discovery_free. Texts stay valid until then; an index out of
 * range gives "" (0). A null result counts no camera. */
typedef struct korvane_discovery korvane_discovery;
KORVANE_C_API korvane_discovery* KORVANE_CALL korvane_discover(int32_t timeout_ms, const char* interface_ip);
KORVANE_C_API int32_t KORVANE_CALL korvane_discovery_count(const korvane_discovery* found);
/* Why nothing could be sent or received; "" when the probe went out. */
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_error(const korvane_discovery* found);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_address(const korvane_discovery* found, int32_t index);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_scheme(const korvane_discovery* found, int32_t index);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_host(const korvane_discovery* found, int32_t index);
KORVANE_C_API int32_t KORVANE_CALL korvane_discovery_port(const korvane_discovery* found, int32_t index);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_name(const korvane_discovery* found, int32_t index);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_hardware(const korvane_discovery* found, int32_t index);
KORVANE_C_API int32_t KORVANE_CALL korvane_discovery_ptz(const korvane_discovery* found, int32_t index);
KORVANE_C_API const char* KORVANE_CALL korvane_discovery_endpoint(const korvane_discovery* found, int32_t index);
KORVANE_C_API void KORVANE_CALL korvane_discovery_free(korvane_discovery* found);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_KORVANE_C_H */
