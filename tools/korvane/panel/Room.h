// The room behind the panel: every camera of the camera file, each opened and
// driven on a thread of its own (an ONVIF request may take seconds and must
// not hold up the others), the feed of reports, and the leases that keep a
// held move going.
//
// A held move is a lease: it lasts until its holder renews it, releases it or
// goes away. A watchdog thread stops every camera whose lease lapses, so a
// page whose network drops stops its camera within the lease.
#pragma once

#include "../Camera.h"
#include "../CameraFile.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace korvane::tool::panel {

// What a held button does: the eight directions, "zoom-in", "zoom-out",
// "focus-far", "focus-near", "iris-open", "iris-close".
bool IsMotion(const std::string& motion);

// A command the room refused, with the HTTP status it maps to.
struct RoomError : std::runtime_error {
    RoomError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

// What became of a command on its camera: 200 with "answered" (or
// "unconfirmed": sent on a link that cannot tell), or the HTTP status of the
// failure (502 the camera or its link failed, 501 the link cannot send it,
// 503 too many commands wait) with the library's reason.
struct Outcome {
    int status = 200;
    std::string result = "answered";
    std::string error;
};
// Gets the outcome once, on the camera's thread, with no lock of the room held.
using Done = std::function<void(const Outcome&)>;

class CRoom {
public:
    // Gets every change (reports, notes, camera states) as a JSON message, in
    // order, from any thread. It must only hand the message on (post it), not
    // wait: the room holds its own lock around the call to keep the order.
    using Publish = std::function<void(const nlohmann::json& message)>;

    CRoom(std::vector<NamedCamera> cameras, COutput& output, Publish publish,
          std::size_t feedLimit = 200);
    ~CRoom();  // stops what moves, closes every camera
    CRoom(const CRoom&) = delete;
    CRoom& operator=(const CRoom&) = delete;

    bool Has(const std::string& name) const;
    // A camera joins the room and is opened at once; its state as Cameras
    // lists it. Throws RoomError 409 when the name is taken.
    nlohmann::json Add(NamedCamera camera);
    // {"cameras": [...], "pages": N}: names, links, states and positions (never
    // a password), and how many pages watch; "held_by_you" as the viewer sees it.
    nlohmann::json Cameras(const std::string& viewer) const;
    // The recent feed, newest first.
    nlohmann::json Feed() const;
    // {"cameras", "feed", "seq"}: both as of message number seq, so that a new
    // page can skip what it is sent again.
    nlohmann::json Snapshot(const std::string& viewer) const;

    // Starts a held motion, or renews it when the holder already holds the
    // same motion. press (0: none) numbers one press of a page's button: a
    // press that a stop or release has ended moves nothing again (409), so a
    // renewal still on its way when the button was let go restarts no camera.
    // One holder drives a camera at a time: another's hold takes it over (its
    // move replaces the former holder's), and the former holder, told by a
    // "taken" message, is refused (409) until it takes the camera back (take,
    // or a hold with take set).
    // Throws RoomError (404 unknown camera, 409 not open, 422 an operation the
    // camera's link cannot send; so do the other commands).
    void Hold(const std::string& name, const std::string& motion, const std::string& holder,
              std::chrono::milliseconds lease, std::uint64_t press = 0, bool take = false, Done done = {});
    // The holder takes the camera (back): whatever another holder moves stops.
    void Take(const std::string& name, const std::string& holder, Done done = {});
    // Stops the camera if this holder still holds it; ends the press either way.
    void Release(const std::string& name, const std::string& holder, std::uint64_t press = 0, Done done = {});
    // Stops every camera the holder holds (its page let go, or went away:
    // gone forgets the holder).
    void ReleaseAll(const std::string& holder, const std::string& why, bool gone = false);
    // Stops the camera whoever holds it, and ends that press; the caller's
    // own press too when it names one.
    void Stop(const std::string& name, const std::string& holder = "", std::uint64_t press = 0, Done done = {});
    // op: 0 go, 1 set, 2 clear; 422 for a number outside the link's presets.
    // Each command's done gets what became of it on the camera (at once, when
    // nothing is sent: a renewal, a release of what the caller does not hold).
    void Preset(const std::string& name, int number, int op, Done done = {});
    // what: "track", "autozoom", "autowrite".
    void Switch(const std::string& name, const std::string& what, bool on, Done done = {});
    void Speed(const std::string& name, std::optional<int> pan, std::optional<int> tilt, Done done = {});
    // Sends the connection test; a camera that failed to open is opened again.
    void Test(const std::string& name, Done done = {});
    // Goes to (set false) or stores (set true) the camera's home position.
    void Home(const std::string& name, bool set, Done done = {});

    // A page opened (+1) or closed (-1) its push channel. Positions are read
    // only while some page watches: a room nobody looks at asks no camera.
    void Watch(int change);

    // A line from the library's message box, shown for the camera whose
    // thread made the call.
    void NoteFromCamera(const std::string& camera, const std::string& text);

    struct Camera;
    using Call = int (CKorvane::*)();

private:
    Camera& Find(const std::string& name) const;
    Camera& FindOpen(const std::string& name) const;
    void Open(Camera& camera);
    // On the camera's thread after a preset call: the presets it holds now.
    void RefreshPresets(Camera& camera);
    // Makes holder the camera's driver, telling the one it replaces. With m_mutex held.
    void TakeOver(Camera& camera, const std::string& holder);
    // After each job on the camera's thread: the library's link state becomes
    // the camera's ("failed" with the reason, or "open" again).
    void FollowLink(Camera& camera);
    void Report(Camera& camera, const unsigned char* data, int length, unsigned int message);
    void Note(const std::string& camera, const std::string& text);
    nlohmann::json StateOf(const Camera& camera) const;  // with m_mutex held
    void PublishState(const Camera& camera);              // with m_mutex held
    void Emit(nlohmann::json message, bool toFeed);       // with or without m_mutex
    void Watchdog();
    // Reads where the moving cameras point, at most four times a second, as a
    // job on each camera's thread (a stop still goes before it).
    void Poller();
    void Positioned(Camera& camera, bool read, float pan, float tilt, float zoom, int moving);

    COutput& m_output;
    Publish m_publish;
    std::size_t m_feedLimit;

    // The registry: the cameras, their states and holds. Each camera is
    // shared with its own thread, which ends (Quit) before the room lets go.
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Camera>> m_cameras;

    mutable std::mutex m_feedMutex;  // the sequence, the feed, the order of published messages
    std::uint64_t m_nSequence = 0;
    std::deque<nlohmann::json> m_feed;  // newest at the front

    std::condition_variable m_leaseChanged;
    bool m_bClosing = false;
    std::thread m_watchdog;
    int m_nWatchers = 0;  // guarded by m_mutex
    std::condition_variable m_pollChanged;
    std::thread m_poller;
};

}  // namespace korvane::tool::panel
