// The far end of a serial line: a pseudo-terminal (on Windows one end of a
// COM-port pair) whose other side the camera opens. It reads the frames the
// camera sends and writes return codes as the tracking system would.
#pragma once

#include "sim/FrameDecoder.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace korvane::sim {

class CSerialPeer {
public:
    // Throws std::runtime_error, saying why, when no line can be had.
    CSerialPeer();
    ~CSerialPeer();
    CSerialPeer(const CSerialPeer&) = delete;
    CSerialPeer& operator=(const CSerialPeer&) = delete;

    // The device the camera side opens, e.g. /dev/pts/3 or COM11.
    const std::string& DeviceName() const { return m_strDevice; }

    // Writes all bytes; false when the line stays full for a second (nobody
    // reads the camera side) or is gone.
    bool Send(const Bytes& bytes);
    bool SendReturnCode(int cameraAddress, std::uint8_t code) { return Send(ReturnCodeFrame(cameraAddress, code)); }

    // The next whole frame the camera sent, or nothing when none arrives in time.
    std::optional<Bytes> NextFrame(std::chrono::milliseconds timeout);
    // Exactly count raw bytes, or fewer when the time runs out.
    Bytes ReadBytes(std::size_t count, std::chrono::milliseconds timeout);
    // True when nothing at all arrives within the time.
    bool Silent(std::chrono::milliseconds timeout);

    // The peer goes away, as an unplugged adapter does.
    void Hangup();
    // Whether Hangup makes the camera side fail, as an unplugged adapter does:
    // the two ends of a COM-port pair stay up whatever one of them does.
    static bool HangupReachesTheCamera();

private:
    struct Line;  // this system's end of the line
    bool FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline);
    // Up to size bytes, waiting at most timeout for the first: the count, 0
    // when nothing came, -1 when the line is gone.
    long ReadSome(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout);

    std::unique_ptr<Line> m_pLine;
    std::string m_strDevice;
    Bytes m_pending;
};

// Another program holding a serial device for itself, as far as this system
// lets one: the camera side then finds the device busy.
class CDeviceHolder {
public:
    explicit CDeviceHolder(const std::string& device);
    ~CDeviceHolder();
    CDeviceHolder(const CDeviceHolder&) = delete;
    CDeviceHolder& operator=(const CDeviceHolder&) = delete;

    bool Holds() const { return m_bHolds; }

private:
    struct Handle;
    std::unique_ptr<Handle> m_pHandle;
    bool m_bHolds = false;
};

}  // namespace korvane::sim
