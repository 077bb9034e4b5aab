#include "Room.h"

#include <korvane/korvane_c.h>

#include <algorithm>
#include <array>
#include <map>

namespace korvane::tool::panel {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using Call = CRoom::Call;

namespace {

// Positions are read at most this often, and for this long after a camera
// was last driven (it may still coast, or travel to a preset or home).
constexpr std::chrono::milliseconds kPollEvery{250};
constexpr std::chrono::milliseconds kPollSettle{1000};

const std::map<std::string, Call>& Motions()
{
    static const std::map<std::string, Call> motions = {
        {"up", &CKorvane::MoveUp},
        {"down", &CKorvane::MoveDown},
        {"left", &CKorvane::MoveLeft},
        {"right", &CKorvane::MoveRight},
        {"up-left", &CKorvane::MoveTopLeft},
        {"up-right", &CKorvane::MoveTopRight},
        {"down-left", &CKorvane::MoveButtomLeft},
        {"down-right", &CKorvane::MoveButtomRight},
        {"zoom-in", &CKorvane::ZoomPlus},
        {"zoom-out", &CKorvane::ZoomMinus},
        {"focus-far", &CKorvane::FocusPlus},
        {"focus-near", &CKorvane::FocusMinus},
        {"iris-open", &CKorvane::IrisPlus},
        {"iris-close", &CKorvane::IrisMinus},
    };
    return motions;
}

const std::map<std::string, std::pair<Call, Call>>& Switches()
{
    static const std::map<std::string, std::pair<Call, Call>> switches = {
        {"track", {&CKorvane::OpenTrack, &CKorvane::CloseTrack}},
        {"autozoom", {&CKorvane::OpenAutoZoom, &CKorvane::CloseAutoZoom}},
        {"autowrite", {&CKorvane::OpenAutoWrite, &CKorvane::CloseAutoWrite}},
    };
    return switches;
}

// The room whose camera thread is running: the library's message box (the
// connection test's result) is shown on the thread that made the call.
struct MessageTarget {
    CRoom* room = nullptr;
    std::string camera;
};
thread_local MessageTarget t_messageTarget;

// The library's operation a held motion belongs to: the lens's, or a move.
KORVANEOPERATION OperationOf(const std::string& motion)
{
    if (motion.rfind("zoom-", 0) == 0) return OP_ZOOM;
    if (motion.rfind("focus-", 0) == 0) return OP_FOCUS;
    if (motion.rfind("iris-", 0) == 0) return OP_IRIS;
    return OP_MOVE;
}

KORVANEOPERATION SwitchOperation(const std::string& what)
{
    return what == "track" ? OP_TRACK : what == "autozoom" ? OP_AUTOZOOM : OP_AUTOWRITE;
}

const char* const kUnchecked =
    "unchecked: this link has not answered (a serial line or a tracking system never does), "
    "so a command that does not arrive is not seen here";

// What the library says the link can send, asked once: it depends on the
// link's settings only. {"can": [names], "cannot": {name: why},
// "presets": {first, last, names: {"1": "lectern"}}}.
json Capabilities(const CameraOptions& options)
{
    json can = json::array(), cannot = json::object();
    for (std::int32_t op = OP_MOVE; korvane_operation_name(op); ++op) {
        std::array<char, 256> why{};
        const auto operation = static_cast<KORVANEOPERATION>(op);
        if (CKorvane::LinkWhyCannot(options.mode, options.protocol, options.deviceType, options.systemType, operation,
                                    why.data(), static_cast<int>(why.size())))
            cannot[korvane_operation_name(op)] = why.data();
        else
            can.push_back(korvane_operation_name(op));
    }
    int first = 0, last = -1;
    json presets = json::object();
    if (CKorvane::LinkPresetRange(options.mode, options.protocol, options.deviceType, first, last)) {
        presets = {{"first", first}, {"last", last}, {"names", json::object()}};
        for (const auto& [number, label] : options.presetNames) presets["names"][std::to_string(number)] = label;
    }
    return {{"can", can}, {"cannot", cannot}, {"presets", presets}};
}

}  // namespace

bool IsMotion(const std::string& motion) { return Motions().count(motion) != 0; }

struct CRoom::Camera {
    Camera(NamedCamera named)
        : name(std::move(named.name)), options(std::move(named.options)), capabilities(Capabilities(options)),
          readsPosition(!capabilities["cannot"].contains(korvane_operation_name(OP_POSITION)))
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
    const json capabilities;
    const bool readsPosition;

