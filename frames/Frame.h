// A command frame: exactly the bytes that go on the wire. Whoever holds the
// value owns it; handing it to a link moves it there.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

using Frame = std::vector<std::uint8_t>;

// A speed as the frames carry it: read as unsigned, anything above 63 is 63
// (so a negative speed is sent at full speed, as cameras in the field expect).
inline std::uint8_t CapSpeed(std::int32_t speed)
{
    const auto raw = static_cast<std::uint32_t>(speed);
    return static_cast<std::uint8_t>(raw > 63u ? 63u : raw);
}

// Uncapped speeds (diagonals) and addresses carry their low 8 bits.
inline std::uint8_t LowByte(std::uint32_t value)
{
    return static_cast<std::uint8_t>(value & 0xFFu);
}

}  // namespace korvane
