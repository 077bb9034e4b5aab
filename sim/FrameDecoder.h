// Turns the frames a camera receives into readable lines, as a protocol
// analyser would print them: "pelco-d addr 1: tilt up speed 30".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::sim {

using Bytes = std::vector<std::uint8_t>;

std::string DescribeFrame(const Bytes& frame);
std::string HexBytes(const Bytes& bytes);  // "ff 01 00 08"

// Length of the complete frame at the front of a byte stream, 0 when more
// bytes are needed. Pelco-D starts FF (7 bytes), Pelco-P A0 (8), the
// connection test AE (6), VISCA 8x and runs to FF. Unknown first bytes count
// as 1 so that a reader can skip them.
std::size_t FrameLengthAt(const Bytes& stream, std::size_t offset);

// A serial return-code frame as the tracking system sends it:
// FF <address in packed decimal> 00 07 00 <code> <checksum>.
Bytes ReturnCodeFrame(int cameraAddress, std::uint8_t code);

}  // namespace korvane::sim
