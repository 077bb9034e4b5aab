#include "RoomCamera.h"

#include <algorithm>
#include <array>
#include <map>

namespace korvane::tool::panel {

using Call = CRoom::Call;

namespace {

const std::map<std::string, std::pair<Call, Call>>& Switches()
{
    static const std::map<std::string, std::pair<Call, Call>> switches = {
        {"track", {&CKorvane::OpenTrack, &CKorvane::CloseTrack}},
        {"autozoom", {&CKorvane::OpenAutoZoom, &CKorvane::CloseAutoZoom}},
        {"autowrite", {&CKorvane::OpenAutoWrite, &CKorvane::CloseAutoWrite}},
    };
    return switches;
}

KORVANEOPERATION SwitchOperation(const std::string& what)
{
    return what == "track" ? OP_TRACK : what == "autozoom" ? OP_AUTOZOOM : OP_AUTOWRITE;
}

const char* const kUnchecked =
    "unchecked: this link has not answered (a serial line or a tracking system never does), "
    "so a command that does not arrive is not seen here";

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
            // A camera whose reports nobody wants is opened without them: a
            // serial one then gets no presets 88 and 100 as the panel starts.
            camera.options, m_output, camera.options.reports ? ReportMode::On : ReportMode::Off,
            [this, &camera](const unsigned char* data, int length, unsigned int message) {
                Report(camera, data, length, message);
            });
    } catch (const std::exception& error) {
        failure = error.what();
    }
    camera.link = std::move(link);
    json capabilities = Capabilities(camera.options, camera.link ? &camera.link->Camera() : nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    camera.capabilities = std::move(capabilities);
    camera.opened = failure.empty();
    camera.checked = false;
    camera.state = failure.empty() ? "open" : "failed";
    camera.reason = failure;
    PublishState(camera);
    if (!failure.empty()) Note(camera.name, "did not open: " + failure);
}

json CRoom::Add(NamedCamera named)
{
    const auto camera = std::make_shared<Camera>(std::move(named));
    camera->Post([this](Camera& opening) { Open(opening); });
    json state;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bClosing) throw RoomError(503, "the panel is stopping");
        if (std::any_of(m_cameras.begin(), m_cameras.end(), [&](const auto& each) { return each->name == camera->name; }))
            throw RoomError(409, "a camera named '" + camera->name + "' is already in the room");
        m_cameras.push_back(camera);
        camera->thread = std::thread([this, camera] { camera->Run(*this); });
        state = StateOf(*camera);
        PublishState(*camera);
    }
    state.erase("type");
    state["name"] = state["camera"];
    state.erase("camera");
    return state;
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
                  {"holder", camera.driver},
                  {"held_by_you", false},  // each page's own: the server sets it per page
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

