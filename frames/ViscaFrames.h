// VISCA builders. The VISCA record keeps no frame bytes, only what the next
// stop needs to know: the length of the last frame and the last lens kind.
#pragma once

#include "frames/Frame.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvane {

struct VISCACMD {
    std::uint32_t length;
    std::uint8_t lensKind;  // 7 zoom, 8 focus, 0 none yet; set by callers
    std::uint8_t started;   // kViscaMotion* bits since the last stop; set by callers
};

// The motions a stop has to end.
constexpr std::uint8_t kViscaMotionDrive = 0x01;
constexpr std::uint8_t kViscaMotionZoom = 0x02;
constexpr std::uint8_t kViscaMotionFocus = 0x04;

constexpr std::uint8_t kViscaLensZoom = 0x07;
constexpr std::uint8_t kViscaLensFocus = 0x08;

constexpr std::uint8_t kViscaLeft = 0x01;
constexpr std::uint8_t kViscaRight = 0x02;
constexpr std::uint8_t kViscaUp = 0x01;
constexpr std::uint8_t kViscaDown = 0x02;
constexpr std::uint8_t kViscaHold = 0x03;

constexpr std::uint8_t kViscaMemoryReset = 0;
constexpr std::uint8_t kViscaMemorySet = 1;
constexpr std::uint8_t kViscaMemoryRecall = 2;

// 8x <body> FF, with 8x = 0x80 plus the address, modulo 256. Touches no record.
Frame ViscaFrame(std::uint8_t address, std::initializer_list<std::uint8_t> body);

// 8x 01 04 3F op nn FF; length 7.
Frame ViscaMemory(VISCACMD& cmd, std::uint8_t address, std::uint8_t memory, std::uint8_t operation);
// 8x 01 06 01 VV WW DD EE FF with the speeds as given; length 9.
Frame ViscaDrive(VISCACMD& cmd, std::uint8_t address, std::uint8_t panSpeed,
                 std::uint8_t tiltSpeed, std::uint8_t panDirection, std::uint8_t tiltDirection);
// Pan left (1) or right (2), speed capped at 63, tilt held.
Frame ViscaPan(VISCACMD& cmd, std::uint8_t address, std::uint8_t direction, std::int32_t speed);
// Tilt up (1) or down (2), speed capped at 63, pan held.
Frame ViscaTilt(VISCACMD& cmd, std::uint8_t address, std::uint8_t direction, std::int32_t speed);
// 8x 01 04 b3 b4 FF; length 6; the lens kind is the caller's to set.
Frame ViscaLens(VISCACMD& cmd, std::uint8_t address, std::uint8_t byte3, std::uint8_t byte4);
// The stop matching the last command: pan-tilt after a drive, focus or zoom
// after a lens command, nothing (an empty frame) otherwise.
Frame ViscaStop(VISCACMD& cmd, std::uint8_t address);
// The stops of every motion started since the last stop: the one ViscaStop
// picks first (so a single-axis stop is the same bytes), then the others as
// drive, zoom, focus. With none recorded (a fresh camera, or presets since),
// the pan-tilt stop and the zoom stop. Clears the started motions.
std::vector<Frame> ViscaStopAll(VISCACMD& cmd, std::uint8_t address);

}  // namespace korvane
