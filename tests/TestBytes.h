// Byte lists written as they appear in protocol tables, and the two Pelco
// frames computed the way the protocol tables define their checks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace korvane::test {

inline std::vector<std::uint8_t> B(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

inline std::vector<std::uint8_t> PelcoD(int address, int c1, int c2, int d1, int d2)
{
    return B({0xFF, address, c1, c2, d1, d2, (address + c1 + c2 + d1 + d2) & 0xFF});
}

inline std::vector<std::uint8_t> PelcoP(int address, int c1, int c2, int d1, int d2)
{
    return B({0xA0, address, c1, c2, d1, d2, 0xAF, 0xA0 ^ address ^ c1 ^ c2 ^ d1 ^ d2 ^ 0xAF});
}

// What a peer's Next... returned, or no bytes when nothing came in time.
template <typename Optional>
std::vector<std::uint8_t> Got(const Optional& arrived)
{
    return arrived ? std::vector<std::uint8_t>(*arrived) : std::vector<std::uint8_t>{};
}

}  // namespace korvane::test
