// One camera of the panel's room: its settings and what the link can send,
// its state (guarded by the room's mutex), and the thread that drives it with
// its queue of jobs. Shared by the room's own files only.
#pragma once

#include "Room.h"

#include <korvane/korvane_c.h>

#include <array>

namespace korvane::tool::panel {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Positions are read at most this often, and for this long after a camera
// was last driven (it may still coast, or travel to a preset or home).
inline constexpr std::chrono::milliseconds kPollEvery{250};
inline constexpr std::chrono::milliseconds kPollSettle{1000};
// An ONVIF camera's move ends by itself this long after its hold's lease
// would, unless renewed: a panel that dies (SIGKILL, power) leaves no camera
// moving for longer than lease + margin. The margin covers a renewal's trip.
inline constexpr std::chrono::milliseconds kOnvifMoveMargin{500};

// The room whose camera thread is running: the library's message box (the
// connection test's result) is shown on the thread that made the call.
struct MessageTarget {
    CRoom* room = nullptr;
    std::string camera;
};
extern thread_local MessageTarget t_messageTarget;

// What the library says the link can send: from the link's settings until
// the camera is open, then the opened camera's own (an ONVIF camera tells at
// Open whether it can focus). {"can": [names], "cannot": {name: why},
// "presets": {first, last, names: {"1": "lectern"}, stored: [1, 5]}}, stored
// only where the opened camera says which presets it holds.
json Capabilities(const CameraOptions& options, const CKorvane* opened = nullptr);
// The presets the opened camera holds, or null when it cannot tell.
json StoredPresets(const CKorvane& opened);

struct CRoom::Camera {
    Camera(NamedCamera named)
        : name(std::move(named.name)), options(std::move(named.options)), capabilities(Capabilities(options)),
          readsPosition(!capabilities["cannot"].contains(korvane_operation_name(OP_POSITION))),
          onvif(options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF)
    {
        panSpeed = options.panSpeed;
        tiltSpeed = options.tiltSpeed;
    }

    // Throws RoomError 422 when the link sends nothing for op.
    void Check(KORVANEOPERATION op) const
    {
        const char* opName = korvane_operation_name(op);
        const json& cannot = capabilities["cannot"];
        if (cannot.contains(opName))
            throw RoomError(422, "camera '" + name + "' cannot " + opName + ": " + cannot[opName].get<std::string>());
    }
    void CheckPreset(int number) const
    {
        Check(OP_PRESET);
        const json& range = capabilities["presets"];
        if (number < range.value("first", 0) || number > range.value("last", -1))
            throw RoomError(422, "camera '" + name + "' has presets " + std::to_string(range.value("first", 0)) +
                                     " to " + std::to_string(range.value("last", -1)) + ", not " +
                                     std::to_string(number));
    }

    const std::string name;
    const CameraOptions options;
    json capabilities;  // guarded by the room's m_mutex once the camera's thread runs
    const bool readsPosition;
    const bool onvif;

    // How long an ONVIF camera's move of a hold with this lease lasts by
    // itself: lease + margin, or the camera file's move_timeout when shorter
    // (the operator wants that camera never to coast further).
    std::chrono::milliseconds MoveTimeout(std::chrono::milliseconds lease) const
    {
        const std::chrono::milliseconds own = lease + kOnvifMoveMargin;
        const std::chrono::milliseconds file{options.moveTimeoutMs};
        return file.count() != 0 && file < own ? file : own;
    }

    // Guarded by the room's m_mutex.
    std::string state = "opening";
    std::string reason;
    bool opened = false;  // the link exists: commands go to it, whatever the state says
    bool checked = false; // the link answered once (the library saw it)
    std::string motion;  // held now, or empty
    std::string holder;  // of that motion
    std::string driver;  // the holder that drives the camera (its last hold or take), until it goes away
    std::set<std::string> ousted;  // holders another took it from: refused until they take it back
    std::uint64_t press = 0;  // the holder's press that holds it (0: none given)
    std::map<std::string, std::uint64_t> ended;  // holder -> the last press a stop or release ended
    Clock::time_point deadline;
    Clock::time_point moveSent;                // ONVIF: when the held move was last asked for
    std::chrono::milliseconds moveTimeout{0};  // ONVIF: how long that move lasts by itself
    int panSpeed = 32;
    int tiltSpeed = 32;
    std::map<std::string, bool> switches;
    json position;  // {pan, tilt, zoom, moving} as last read, or null
    Clock::time_point pollUntil;  // read the position until then
    Clock::time_point polled;     // when a read was last asked for
    bool pollQueued = false;

