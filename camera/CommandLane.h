// One camera's commands on their way to its link. Entries are what the host
// asked for, encoded only when the link takes them, so the encoder's records
// (the VISCA stop, the one-time preambles) describe what really went out.
//
// Submit rules: a Motion replaces the Motion not yet taken (a newer command
// won); a Stop removes every pending Motion and goes first; Ordered entries
// keep their order. Any thread may submit while the link takes.
#pragma once

#include "camera/Result.h"
#include "frames/CommandEncoder.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace korvane {

enum class LaneKind { Stop, Motion, Ordered };

// One intent, with the settings in force when it was submitted.
struct LaneCommand {
    enum class Type { Ptz, Preset, SpecialPreset, Test, Raw };
    Type type = Type::Ptz;
    PtzCommand command = PtzCommand::Stop;
    std::int32_t preset = 0;
    std::uint8_t op = 0;
    bool viscaRecall = false;
    Frame raw;  // Type::Raw: sent as it is
    std::int32_t protocol = 0;
    std::uint32_t address = 0;
    std::int32_t hSpeed = 0;
    std::int32_t vSpeed = 0;
};

class CCommandLane {
public:
    // Ordered entries beyond capacity are refused (QueueFull).
    explicit CCommandLane(const EncoderTraits& traits, std::size_t capacity = kDefaultCapacity);

    Result Submit(LaneCommand command, LaneKind kind);
    // Takes the next entry (a stop first) and encodes it into frames, which
    // may be none; false when nothing waits.
    bool Take(std::vector<Frame>& frames);
    bool HasStop() const;
    bool Empty() const;
    // What waited is stale (the line failed under it).
    void Drop();

    static constexpr std::size_t kDefaultCapacity = 256;

private:
    struct Entry {
        LaneCommand command;
        LaneKind kind;
    };
    std::vector<Frame> Encode(const LaneCommand& command);

    const std::size_t m_nCapacity;
    mutable std::mutex m_mutex;
    std::deque<Entry> m_entries;  // a stop, if any, at the front
    CCommandEncoder m_encoder;    // the camera's records; under m_mutex
};

}  // namespace korvane