    // Guarded by the room's m_mutex.
    std::string state = "opening";
    std::string reason;
    bool opened = false;  // the link exists: commands go to it, whatever the state says
    bool checked = false; // the link answered once (the library saw it)
    std::string motion;  // held now, or empty
    std::string holder;
    std::uint64_t press = 0;  // the holder's press that holds it (0: none given)
    std::map<std::string, std::uint64_t> ended;  // holder -> the last press a stop or release ended
    Clock::time_point deadline;
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
    void Want(CRoom::Call call)
    {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            wanted = call;
        }
        queued.notify_one();
    }
    void WantStop() { Want(&CKorvane::CameraStop); }
    void Run(CRoom& room)
    {
        t_messageTarget = {&room, name};
        for (;;) {
            Job job;
            CRoom::Call motion = nullptr;
            {
                std::unique_lock<std::mutex> lock(queueMutex);
                queued.wait(lock, [&] { return quit || wanted || !jobs.empty(); });
                if (wanted) {
                    motion = wanted;
                    wanted = nullptr;
                } else if (!jobs.empty()) {
                    job = std::move(jobs.front());
                    jobs.pop_front();
                } else {
                    break;
                }
            }
            try {
                if (motion) Send(motion);
                else job(*this);
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
    // On the camera's thread only.
    void Call(CRoom::Call call)
    {
        if (link) (link->Camera().*call)();
    }
    // A motion or stop, remembered so that a new speed applies to what the camera does now.
    void Send(CRoom::Call motion)
    {
        sent = motion == &CKorvane::CameraStop ? nullptr : motion;
        Call(motion);
    }

    std::mutex queueMutex;
    std::condition_variable queued;
    std::deque<Job> jobs;
    CRoom::Call wanted = nullptr;  // the motion or stop to send next
    bool quit = false;
    CRoom::Call sent = nullptr;  // the camera's thread only: the motion under way
    std::unique_ptr<CCameraLink> link;  // the camera's thread only
    std::thread thread;
};

namespace {

// The press the holder had on the camera is over: no later word of it moves
// the camera again. With the room's m_mutex held.
void EndPress(CRoom::Camera& camera, const std::string& holder, std::uint64_t press)
{
    if (press == 0) return;
    std::uint64_t& ended = camera.ended[holder];
    ended = std::max(ended, press);
}

// Whatever holds the camera lets go of it.
void EndHold(CRoom::Camera& camera)
{
    if (!camera.motion.empty()) EndPress(camera, camera.holder, camera.press);
    camera.motion.clear();
    camera.press = 0;
}

void OnMessage(const char*, const char* text, void*)
{
    const MessageTarget& target = t_messageTarget;
    if (target.room) target.room->NoteFromCamera(target.camera, std::string("message: ") + text);
}

}  // namespace

CRoom::CRoom(std::vector<NamedCamera> cameras, COutput& output, Publish publish, std::size_t feedLimit)
    : m_output(output), m_publish(std::move(publish)), m_feedLimit(feedLimit)
{
    KorvaneSetMessageHandler(&OnMessage, nullptr);
    for (NamedCamera& named : cameras) {
        const auto camera = std::make_shared<Camera>(std::move(named));
        camera->Post([this](Camera& opening) { Open(opening); });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cameras.push_back(camera);
        }
        camera->thread = std::thread([this, camera] { camera->Run(*this); });
    }
    m_watchdog = std::thread([this] { Watchdog(); });
    m_poller = std::thread([this] { Poller(); });
}

CRoom::~CRoom()
{
    std::vector<std::shared_ptr<Camera>> cameras;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        cameras = m_cameras;
        m_bClosing = true;
        for (const auto& camera : m_cameras)
            if (!camera->motion.empty()) {
                EndHold(*camera);
                camera->WantStop();
            }
    }
    m_leaseChanged.notify_all();
    m_pollChanged.notify_all();
    m_watchdog.join();
    m_poller.join();
    for (const auto& camera : cameras) camera->Quit();
    KorvaneSetMessageHandler(nullptr, nullptr);
}

void CRoom::Open(Camera& camera)
{
    std::string failure;
    std::unique_ptr<CCameraLink> link;
    try {
        link = std::make_unique<CCameraLink>(
            camera.options, m_output, ReportMode::On,
            [this, &camera](const unsigned char* data, int length, unsigned int message) {
                Report(camera, data, length, message);
            });
    } catch (const std::exception& error) {
        failure = error.what();
    }
    camera.link = std::move(link);
    std::lock_guard<std::mutex> lock(m_mutex);
    camera.opened = failure.empty();
    camera.checked = false;
    camera.state = failure.empty() ? "open" : "failed";
    camera.reason = failure;
    PublishState(camera);
    if (!failure.empty()) Note(camera.name, "did not open: " + failure);
}

bool CRoom::Has(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::any_of(m_cameras.begin(), m_cameras.end(), [&](const auto& camera) { return camera->name == name; });
}

// With m_mutex held.
CRoom::Camera& CRoom::Find(const std::string& name) const
{
    for (const auto& camera : m_cameras)
        if (camera->name == name) return *camera;  // lives while listed: jobs never outlive its thread
    throw RoomError(404, "no camera named '" + name + "'");
}

CRoom::Camera& CRoom::FindOpen(const std::string& name) const
{
    Camera& camera = Find(name);
    if (camera.state == "opening") throw RoomError(409, "camera '" + name + "' is still opening");
    if (!camera.opened) throw RoomError(409, "camera '" + name + "' is not open: " + camera.reason);
    return camera;
}

json CRoom::StateOf(const Camera& camera) const
{
    json state = {{"type", "state"},
                  {"camera", camera.name},
                  {"link", camera.options.Describe()},
                  {"state", camera.state},
                  {"reason", camera.reason},
                  {"opened", camera.opened},
                  {"unchecked", camera.opened && !camera.checked ? kUnchecked : ""},
                  {"can", camera.capabilities["can"]},
                  {"cannot", camera.capabilities["cannot"]},
                  {"presets", camera.capabilities["presets"]},
                  {"moving", camera.motion.empty() ? json(nullptr) : json(camera.motion)},
                  {"pan_speed", camera.panSpeed},
                  {"tilt_speed", camera.tiltSpeed},
                  {"switches", camera.switches},
                  {"position", camera.position}};
    return state;
}

void CRoom::PublishState(const Camera& camera) { Emit(StateOf(camera), false); }

void CRoom::Emit(json message, bool toFeed)
{
    std::lock_guard<std::mutex> lock(m_feedMutex);
    message["seq"] = ++m_nSequence;
    if (toFeed) {
        m_feed.push_front(message);
        if (m_feed.size() > m_feedLimit) m_feed.pop_back();
    }
    if (m_publish) m_publish(message);
}

void CRoom::Report(Camera& camera, const unsigned char* data, int length, unsigned int message)
{
    Emit({{"type", "report"},
          {"time", ClockTime()},
          {"camera", camera.name},
          {"event", EventName(message)},
          {"code", message},
          {"bytes", Hex(data, length)}},
         true);
}

void CRoom::Note(const std::string& camera, const std::string& text)
{
    m_output.Line(Printable(ClockTime() + "  " + (camera.empty() ? "" : camera + ": ") + text));
    Emit({{"type", "note"}, {"time", ClockTime()}, {"camera", camera}, {"event", text}, {"bytes", ""}}, true);
}

void CRoom::NoteFromCamera(const std::string& camera, const std::string& text) { Note(camera, text); }

json CRoom::Cameras() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    json list = json::array();
    for (const auto& camera : m_cameras) {
        json state = StateOf(*camera);
        state.erase("type");
        state["name"] = state["camera"];
        state.erase("camera");
        list.push_back(std::move(state));
    }
    return {{"cameras", list}, {"pages", m_nWatchers}};
}

