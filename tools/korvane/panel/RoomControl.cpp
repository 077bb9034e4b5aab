// The room's control of motion: held moves as leases, their stops, the
// presses a stop has ended, and the watchdog that stops a lapsed lease.
#include "RoomCamera.h"

#include <map>
#include <utility>

namespace korvane::tool::panel {

using Call = CRoom::Call;

namespace {

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

// The library's operation a held motion belongs to: the lens's, or a move.
KORVANEOPERATION OperationOf(const std::string& motion)
{
    if (motion.rfind("zoom-", 0) == 0) return OP_ZOOM;
    if (motion.rfind("focus-", 0) == 0) return OP_FOCUS;
    if (motion.rfind("iris-", 0) == 0) return OP_IRIS;
    return OP_MOVE;
}

}  // namespace

bool IsMotion(const std::string& motion) { return Motions().count(motion) != 0; }

void CRoom::Hold(const std::string& name, const std::string& motion, const std::string& holder,
                 std::chrono::milliseconds lease, std::uint64_t press, bool take, Done done)
{
    const auto found = Motions().find(motion);
    if (found == Motions().end()) throw RoomError(400, "unknown motion '" + motion + "'");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera& camera = FindOpen(name);
        camera.Check(OperationOf(motion));
        // Taken over says more than the press the take-over ended.
        if (camera.ousted.count(holder) && !take)
            throw RoomError(409, "camera '" + name +
                                     "' was taken over by another page: take it back first (\"take\")");
        if (press != 0) {
            const auto ended = camera.ended.find(holder);
            if (ended != camera.ended.end() && press <= ended->second)
                throw RoomError(409, "press " + std::to_string(press) + " on camera '" + name +
                                         "' was already stopped: it moves nothing again");
        }
        TakeOver(camera, holder);
        // A newer press of the same holder ends the one it replaces.
        if (!camera.motion.empty() && camera.holder == holder && camera.press != press)
            EndPress(camera, holder, camera.press);
        camera.press = press;
        const auto now = Clock::now();
        camera.deadline = now + lease;
        camera.pollUntil = camera.deadline + kPollSettle;
        // An ONVIF camera's move lasts a little past the lease by itself, so
        // it is sent again whenever the move sent last would end before the
        // renewed lease does: held, it never stops; orphaned, it soon does.
        const auto sendMove = [&] {
            camera.moveSent = now;
            camera.moveTimeout = camera.MoveTimeout(lease);
            camera.Want(found->second, camera.onvif ? std::optional(camera.moveTimeout) : std::nullopt,
                        std::exchange(done, nullptr));
        };
        if (camera.motion != motion || camera.holder != holder) {
            camera.motion = motion;
            camera.holder = holder;
            sendMove();
            PublishState(camera);
        } else if (camera.onvif && camera.moveSent + camera.moveTimeout < camera.deadline + kOnvifMoveMargin / 2) {
            sendMove();
        }
    }
    m_leaseChanged.notify_all();
    if (done) done({});  // a renewal: nothing went to the camera
}

void CRoom::TakeOver(Camera& camera, const std::string& holder)
{
    camera.ousted.erase(holder);
    if (camera.driver == holder) return;
    const std::string former = camera.driver;
    camera.driver = holder;
    if (former.empty()) return;
    camera.ousted.insert(former);
    // Its motion ends here: the new holder's move (or stop) replaces it, so
    // two holders' renewals never make the camera alternate.
    if (!camera.motion.empty() && camera.holder == former) EndHold(camera);
    Emit({{"type", "taken"}, {"camera", camera.name}, {"reason", "taken over by another page"}, {"to", former}},
         false);
    Note(camera.name, former + " lost it: taken over by " + holder);
}

void CRoom::Take(const std::string& name, const std::string& holder, Done done)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera& camera = FindOpen(name);
        const bool stops = !camera.motion.empty() && camera.holder != holder;
        TakeOver(camera, holder);
        if (stops) camera.WantStop(std::exchange(done, nullptr));
        PublishState(camera);
    }
    if (done) done({});
}

void CRoom::Release(const std::string& name, const std::string& holder, std::uint64_t press, Done done)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera& camera = Find(name);
        EndPress(camera, holder, press);
        if (!camera.motion.empty() && camera.holder == holder) {
            EndHold(camera);
            camera.WantStop(std::exchange(done, nullptr));
            PublishState(camera);
        }
    }
    if (done) done({});
}

void CRoom::ReleaseAll(const std::string& holder, const std::string& why, bool gone)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& each : m_cameras) {
        Camera& camera = *each;
        const bool holds = !camera.motion.empty() && camera.holder == holder;
        const bool drove = gone && camera.driver == holder;
        if (gone) {
            camera.ended.erase(holder);  // its name is never used again
            camera.ousted.erase(holder);
            if (drove) camera.driver.clear();
        }
        if (holds) {
            EndHold(camera);
            camera.WantStop();
            Note(camera.name, "stopped: " + why);
        }
        if (holds || drove) PublishState(camera);
    }
}

void CRoom::Stop(const std::string& name, const std::string& holder, std::uint64_t press, Done done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera& camera = FindOpen(name);
    EndPress(camera, holder, press);
    EndHold(camera);
    camera.WantStop(std::move(done));
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
