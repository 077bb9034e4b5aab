// The far end of a serial line: a pseudo-terminal whose other side the camera
// opens. It reads the frames the camera sends and writes return codes as the
// tracking system would.
#pragma once

#include "sim/FrameDecoder.h"

#include <chrono>
#include <optional>
#include <string>

namespace korvane::sim {

class CSerialPeer {
public:
    CSerialPeer();  // throws std::runtime_error when no pseudo-terminal can be had
    ~CSerialPeer();
    CSerialPeer(const CSerialPeer&) = delete;
    CSerialPeer& operator=(const CSerialPeer&) = delete;

    // The device the camera side opens, e.g. /dev/pts/3.
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

private:
    bool FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline);

    int m_nMaster = -1;
    int m_nSlave = -1;  // held so that the line stays up between camera opens
    std::string m_strDevice;
    Bytes m_pending;
};

}  // namespace korvane::sim
