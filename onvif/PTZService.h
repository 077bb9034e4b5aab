// Drives one ONVIF camera through its session and services (Session.h):
// finds its media (or newer media) and PTZ services, uses the profile the
// host named or else the first profile with a PTZ configuration, and keeps
// the tokens the camera hands out so that the host can speak in plain preset
// numbers 1 to 256.
//
// Each operation is one host call: its requests share one deadline of 5
// seconds (COnvifConnection::kCallBudget), and once a request has run out of
// time the operation makes no more, so none blocks the calling thread longer.
#pragma once

#include "onvif/Session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace korvane {

// What one operation came to: its value (1 done, 0 not, -1 refused here
// without a request) and what its requests came to (COnvifConnection::
// CallOutcome), which the back-end turns into the link state.
// note: what a successful operation did beyond what it was asked, for the
// host to read (LastError) beside its success.
struct OnvifResult {
    OnvifResult() = default;
    OnvifResult(int value_, std::optional<std::string> outcome_, std::string note_ = {})
        : value(value_), outcome(std::move(outcome_)), note(std::move(note_))
    {
    }
    int value = 0;
    std::optional<std::string> outcome;
    std::string note;
};

// The preset numbers a camera holds, ascending, as its client last published
// them: listed at Open, kept by set, clear and a go-to that stored since;
// nullopt while not open or when Open could not list them. The client writes
// it; its owner reads it from any thread, with no request (a host shows them
// while a move is in flight), and keeps it across clients made after Close.
class CStoredPresets {
public:
    void Publish(std::optional<std::vector<int>> stored)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stored = std::move(stored);
    }
    std::optional<std::vector<int>> Read() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stored;
    }

private:
    mutable std::mutex m_mutex;
    std::optional<std::vector<int>> m_stored;
};

// Requests go over two HTTP connections, each its own curl handle: an
// ordered control session (moves, stop, presets, home) and a query session
// (position, connection test), so that a stop never waits behind a slow
// position read. A stop goes before any control request still waiting its
// turn, right after the one in flight (bounded by that request's deadline):
// a stop on a connection of its own could be overtaken by a move still in
// flight on the other. Stop and GetStatus may come from any thread while
// another operation runs; set-up (Init, Open, the setters) one at a time.
class CPTZService {
public:
    static constexpr int kFirstPreset = 1;
    static constexpr int kLastPreset = 256;

    explicit CPTZService(std::shared_ptr<CStoredPresets> stored = std::make_shared<CStoredPresets>());
    virtual ~CPTZService() = default;

    // The camera at ip:port (ip may be "https://address[:port]"). The latest
    // credentials are the ones used. Asks for the camera's time and its
    // service addresses at once.
    OnvifResult Init(const char* ip, unsigned int port, const char* user, const char* password);
    // Profiles, PTZ configuration and presets: 1 ready, 0 failed.
    OnvifResult Open();

    // The profile to use by its token (empty: the first with PTZ); read by Open.
    void SetProfileToken(const std::string& token);
    // The certificate an HTTPS camera must show (SHA-256, hex); before Init.
    void SetTlsFingerprint(const std::string& fingerprint);
    // A move ends by itself this long after it was sent (0: never): the
    // camera stops even when its sender is gone.
    void SetMoveTimeout(std::chrono::milliseconds timeout) { m_moveTimeoutMs = timeout.count(); }
    // Position and move status: 1 read, 0 not.
    OnvifResult GetStatus(onvif::PtzStatus& status);
    OnvifResult GotoHome(int horizontalSpeed, int verticalSpeed);  // 1 taken, 0 not
    OnvifResult SetHome();                                          // 1 taken, 0 not
    // Each of these refuses (-1, no request) while no profile is known.
    OnvifResult ContinuousMove(float pan, float tilt, float zoom);
    // Every axis, whatever moved last or who started it, and the focus when
    // a focus move went out since the last stop that reached the camera.
    OnvifResult Stop();
    // A continuous focus move (-1 near to 1 far) through the Imaging
    // service; refused (-1, no request) when the open camera has none.
    OnvifResult Focus(float speed);
    // Whether the last Open found an Imaging service for the profile's
    // video source. Any thread.
    bool HasFocus() const { return m_bHasFocus.load(); }
    // Presets are the camera's, named by their number, as GetPresets at Open
    // listed them: one preset per number.
    // 1 stored, 0 not. A number the camera has is updated in place (its
    // token goes with the request): cameras refuse a second preset of a name.
    OnvifResult SetPreset(int preset);
    // Clears the number: the camera's preset is removed when one is known
    // (0 refused here, else the camera's result), and the number stays
    // cleared until it is stored again.
    OnvifResult RemovePreset(int preset);
    // A number the camera does not have is stored at the present position
    // first, and the result's note says so; a cleared number sends nothing
    // (0): it must not come back unasked.
    OnvifResult GotoPreset(int preset, int horizontalSpeed, int verticalSpeed);
    // The connection test: one real request that needs the credentials (the
    // PTZ presets once open, else the media profiles). value 1 when
    // answered; text says what happened, for the host's message.
    OnvifResult Test(std::string& text);

    void ClearPresets();

private:
    // The control session's turns: one request at a time, stops first.
    class CTurns {
    public:
        bool Take(bool stop, std::chrono::steady_clock::time_point until);
        void Give();

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        bool m_bBusy = false;
        int m_nStopsWaiting = 0;
    };
    class CControlTurn;
    class CSetUp;

    OnvifResult Done(onvif::COnvifConnection& connection, int value) const;
    // Stores the present position under the number, updating the camera's
    // preset of that name. For a go-to (keepListed) a preset the camera
    // turns out to have is left as it is: only its token is learned.
    enum class Stored { No, Yes, Listed };
    Stored StorePreset(int preset, bool keepListed);
    static bool InRange(int preset) { return preset >= kFirstPreset && preset <= kLastPreset; }
    OnvifResult Discover();
    // Publishes m_mapPresets to m_pStored; an unknown list when the PTZ
    // profile is not ready or Open could not list the presets.
    void KeepStoredList();

    onvif::COnvifSession m_session;  // control under m_turns, query under m_queryMutex
    CTurns m_turns;
    std::mutex m_queryMutex;
    std::atomic<long long> m_moveTimeoutMs{0};
    // Written by set-up only, which holds both sessions.
    onvif::CMediaService m_media;
    onvif::CPtzService m_ptz;
    onvif::CImagingService m_imaging;
    std::atomic<bool> m_bHasFocus{false};
    std::string m_strProfileWanted;
    // The control session's: number -> the camera's token.
    std::map<int, std::string> m_mapPresets;
    std::set<int> m_setCleared;  // cleared by the host, not stored since
    bool m_bListed = false;  // Open read the camera's list
    std::shared_ptr<CStoredPresets> m_pStored;  // m_mapPresets as last published
    bool m_bFocusMoved = false;  // a focus move went out since the last stop of it
};

// "http://<ip>:<port>/onvif/device_service", or empty when ip is no IP
// address or the port is not a TCP port. ip may be an address with a
// scheme, "https://192.168.1.64[:8443]", which carries its own port (443 or
// 80 when it names none; port is then not used); a bare address on port 443
// is reached over HTTPS.
std::string DeviceServiceUrl(const char* ip, unsigned int port);

}  // namespace korvane