json CRoom::Feed() const
{
    std::lock_guard<std::mutex> lock(m_feedMutex);
    return {{"feed", json(m_feed)}};
}

json CRoom::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    json cameras = json::array();
    for (const auto& camera : m_cameras) cameras.push_back(StateOf(*camera));
    std::lock_guard<std::mutex> feedLock(m_feedMutex);
    return {{"cameras", cameras}, {"feed", json(m_feed)}, {"seq", m_nSequence}};
}

void CRoom::Hold(const std::string& name, const std::string& motion, const std::string& holder,
                 std::chrono::milliseconds lease, std::uint64_t press)
{
    const auto found = Motions().find(motion);
    if (found == Motions().end()) throw RoomError(400, "unknown motion '" + motion + "'");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera& camera = FindOpen(name);
        camera.Check(OperationOf(motion));
        if (press != 0) {
            const auto ended = camera.ended.find(holder);
            if (ended != camera.ended.end() && press <= ended->second)
                throw RoomError(409, "press " + std::to_string(press) + " on camera '" + name +
                                         "' was already stopped: it moves nothing again");
        }
        // A newer press of the same holder ends the one it replaces.
        if (!camera.motion.empty() && camera.holder == holder && camera.press != press)
            EndPress(camera, holder, camera.press);
        camera.press = press;
        camera.deadline = Clock::now() + lease;
        camera.pollUntil = camera.deadline + kPollSettle;
        if (camera.motion != motion || camera.holder != holder) {
            camera.motion = motion;
            camera.holder = holder;
            camera.Want(found->second);
            PublishState(camera);
        }
    }
    m_leaseChanged.notify_all();
}