json CRoom::Cameras(const std::string& viewer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    json list = json::array();
    for (const auto& camera : m_cameras) {
        json state = StateOf(*camera);
        state["held_by_you"] = camera->driver == viewer;
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

json CRoom::Snapshot(const std::string& viewer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    json cameras = json::array();
    for (const auto& camera : m_cameras) {
        cameras.push_back(StateOf(*camera));
        cameras.back()["held_by_you"] = camera->driver == viewer;
    }
    std::lock_guard<std::mutex> feedLock(m_feedMutex);
    return {{"cameras", cameras}, {"feed", json(m_feed)}, {"seq", m_nSequence}};
}

// A job that makes one call on the camera and tells done what became of it.
CRoom::Camera::Job CallJob(std::function<int(CKorvane&)> call, Done done)
{
    return [call = std::move(call), done = std::move(done)](CRoom::Camera& camera) {
        const Outcome outcome = camera.link ? camera.Result(call(camera.link->Camera()))
                                            : Outcome{502, "", "camera '" + camera.name + "' is not open"};
        if (done) done(outcome);
    };
}

void CRoom::Preset(const std::string& name, int number, int op, Done done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.CheckPreset(number);
    camera.Post(CallJob([number, op](CKorvane& link) { return link.PreSet(number, static_cast<unsigned char>(op)); },
                        std::move(done)));
    // A go-to may have stored the preset too: every page's marks follow the camera.
    camera.Post([this](Camera& stored) { RefreshPresets(stored); });
    if (op == 0) camera.pollUntil = Clock::now() + kPollSettle;
    static const char* const verbs[] = {"go to preset ", "stored preset ", "cleared preset "};
    if (op != 0) Note(name, verbs[op] + std::to_string(number));
}

void CRoom::RefreshPresets(Camera& camera)
{
    if (!camera.link) return;
    json stored = StoredPresets(camera.link->Camera());
    std::lock_guard<std::mutex> lock(m_mutex);
    json& presets = camera.capabilities["presets"];
    if (!presets.is_object() || presets.value("stored", json()) == stored) return;
    // No longer known (the camera failed to list them): no marks rather than old ones.
    if (stored.is_null())
        presets.erase("stored");
    else
        presets["stored"] = std::move(stored);
    PublishState(camera);
}

void CRoom::Switch(const std::string& name, const std::string& what, bool on, Done done)
{
    const auto found = Switches().find(what);
    if (found == Switches().end()) throw RoomError(404, "no switch named '" + what + "'");
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(SwitchOperation(what));
    const Call call = on ? found->second.first : found->second.second;
    camera.Post(CallJob([call](CKorvane& link) { return (link.*call)(); }, std::move(done)));
    camera.switches[what] = on;
    PublishState(camera);
}

void CRoom::Speed(const std::string& name, std::optional<int> pan, std::optional<int> tilt, Done done)
{
    for (const std::optional<int>& speed : {pan, tilt})
        if (speed && (*speed < 0 || *speed > 63)) throw RoomError(400, "a speed is a number from 0 to 63");
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(OP_MOVE);
    if (pan) camera.panSpeed = *pan;
    if (tilt) camera.tiltSpeed = *tilt;
    const int panSpeed = camera.panSpeed, tiltSpeed = camera.tiltSpeed;
    camera.Post([panSpeed, tiltSpeed, done = std::move(done)](Camera& camera) {
        Outcome outcome;
        if (camera.link) {
            camera.link->Camera().SetHorizonSpeed(panSpeed);
            camera.link->Camera().SetVertcalSpeed(tiltSpeed);
            // A move under way goes on at the new speed; one stopped meanwhile stays stopped.
            if (camera.sent) outcome = camera.Call(camera.sent);
        }
        if (done) done(outcome);
    });
    PublishState(camera);
}

void CRoom::Test(const std::string& name, Done done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = Find(name);
    if (camera.state == "opening") throw RoomError(409, "camera '" + name + "' is still opening");
    camera.Check(OP_TEST);
    if (!camera.opened) {
        camera.state = "opening";
        camera.reason.clear();
        PublishState(camera);
        // Opened again, the camera is tested as an open one is.
        camera.Post([this, done = std::move(done)](Camera& opening) {
            Open(opening);
            Outcome outcome{502, "", "did not open: "};
            if (opening.link) {
                outcome = opening.Call(&CKorvane::ConnectTest);
            } else {
                std::lock_guard<std::mutex> lock(m_mutex);
                outcome.error += opening.reason;
            }
            if (done) done(outcome);
        });
        return;
    }
    // The library says how the test went in its message, and in the link's state.
    camera.Post(CallJob([](CKorvane& link) { return link.ConnectTest(); }, std::move(done)));
}

void CRoom::Home(const std::string& name, bool set, Done done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    camera.Check(OP_HOME);
    camera.Post(CallJob([set](CKorvane& link) { return set ? link.SetHome() : link.GotoHome(); }, std::move(done)));
    if (set) Note(name, "stored the home position");
    else camera.pollUntil = Clock::now() + kPollSettle;
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

}  // namespace korvane::tool::panel
