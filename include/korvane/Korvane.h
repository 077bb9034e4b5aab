// Korvane: drive PTZ cameras that work with a presenter-tracking system.
//
// One CKorvane per camera. Choose how it is reached when you construct it,
// configure it, register a notify function, Open it, send commands, Close it.
//
//   CKorvane cam(MODE_SERIAL);
//   cam.SetDeviceAddress(1);
//   MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
//   cam.SetCommDevice("/dev/ttyUSB0", dcb);
//   cam.SetRecvNotify(OnReport, &myContext);
//   if (cam.Open()) { cam.MoveUp(); cam.CameraStop(); }
//   cam.Close();
//
// Results. Nothing throws. A command returns 1 when it is done, or queued on a
// healthy serial line (a move replaced by a newer one before it went out
// counts as done: the newer one won); 0 when it failed, and why is in
// LastError, read right after the call on the same thread: no link (not set
// up, closed), a link that failed, an operation the link cannot send (see
// WhyCannot), a full command queue. Open returns 1 on success and 0 on
// failure. SetCommDevice returns false when the serial line cannot be had.
// Calls that do not apply to the camera's mode are ignored.
//
// Serial lines: each camera's commands wait in a queue of their own and the
// line takes them only as fast as it sends them, so a stop overtakes what
// waits: it removes the moves not yet sent and goes next. A newer move
// replaces one not yet sent; presets set or cleared and switches keep their
// order. A stop ends every motion started since the last stop (VISCA: drive,
// zoom and focus; with none known, pan-tilt and zoom).
//
// Threads. Configuration and command calls may come from any host thread, one
// call at a time per camera, except that a stop may be made while another
// call of the same camera (any call: a command, a configuration call, Close)
// runs on another thread, in the serial and tracking modes; they do not wait
// for the device, except in the
// network mode: Open of a relayed device waits up to 5 seconds for the relay,
// and an ONVIF call (SetSocketParam, Open, every command) returns once the
// camera has answered its requests, within 5 seconds (and a few milliseconds)
// whatever the camera does: the requests of one call share one 5-second
// deadline, and once one has run out of time the call asks nothing more.
// Setting up an ONVIF camera (SetSocketParam, then Open) thus takes at most
// 10 seconds; a camera that needs more than 5 seconds for the requests of one
// set-up call does not open. Reports arrive on one of the library's own
// threads, never on the calling thread. Once Close or the
// destructor has returned, no report for that camera runs or starts, so the
// context may be freed. A notify function may call Close (and, in tracking
// mode, SetSystemParam) of its own or any other camera; it must not wait for
// anything that itself waits for a report to finish.
//
// Unloading. Close every camera before FreeLibrary or dlclose: the library's
// threads end with the last Close, so the unload has nothing to wait for.
// While a camera is open the library keeps itself loaded: an unload then
// leaves it in place, its cameras and reports running, never a hang. At
// process exit open cameras are left to the system: exiting never waits.
//
// Report bytes: serial mode, the 7-byte return-code frame; tracking mode, the
// 5-byte report AA 50 02 <address> <state>; relayed devices of type 4, the
// 18 characters "Camera Return Code" (target appears or disappears). ONVIF
// cameras send no reports.
#ifndef KORVANE_KORVANE_H
#define KORVANE_KORVANE_H

#include <korvane/korvane_c.h>

#include <cstdint>
#include <memory>

#if defined(_WIN32)
#if defined(KORVANU_BUILDING)
#define KORVANE_API __declspec(dllexport)
#else
#define KORVANE_API __declspec(dllimport)
#endif
#else
#define KORVANE_API __attribute__((visibility("default")))
#endif

// How the camera is reached.
enum KORVANEMODE : std::int32_t {
    MODE_SERIAL = 1,       // on a serial line (RS-485/RS-232), by bus address
    MODE_NETWORK = 2,      // ONVIF camera, or a device behind the relay service
    MODE_TRACKSYSTEM = 3,  // through the tracking system, over UDP
};

