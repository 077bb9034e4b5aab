// Where the cameras point: read only while some page watches, and only for
// cameras driven lately, as jobs on each camera's own thread.
#include "RoomCamera.h"

#include <algorithm>

namespace korvane::tool::panel {

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

}  // namespace korvane::tool::panel