    // The camera's own thread and what it is to do. A held motion or a stop
    // is not queued: only the latest wanted one is kept, and it goes before
    // any other job, so that a stop never waits behind moves a slow camera
    // has not sent yet.
    // A job gets the camera it runs on: none keeps a reference of its own.
    using Job = std::function<void(Camera&)>;
    void Post(Job job)
    {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            jobs.push_back(std::move(job));
        }
        queued.notify_one();
    }
    // timeout: the move's own end on an ONVIF camera (none: as it was). A
    // replaced motion's done gets what became of the one sent in its place.
    void Want(CRoom::Call call, std::optional<std::chrono::milliseconds> timeout = std::nullopt, Done done = {})
    {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            wanted = call;
            wantedTimeout = timeout;
            if (done) wantedDone.push_back(std::move(done));
        }
        queued.notify_one();
    }
    void WantStop(Done done = {}) { Want(&CKorvane::CameraStop, std::nullopt, std::move(done)); }
    void Run(CRoom& room)
    {
        t_messageTarget = {&room, name};
        for (;;) {
            Job job;
            CRoom::Call motion = nullptr;
            std::optional<std::chrono::milliseconds> timeout;
            std::vector<Done> done;
            {
                std::unique_lock<std::mutex> lock(queueMutex);
                queued.wait(lock, [&] { return quit || wanted || !jobs.empty(); });
                if (wanted) {
                    motion = wanted;
                    wanted = nullptr;
                    timeout = wantedTimeout;
                    done.swap(wantedDone);
                } else if (!jobs.empty()) {
                    job = std::move(jobs.front());
                    jobs.pop_front();
                } else {
                    break;
                }
            }
            try {
                if (timeout && link) link->Camera().SetMoveTimeout(static_cast<unsigned>(timeout->count()));
                if (motion) {
                    const Outcome outcome = Send(motion);
                    for (const Done& each : done) each(outcome);
                } else {
                    job(*this);
                }
                room.FollowLink(*this);
            } catch (const std::exception& error) {
                // One failed job ends neither the camera's thread nor the process.
                room.NoteFromCamera(name, std::string("a command failed: ") + error.what());
            }
        }
        link.reset();  // closed on the thread that opened it
    }
    void Quit()
    {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            quit = true;
        }
        queued.notify_one();
        if (thread.joinable()) thread.join();
    }
    // On the camera's thread only: the call and what became of it.
    Outcome Call(CRoom::Call call)
    {
        if (!link) return {502, "", "camera '" + name + "' is not open"};
        return Result((link->Camera().*call)());
    }
    // The library's word on the call just made on this thread (ok: its 1 or 0).
    Outcome Result(int ok) const
    {
        std::array<char, 512> why{};
        const int seen = link->Camera().LastError(why.data(), static_cast<int>(why.size()));
        if (ok) return {200, seen == KORVANE_RESULT_UNCONFIRMED ? "unconfirmed" : "answered", ""};
        const int status = seen == KORVANE_RESULT_UNSUPPORTED ? 501 : seen == KORVANE_RESULT_QUEUE_FULL ? 503 : 502;
        return {status, "", why[0] ? why.data() : "the camera did not take the command"};
    }
    // A motion or stop, remembered so that a new speed applies to what the camera does now.
    Outcome Send(CRoom::Call motion)
    {
        sent = motion == &CKorvane::CameraStop ? nullptr : motion;
        return Call(motion);
    }

    std::mutex queueMutex;
    std::condition_variable queued;
    std::deque<Job> jobs;
    CRoom::Call wanted = nullptr;  // the motion or stop to send next
    std::optional<std::chrono::milliseconds> wantedTimeout;  // and its own end (ONVIF)
    std::vector<Done> wantedDone;  // told what became of it
    bool quit = false;
    CRoom::Call sent = nullptr;  // the camera's thread only: the motion under way
    std::unique_ptr<CCameraLink> link;  // the camera's thread only
    std::thread thread;
};

// The press the holder had on the camera is over: no later word of it moves
// the camera again. With the room's m_mutex held.
inline void EndPress(CRoom::Camera& camera, const std::string& holder, std::uint64_t press)
{
    if (press == 0) return;
    std::uint64_t& ended = camera.ended[holder];
    ended = std::max(ended, press);
}

// Whatever holds the camera lets go of it.
inline void EndHold(CRoom::Camera& camera)
{
    if (!camera.motion.empty()) EndPress(camera, camera.holder, camera.press);
    camera.motion.clear();
    camera.press = 0;
}

}  // namespace korvane::tool::panel