void CRoom::Release(const std::string& name, const std::string& holder, std::uint64_t press)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = Find(name);
    EndPress(camera, holder, press);
    if (camera.motion.empty() || camera.holder != holder) return;
    EndHold(camera);
    camera.WantStop();
    PublishState(camera);
}

void CRoom::ReleaseAll(const std::string& holder, const std::string& why, bool gone)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& each : m_cameras) {
        Camera& camera = *each;
        const bool holds = !camera.motion.empty() && camera.holder == holder;
        if (holds) {
            EndHold(camera);
            camera.WantStop();
            PublishState(camera);
            Note(camera.name, "stopped: " + why);
        }
        if (gone) camera.ended.erase(holder);  // its name is never used again
    }
}

void CRoom::Stop(const std::string& name, const std::string& holder, std::uint64_t press)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    EndPress(camera, holder, press);
    EndHold(camera);
    camera.WantStop();
    PublishState(camera);
}

void CRoom::Preset(const std::string& name, int number, int op)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.CheckPreset(number);
    camera.Post([number, op](Camera& camera) {
        if (camera.link) camera.link->Camera().PreSet(number, static_cast<unsigned char>(op));
    });
    if (op == 0) camera.pollUntil = Clock::now() + kPollSettle;
    static const char* const verbs[] = {"go to preset ", "stored preset ", "cleared preset "};
    if (op != 0) Note(name, verbs[op] + std::to_string(number));
}

void CRoom::Switch(const std::string& name, const std::string& what, bool on)
{
    const auto found = Switches().find(what);
    if (found == Switches().end()) throw RoomError(404, "no switch named '" + what + "'");
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(SwitchOperation(what));
    const Call call = on ? found->second.first : found->second.second;
    camera.Post([call](Camera& camera) { camera.Call(call); });
    camera.switches[what] = on;
    PublishState(camera);
}

void CRoom::Speed(const std::string& name, std::optional<int> pan, std::optional<int> tilt)
{
    for (const std::optional<int>& speed : {pan, tilt})
        if (speed && (*speed < 0 || *speed > 63)) throw RoomError(400, "a speed is a number from 0 to 63");
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(OP_MOVE);
    if (pan) camera.panSpeed = *pan;
    if (tilt) camera.tiltSpeed = *tilt;
    const int panSpeed = camera.panSpeed, tiltSpeed = camera.tiltSpeed;
    camera.Post([panSpeed, tiltSpeed](Camera& camera) {
        if (!camera.link) return;
        camera.link->Camera().SetHorizonSpeed(panSpeed);
        camera.link->Camera().SetVertcalSpeed(tiltSpeed);
        // A move under way goes on at the new speed; one stopped meanwhile stays stopped.
        if (camera.sent) camera.Call(camera.sent);
    });
    PublishState(camera);
}

