// A simulated ONVIF PTZ camera: an HTTP server on 127.0.0.1 serving the
// device, media and PTZ services. It checks each request's UsernameToken
// digest (and, when told, HTTP digest authentication), keeps pan/tilt/zoom
// velocities and presets, answers with SOAP faults as cameras do, and records
// every request so that tests and the korvane tool can show what arrived.
// Its position moves with the velocity of the last continuous move (one unit
// a second at velocity 1), so GetStatus reads a camera that moves; a move
// with a Timeout ends by itself when it lapses.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace korvane::sim {

struct OnvifRequest {
    std::string path;        // "/onvif/ptz_service"
    std::string operation;   // local name of the body's element: "ContinuousMove"
    std::string body;        // the whole envelope
    bool authorized = false; // UsernameToken (and HTTP digest, if required) accepted
    std::map<std::string, std::string> values;  // what the request carried, e.g. "pan" -> "0.515625"
    std::chrono::steady_clock::time_point arrived;  // when its last byte was read
};

// How the camera misbehaves, for the client's bad-input tests.
// BasicChallenge: 401 with "WWW-Authenticate: Basic" until Basic credentials
// come. EndlessStaleDigest: every request 401, digest, stale, a fresh nonce.
enum class OnvifFault {
    None, MalformedXml, SoapFault, Http401, Http500, EmptyBody, HugeBody, NoAnswer, BasicChallenge,
    EndlessStaleDigest
};

struct OnvifCameraOptions {
    std::string user = "admin";
    std::string password = "secret";
    bool requireHttpDigest = false;          // answer 401 until HTTP digest is used
    std::chrono::seconds clockOffset{0};     // the camera's clock against ours
    bool answerGetCapabilities = true;       // false: only GetServices finds services
    // GetSystemDateAndTime answers these Year, Month, Day, Hour, Minute and
    // Second texts instead of the camera's clock; tokens' times then go
    // unchecked (their Created is recorded as "created").
    std::vector<std::string> claimedDate;
    // Service addresses are advertised under this scheme, host and port
    // ("http://192.168.1.64:8080"); empty: the camera's own.
    std::string serviceBase;
    // false: a newer camera with only the ver20 media service (GetServices
    // lists it, GetProfiles answers in its form).
    bool media1 = true;
    // The newer media service faults on GetProfiles with Type All, as some
    // servers do, and answers it without a Type.
    bool faultTypeAll = false;
    // The continuous pan/tilt and zoom velocity ranges advertised: -v to v
    // (1: the generic space).
    float velocityRange = 1.0f;
    // The Imaging service (focus) of the video source, advertised by
    // GetCapabilities and GetServices; false: a camera without one.
    bool imaging = true;
    // HTTPS with a self-signed certificate made at start (not on Windows);
    // tlsExpired: one whose dates lie in the past.
    bool tls = false;
    bool tlsExpired = false;
    // Answer WS-Discovery probes on this IPv4 interface address (empty: none)
    // with these scopes (empty: the camera's own name and hardware).
    std::string probeInterface;
    std::string scopes;
};

// How fast the camera answers: each answer waits delay, then its status
// line and headers go at once and the body follows one byte per drip (zero:
// all at once).
struct OnvifPace {
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds drip{0};
};

class COnvifCamera {
public:
    explicit COnvifCamera(OnvifCameraOptions options = {}, std::uint16_t port = 0);
    ~COnvifCamera();
    COnvifCamera(const COnvifCamera&) = delete;
    COnvifCamera& operator=(const COnvifCamera&) = delete;

    std::uint16_t Port() const { return m_nPort; }
    // "http://127.0.0.1:PORT" or "https://...".
    std::string Origin() const;
    // The SHA-256 fingerprint of the HTTPS certificate, hex; empty without TLS.
    std::string TlsFingerprint() const;
    // Probes answered so far.
    std::size_t ProbesAnswered();
    void SetFault(OnvifFault fault);
    // Every answer's pace, unless its operation has one of its own.
    void SetPace(OnvifPace pace);
    void SetPace(const std::string& operation, OnvifPace pace);
    // The camera's clock steps (against ours) from now on: tokens dated by
    // the old clock are refused, as a camera whose clock jumped refuses them.
    void SetClockOffset(std::chrono::seconds offset);

    // The next SOAP request that arrived (HTTP challenges are not counted).
    std::optional<OnvifRequest> NextRequest(std::chrono::milliseconds timeout);
    std::optional<OnvifRequest> NextOf(const std::string& operation, std::chrono::milliseconds timeout);
    // HTTP requests of every kind, challenges included.
    std::size_t HttpRequestCount();
    std::size_t ConnectionCount();
    // Every Authorization header that arrived, in order.
    std::vector<std::string> AuthorizationHeaders();

    // Preset token -> name as the camera has them now.
    std::map<std::string, std::string> Presets();
    // The focus position (0 near to 1 far) and whether a focus move runs.
    std::pair<float, bool> Focus();

    // One line per request, e.g. "ContinuousMove Profile_1 pan 0.515625 tilt 0 zoom 0".
    static std::string Describe(const OnvifRequest& request);

    struct Impl;

private:
    std::unique_ptr<Impl> m_pImpl;
    std::uint16_t m_nPort = 0;
    std::thread m_thread;
};

}  // namespace korvane::sim
