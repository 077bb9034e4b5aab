// The tracking system's return codes, the host's message codes and the log
// labels, one table for every back-end.
#pragma once

#include <cstdint>

namespace korvane {

struct ReturnCode {
    std::uint32_t message;     // 0x8400..0x8407, handed to the host
    std::uint8_t serialCode;   // byte 5 of a serial return-code frame
    const char* label;         // log label
    const char* name;          // short name for tools
};

constexpr ReturnCode kReturnCodes[] = {
    {0x8400, 0x50, "appears return codes:", "appears"},
    {0x8401, 0x51, "disappears return codes:", "disappears"},
    {0x8402, 0x52, "closeup ready return codes:", "closeup-ready"},
    {0x8403, 0x53, "multiple target return codes:", "multiple-targets"},
    {0x8404, 0x54, "down podium return codes:", "down-podium"},
    {0x8405, 0x55, "up podium return codes:", "up-podium"},
    {0x8406, 0x56, "write start return codes:", "write-start"},
    {0x8407, 0x57, "write stop return codes:", "write-stop"},
};

// The row of a serial event code (frame byte 5), or null.
const ReturnCode* FindBySerialCode(std::uint8_t code);
// The row of a message code, or null.
const ReturnCode* FindByMessage(std::uint32_t message);

// Reports carry the camera address in packed decimal: the byte's two hex
// digits read as a decimal number up to the first non-digit (0x12 is camera
// 12, 0x1a is 1, 0xb2 is 0).
int SerialReportAddress(std::uint8_t packedDecimal);
// The tracking system's reports read the byte as signed, so every byte from
// 0x80 up is camera 0; below that as on the serial line.
int TrackReportAddress(std::uint8_t packedDecimal);

}  // namespace korvane
