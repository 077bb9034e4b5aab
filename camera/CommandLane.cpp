#include "camera/CommandLane.h"

#include <algorithm>

namespace korvane {

CCommandLane::CCommandLane(const EncoderTraits& traits, std::size_t capacity)
    : m_nCapacity(capacity), m_encoder(traits)
{
}

Result CCommandLane::Submit(LaneCommand command, LaneKind kind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto isMotion = [](const Entry& e) { return e.kind == LaneKind::Motion; };
    switch (kind) {
    case LaneKind::Stop:
        // Nothing that would move the camera again may follow it out; an
        // earlier stop not yet taken is the same stop.
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [](const Entry& e) { return e.kind != LaneKind::Ordered; }),
                        m_entries.end());
        m_entries.push_front({std::move(command), kind});
        return Result::Ok();
    case LaneKind::Motion:
        // Behind whatever was ordered before it, as the host asked.
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(), isMotion), m_entries.end());
        m_entries.push_back({std::move(command), kind});
        return Result::Ok();
    case LaneKind::Ordered:
        if (m_entries.size() >= m_nCapacity)
            return Result::Fail(Outcome::QueueFull, "the camera's command queue is full (" +
                                                        std::to_string(m_nCapacity) + " commands wait)");
        m_entries.push_back({std::move(command), kind});
        return Result::Ok();
    }
    return Result::Ok();
}

bool CCommandLane::Take(std::vector<Frame>& frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.empty()) return false;
    Entry entry = std::move(m_entries.front());
    m_entries.pop_front();
    frames = Encode(entry.command);
    return true;
}

bool CCommandLane::HasStop() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_entries.empty() && m_entries.front().kind == LaneKind::Stop;
}

bool CCommandLane::Empty() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.empty();
}

void CCommandLane::Drop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

std::vector<Frame> CCommandLane::Encode(const LaneCommand& command)
{
    m_encoder.SetProtocol(command.protocol);
    m_encoder.SetAddress(command.address);
    m_encoder.SetHorizonSpeed(command.hSpeed);
    m_encoder.SetVertcalSpeed(command.vSpeed);
    const auto one = [](Frame frame) {
        return frame.empty() ? std::vector<Frame>{} : std::vector<Frame>{std::move(frame)};
    };
    switch (command.type) {
    case LaneCommand::Type::Ptz: return m_encoder.Command(command.command).Frames();
    case LaneCommand::Type::Preset: return one(m_encoder.Preset(command.preset, command.op));
    case LaneCommand::Type::SpecialPreset:
        return one(m_encoder.SpecialPreset(static_cast<std::uint8_t>(command.preset), command.viscaRecall));
    case LaneCommand::Type::Test: return one(m_encoder.ConnectTest());
    case LaneCommand::Type::Raw: return one(command.raw);
    }
    return {};
}

}  // namespace korvane