// Command frames sent to the camera.
enum PTZPROTOCOL : std::int32_t {
    PROTOCOL_PELCO_D = 1,
    PROTOCOL_PELCO_P = 2,
    PROTOCOL_VISCA = 3,
};

// Network mode only (SetDeviceType).
enum DEVICETYPE : std::int32_t {
    DEVICE_TYPE_1 = 1,  // relayed device, kind 1 (the default)
    DEVICE_TYPE_2 = 2,  // relayed device, kind 2
    DEVICE_ONVIF = 3,   // ONVIF camera, driven in process
    DEVICE_TYPE_4 = 4,  // relayed device, kind 4, with target events
    // VISCA over IP (UDP, port 52381 when SetSocketParam's port is 0), driven
    // in process. 16: the relay is handed 0 to 5 as device kinds of its own.
    DEVICE_VISCA_IP = 16,
};

// Tracking-system mode only (SetSystemType). Only type 1 sends the tracking
// system's own on/off packets from OpenTrack and CloseTrack.
enum TRACKSYSTEMTYPE : std::int32_t {
    TRACKSYSTEM_TYPE_1 = 1,
};

// Serial settings. Only these three fields are read: speed and data bits go to
// the line (no parity, one stop bit); Protocol (a PTZPROTOCOL value, 1 to 3)
// sets the camera's protocol, any other value leaves it as it was. A speed
// the line cannot run, 0 included, fails SetCommDevice. Cameras sharing a
// line use the settings of the first camera that opened it.
struct MYDCB {
    std::uint32_t BaudRate;
    std::uint8_t ByteSize;
    std::uint8_t Protocol;
};

// --- capabilities and link state ---------------------------------------------
// The operations a host may ask about (CKorvane::Can); the same numbers as
// KORVANE_OP_* in the C interface. Move covers the eight moves and stop.
enum KORVANEOPERATION : std::int32_t {
    OP_MOVE = 1,
    OP_ZOOM = 2,
    OP_FOCUS = 3,
    OP_IRIS = 4,
    OP_PRESET = 5,
    OP_TRACK = 6,
    OP_AUTOZOOM = 7,
    OP_AUTOWRITE = 8,
    OP_TEST = 9,
    OP_POSITION = 10,
    OP_HOME = 11,
};
// --- end of capabilities and link state ----------------------------------------

// Report message codes handed to RecvNotify (KORVANE_TARGET_APPEARS, 0x8400,
// to KORVANE_WRITE_STOP, 0x8407) come from the C interface, declared beside
// the class.

// A report: its bytes (valid only during the call), their count, the message
// code (0x8400 to 0x8407) and the context given to SetRecvNotify.
typedef void (*RecvNotify)(const unsigned char* data, int length, unsigned int message,
                           void* context);

namespace korvane {
class CCameraBackend;
struct CDiscoveryResult;
}

class KORVANE_API CKorvane {
public:
    // Any mode other than 1 to 3 gives a camera that does nothing: Open
    // returns 1, commands return 1, SetCommDevice returns false.
    explicit CKorvane(KORVANEMODE mode);
    ~CKorvane();
    // Copies share one camera: the last object that holds it releases it.
    CKorvane(const CKorvane& other);
    CKorvane& operator=(const CKorvane& other);

