#include "frames/ViscaFrames.h"

namespace korvane {

namespace {

constexpr std::uint8_t kViscaEnd = 0xFF;
constexpr std::uint32_t kDriveLength = 9;
constexpr std::uint32_t kLensLength = 6;

}  // namespace

Frame ViscaFrame(std::uint8_t address, std::initializer_list<std::uint8_t> body)
{
    Frame frame;
    frame.reserve(body.size() + 2);
    frame.push_back(static_cast<std::uint8_t>(0x80u + address));
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(kViscaEnd);
    return frame;
}

Frame ViscaMemory(VISCACMD& cmd, std::uint8_t address, std::uint8_t memory, std::uint8_t operation)
{
    cmd.length = 7;
    return ViscaFrame(address, {0x01, 0x04, 0x3F, operation, memory});
}

Frame ViscaDrive(VISCACMD& cmd, std::uint8_t address, std::uint8_t panSpeed,
                 std::uint8_t tiltSpeed, std::uint8_t panDirection, std::uint8_t tiltDirection)
{
    cmd.length = kDriveLength;
    return ViscaFrame(address, {0x01, 0x06, 0x01, panSpeed, tiltSpeed, panDirection, tiltDirection});
}

Frame ViscaPan(VISCACMD& cmd, std::uint8_t address, std::uint8_t direction, std::int32_t speed)
{
    return ViscaDrive(cmd, address, CapSpeed(speed), 0x01, direction, kViscaHold);
}

Frame ViscaTilt(VISCACMD& cmd, std::uint8_t address, std::uint8_t direction, std::int32_t speed)
{
    return ViscaDrive(cmd, address, 0x01, CapSpeed(speed), kViscaHold, direction);
}

Frame ViscaLens(VISCACMD& cmd, std::uint8_t address, std::uint8_t byte3, std::uint8_t byte4)
{
    cmd.length = kLensLength;
    return ViscaFrame(address, {0x01, 0x04, byte3, byte4});
}

Frame ViscaStop(VISCACMD& cmd, std::uint8_t address)
{
    if (cmd.length == kDriveLength)
        return ViscaDrive(cmd, address, 0x00, 0x00, kViscaHold, kViscaHold);
    if (cmd.length == kLensLength && cmd.lensKind == kViscaLensFocus)
        return ViscaLens(cmd, address, kViscaLensFocus, 0x00);
    if (cmd.length == kLensLength && cmd.lensKind == kViscaLensZoom)
        return ViscaLens(cmd, address, kViscaLensZoom, 0x00);
    return {};
}

std::vector<Frame> ViscaStopAll(VISCACMD& cmd, std::uint8_t address)
{
    std::vector<Frame> stops;
    std::uint8_t pending = cmd.started ? cmd.started : (kViscaMotionDrive | kViscaMotionZoom);
    Frame first = ViscaStop(cmd, address);
    if (!first.empty()) {
        const bool drive = first.size() == kDriveLength;
        pending &= static_cast<std::uint8_t>(
            ~(drive ? kViscaMotionDrive : first[3] == kViscaLensZoom ? kViscaMotionZoom : kViscaMotionFocus));
        stops.push_back(std::move(first));
    }
    if (pending & kViscaMotionDrive) stops.push_back(ViscaDrive(cmd, address, 0x00, 0x00, kViscaHold, kViscaHold));
    if (pending & kViscaMotionZoom) stops.push_back(ViscaLens(cmd, address, kViscaLensZoom, 0x00));
    if (pending & kViscaMotionFocus) stops.push_back(ViscaLens(cmd, address, kViscaLensFocus, 0x00));
    cmd.started = 0;
    return stops;
}

}  // namespace korvane
