// Byte lists written as they appear in protocol tables.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvane::test {

inline std::vector<std::uint8_t> B(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

}  // namespace korvane::test