    // --- configuration ------------------------------------------------------
    // Set the address before SetCommDevice / SetSystemParam and keep it until
    // Close: reports are routed by the address the camera had at set-up.
    void SetDeviceAddress(unsigned int address);
    void SetHorizonSpeed(int speed);  // pan speed; 0..63 on the wire
    void SetVertcalSpeed(int speed);  // tilt speed; 0..63 on the wire
    // Serial mode: opens (or shares) the named device, e.g. "/dev/ttyUSB0" or
    // "COM3", and binds the camera under its address. False for a null or
    // empty name, a device that cannot be opened or is busy, an address
    // already bound on that line, and in the other modes.
    bool SetCommDevice(const char* port, MYDCB& dcb);
    // Network mode. ONVIF (3): call before SetSocketParam. Relayed types: a
    // fresh pair of UDP sockets on 127.0.0.1 on every call (the earlier pair
    // is closed); Open takes the relay's answer only from this machine.
    void SetDeviceType(DEVICETYPE type);
    // Network mode. Relayed devices: each text fills a 255-byte field of the
    // open request and is cut to 254 bytes; the relay receives the first 238
    // bytes of the password with its terminating zero (longer passwords reach
    // it cut to 239 bytes without one). ONVIF: ip (IPv4 or IPv6 address),
    // port, user, password; reads the camera's clock and finds its media and
    // PTZ services at once; a later call with other credentials replaces them.
    // ip may also be "https://address[:port]" (or "http://..."), which carries
    // its own port (443 or 80 when it names none); a bare address on port 443
    // is HTTPS too (see SetTlsFingerprint).
    // ONVIF requests all go to the ip and port given here: of the service
    // addresses the camera advertises only the path (and query) is used, so
    // nothing is sent to another host or port, and a camera behind NAT that
    // advertises its inside address is reached all the same.
    // ONVIF credentials go only as WS-Security digests and, when the camera
    // asks for HTTP authentication, as HTTP digest answers; a camera that asks
    // for HTTP Basic gets no password and its requests fail.
    // ONVIF commands: moves and zoom are continuous moves (velocity (s+1)/64
    // for a speed s > 0, scaled onto the camera's advertised velocity range
    // when that is not -1 to 1), presets 1 to 256 (named by their number on the
    // camera), focus, iris, track, auto-zoom and auto-write send nothing.
    // Going to a preset number never stored stores the present position
    // under it first; going to a number cleared with PreSet(n, 2) sends
    // nothing, moves nothing and returns 0 (UNSUPPORTED, saying so), until
    // the number is set again.
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port,
                        unsigned int value4, const char* user, const char* password,
                        const char* text7);
    // Tracking mode.
    void SetSystemType(TRACKSYSTEMTYPE type);
    // Tracking mode: the tracking system's IPv4 address and UDP port (low 16
    // bits). Binds local UDP port 10000, shared by every tracking camera.
    void SetSystemParam(PTZPROTOCOL protocol, const char* ip, unsigned int port);
    // Register before Open. A null function turns reports off. Serial mode:
    // registered before Open, it makes Open send "go to preset 88" and "go to
    // preset 100", the tracking camera's switch that turns its reports on; a
    // camera that is no tracking camera moves to those presets if it has them.
    void SetRecvNotify(RecvNotify notify, void* context);

    // --- link ----------------------------------------------------------------
    int Open();
    void Close();

    // --- commands: 1 done (or queued on a healthy line), 0 failed (LastError) --
    int MoveUp();
    int MoveDown();
    int MoveLeft();
    int MoveRight();
    int MoveTopLeft();
    int MoveTopRight();
    int MoveButtomLeft();
    int MoveButtomRight();
    // Ends every motion: Pelco its stop frame, ONVIF pan-tilt and zoom (and an
    // Imaging focus move), VISCA every motion since the last stop (with none
    // known, pan-tilt and zoom). It goes before moves still waiting.
    int CameraStop();
    int ZoomPlus();
    int ZoomMinus();
    int FocusPlus();
    int FocusMinus();
    int IrisPlus();
    int IrisMinus();
    // PresetOp: 0 go to, 1 set, 2 clear; other values send nothing and give 0.
    int PreSet(int preset, unsigned char PresetOp);
    int OpenTrack();
    int CloseTrack();
    int OpenAutoZoom();
    int CloseAutoZoom();
    int OpenAutoWrite();
    int CloseAutoWrite();
    // Tests the link and shows the outcome in the message box. ONVIF: asks
    // the camera for its presets (its profiles before Open, its services
    // again when set-up failed), a request that needs the credentials: 1 when
    // it answered, 0 with its reason (LastError) when not; GetLinkState
    // follows. A serial line, the tracking system and the relay cannot answer
    // the test: 1 when the frame went out, with LastError's outcome
    // KORVANE_RESULT_UNCONFIRMED (sent, not confirmed); 0 when it could not.
    int ConnectTest();

    // --- capabilities and link state -----------------------------------------
    // What the camera's link can send, as set up now (mode, protocol, device
    // type, tracking-system type): an operation it cannot send is sent as
    // nothing by the command calls. Any thread, no I/O.
    bool Can(KORVANEOPERATION op) const;
    // Why the link sends nothing for op: 1 and the reason (UTF-8, cut to
    // size bytes with its terminating zero) when it cannot, 0 when it can.
    int WhyCannot(KORVANEOPERATION op, char* why, int size) const;
    // The preset numbers the link carries (ONVIF 1 to 256, frames 0 to 255);
    // false when it carries none.
    bool GetPresetRange(int& first, int& last) const;
    // The presets the camera holds, as the library knows them: an ONVIF
    // camera's as listed at Open and kept by PreSet since (another program's
    // changes show after the next Open). Writes up to size of them to
    // presets, ascending, and returns how many there are (more than size
    // when they did not all fit); -1 when they are not known: a frame link
    // cannot ask its camera, an ONVIF camera not open. Any thread, no I/O.
    int GetStoredPresets(int* presets, int size) const;
    // The same answers for a link described without a camera (nothing is
    // opened): a tool checks its command line with these.
    static int LinkWhyCannot(KORVANEMODE mode, PTZPROTOCOL protocol, DEVICETYPE type, TRACKSYSTEMTYPE systemType,
                             KORVANEOPERATION op, char* why, int size);
    static bool LinkPresetRange(KORVANEMODE mode, PTZPROTOCOL protocol, DEVICETYPE type, int& first, int& last);
    // What the library last saw of the link: KORVANE_LINK_OK (an ONVIF
    // request or the relay answered), KORVANE_LINK_FAILED with the reason (a
    // request failed or timed out, the relay did not answer, a serial write
    // failed), or KORVANE_LINK_UNCHECKED: nothing seen yet, or a link that
    // cannot answer (tracking system, serial line) whose last send went out.
    // A later success turns a failed link back. reason may be null.
    int GetLinkState(char* reason, int size) const;
    // Why the calling thread's last call failed: its outcome (KORVANE_RESULT_*)
    // and reason (UTF-8, cut to size bytes with its terminating zero). After a
    // success the reason is "" or says what else happened (UNCONFIRMED: the
    // link cannot tell; an ONVIF go-to of a preset the camera did not have
    // stored the current view under it). Read it right after the call, on the
    // same thread.
    int LastError(char* text, int size) const;
    // --- end of capabilities and link state ----------------------------------
    // --- ONVIF: position, home, profile, certificate ----------------------------
    // ONVIF cameras only; the other links send nothing and return 0.
    // Where the camera points (GetStatus): pan, tilt and zoom as the camera
    // reports them (in its default spaces, usually -1 to 1 for pan and tilt
    // and 0 to 1 for zoom) and moving 1 while either axis moves. 1 read; 0
    // when the camera is not open, does not answer or reports no position. An
    // axis the camera leaves out keeps the value passed in.
    int GetPosition(float& pan, float& tilt, float& zoom, int& moving);
    // Go to (at the pan and tilt speeds) or store the camera's home position:
    // 1 the camera took it, 0 not.
    int GotoHome();
    int SetHome();
    // The media profile to drive, by its token (cameras.json "profile"); null
    // or empty: the first profile with a PTZ configuration. Read by Open.
    void SetOnvifProfile(const char* token);
    // HTTPS cameras (SetSocketParam with ip "https://192.168.1.64[:port]", or
    // port 443): their certificate is verified against the system's store
    // unless its SHA-256 fingerprint is pinned here (64 hex digits, colons
    // allowed); then exactly that certificate is accepted, self-signed or
    // not. Null or empty: no pin. Call before SetSocketParam.
    void SetTlsFingerprint(const char* sha256);
    // ONVIF moves end by themselves this many milliseconds after they were
    // sent (the ContinuousMove Timeout), so that a camera stops even when
    // the host that moved it is gone before its stop; a held move must then
    // be sent again within that time. 0 (the default): moves last until
    // stopped. Other links ignore it.
    void SetMoveTimeout(unsigned milliseconds);