void CRoom::Test(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = Find(name);
    if (camera.state == "opening") throw RoomError(409, "camera '" + name + "' is still opening");
    camera.Check(OP_TEST);
    if (!camera.opened) {
        camera.state = "opening";
        camera.reason.clear();
        PublishState(camera);
        camera.Post([this](Camera& opening) { Open(opening); });
        return;
    }
    // The library says how the test went in its message, and in the link's state.
    camera.Post([](Camera& camera) { camera.Call(&CKorvane::ConnectTest); });
}

void CRoom::Home(const std::string& name, bool set)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(OP_HOME);
    camera.Post([set](Camera& camera) { camera.Call(set ? &CKorvane::SetHome : &CKorvane::GotoHome); });
    if (set) Note(name, "stored the home position");
    else camera.pollUntil = Clock::now() + kPollSettle;
}

void CRoom::Watch(int change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nWatchers += change;
    // A new page is shown where each camera points now.
    if (change > 0)
        for (const auto& camera : m_cameras) camera->pollUntil = std::max(camera->pollUntil, Clock::now() + kPollEvery);
    m_pollChanged.notify_all();
}

void CRoom::Poller()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bClosing) {
        if (m_nWatchers <= 0) {
            m_pollChanged.wait(lock);
            continue;
        }
        const auto now = Clock::now();
        for (const auto& each : m_cameras) {
            Camera& camera = *each;
            if (!camera.readsPosition || !camera.opened) continue;
            // A camera held or reported moving is read until it has settled.
            if (!camera.motion.empty() || (camera.position.is_object() && camera.position.value("moving", false)))
                camera.pollUntil = std::max(camera.pollUntil, now + kPollSettle);
            if (camera.pollQueued || now >= camera.pollUntil || now - camera.polled < kPollEvery) continue;
            camera.pollQueued = true;
            camera.polled = now;
            camera.Post([this](Camera& camera) {
                float pan = 0, tilt = 0, zoom = 0;
                int moving = 0;
                const bool read = camera.link && camera.link->Camera().GetPosition(pan, tilt, zoom, moving);
                Positioned(camera, read, pan, tilt, zoom, moving);
            });
        }
        m_pollChanged.wait_for(lock, kPollEvery);
    }
}

void CRoom::Positioned(Camera& camera, bool read, float pan, float tilt, float zoom, int moving)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    camera.pollQueued = false;
    if (!read) return;
    const json position = {{"pan", pan}, {"tilt", tilt}, {"zoom", zoom}, {"moving", moving != 0}};
    if (position == camera.position) return;
    camera.position = position;
    json message = position;
    message.update({{"type", "position"}, {"camera", camera.name}});
    Emit(std::move(message), false);
}

void CRoom::FollowLink(Camera& camera)
{
    if (!camera.link) return;
    std::array<char, 512> text{};
    const int seen = camera.link->Camera().GetLinkState(text.data(), static_cast<int>(text.size()));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!camera.opened) return;
    const bool failed = seen == KORVANE_LINK_FAILED;
    const std::string state = failed ? "failed" : "open";
    const std::string reason = failed ? text.data() : "";
    const bool checked = camera.checked || seen == KORVANE_LINK_OK;
    if (state == camera.state && reason == camera.reason && checked == camera.checked) return;
    if (state != camera.state) Note(camera.name, failed ? "the link failed: " + reason : "the link answers again");
    camera.state = state;
    camera.reason = reason;
    camera.checked = checked;
    PublishState(camera);
}

void CRoom::Watchdog()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bClosing) {
        std::optional<Clock::time_point> next;
        const auto now = Clock::now();
        for (const auto& each : m_cameras) {
            Camera& camera = *each;
            if (camera.motion.empty()) continue;
            if (camera.deadline <= now) {
                EndHold(camera);
                camera.WantStop();
                PublishState(camera);
                Note(camera.name, "stopped: its holder stopped renewing the move");
            } else if (!next || camera.deadline < *next) {
                next = camera.deadline;
            }
        }
        if (next) m_leaseChanged.wait_until(lock, *next);
        else m_leaseChanged.wait(lock);
    }
}

}  // namespace korvane::tool::panel