private:
    KORVANEMODE m_eMode;
    std::shared_ptr<korvane::CCameraBackend> m_pBackend;
};

// Finding ONVIF cameras on the local network (WS-Discovery): Run sends one
// probe for network video transmitters to 239.255.255.250:3702 and collects
// the answers. Apart from CKorvane: nothing is opened or driven.
//
//   CKorvaneDiscovery finder;
//   for (int i = 0, n = finder.Run(3000); i < n; ++i)
//       printf("%s %s:%d %s\n", finder.Name(i), finder.Host(i), finder.Port(i), finder.Ptz(i) ? "PTZ" : "");
//
// A camera found is opened as MODE_NETWORK, DEVICE_ONVIF, with Host (or
// "https://" Host for Scheme "https") and Port. Texts stay valid until the
// next Run or the object's end; an index out of range gives "" (0). Texts
// from the answers are valid UTF-8 without control characters; a search
// keeps at most 1000 cameras.
class KORVANE_API CKorvaneDiscovery {
public:
    CKorvaneDiscovery();
    ~CKorvaneDiscovery();
    CKorvaneDiscovery(const CKorvaneDiscovery&) = delete;
    CKorvaneDiscovery& operator=(const CKorvaneDiscovery&) = delete;

    // Waits timeoutMs (at most 60000) for answers, from the interface with
    // this IPv4 address (null or "": the system's choice); returns the number
    // of cameras found. Blocks the calling thread; no callback.
    int Run(int timeoutMs, const char* interfaceIp = nullptr);
    int Count() const;
    // Why nothing could be sent or received ("" when the probe went out).
    const char* Error() const;

    const char* Address(int index) const;   // its device service address
    const char* Scheme(int index) const;    // "http" or "https"
    const char* Host(int index) const;      // IP address (no brackets)
    int Port(int index) const;
    const char* Name(int index) const;      // from its scopes; may be ""
    const char* Hardware(int index) const;  // from its scopes; may be ""
    bool Ptz(int index) const;              // it advertises PTZ
    const char* Endpoint(int index) const;  // "urn:uuid:..."
    double AnsweredAfter(int index) const;  // seconds from the probe to its answer

private:
    std::unique_ptr<korvane::CDiscoveryResult> m_pResult;
};

// The library shows one kind of message: a box titled "提示" with the system's
// text for an error (ConnectTest, socket failures). Install a handler to show
// it yourself; texts are UTF-8. A null handler restores the default (a message
// box on Windows; one line on standard error elsewhere).
// The handler runs on the thread that caused the message, several at once
// when several threads do. Once this setter has returned, the handler it
// replaced runs no more and every call of it has finished (the setter waits
// for them), so its context may be freed; two exceptions: a call on the
// setter's own thread (a handler may set the handler, and may call any
// function of the library), and calls on threads that are at that moment
// setting the handler themselves. A handler must not wait for another
// thread that is setting the handler.
extern "C" KORVANE_API void KorvaneSetMessageHandler(
    void (*handler)(const char* title, const char* text, void* ctx), void* ctx);

#endif  // KORVANE_KORVANE_H
