// One table of camera operations for every back-end: given the protocol, the
// address and the speeds, it builds the frames of each operation and keeps the
// command records that later frames (the VISCA stop) depend on.
#pragma once

#include "frames/Frame.h"
#include "frames/PelcoFrames.h"
#include "frames/ViscaFrames.h"

#include <atomic>
#include <cstdint>

namespace korvane {

enum class PtzCommand {
    Stop,
    Up,
    Down,
    Left,
    Right,
    UpLeft,
    UpRight,
    DownLeft,
    DownRight,
    ZoomTele,
    ZoomWide,
    FocusFar,
    FocusNear,
    IrisOpen,
    IrisClose,
};

// VISCA zoom: the serial line drives it at a speed taken from the pan speed;
// the tracking system relays the standard-speed command.
enum class ViscaZoom { Variable, Standard };

// The first focus or iris command of a camera sends a mode-setting preamble
// ahead of it (manual focus, iris priority). Each encoder keeps its own flags,
// set when the command is encoded, which is when it goes out.
struct ViscaPreambleFlags {
    bool focusFar = false;
    bool focusNear = false;
    bool irisOpen = false;
    bool irisClose = false;
};

struct EncoderTraits {
    bool visca;  // false: VISCA sends nothing
    ViscaZoom viscaZoom;
};

// What one operation puts on the wire, in order; any may be empty.
struct EncodedCommand {
    Frame preamble;
    Frame frame;
    std::vector<Frame> after;  // a VISCA stop's stops of the other motions

    // The non-empty frames in order.
    std::vector<Frame> Frames() &&;
};

class CCommandEncoder {
public:
    explicit CCommandEncoder(const EncoderTraits& traits);
    CCommandEncoder(const CCommandEncoder& other);
    CCommandEncoder& operator=(const CCommandEncoder&) = delete;

    // The settings may be set while another thread encodes (a stop beside a
    // running call); the records below belong to whoever encodes.
    void SetProtocol(std::int32_t protocol) { m_nProtocol = protocol; }
    std::int32_t Protocol() const { return m_nProtocol; }
    void SetAddress(std::uint32_t address) { m_nAddress = address; }
    std::uint32_t Address() const { return m_nAddress; }
    void SetHorizonSpeed(std::int32_t speed) { m_nHSpeed = speed; }
    void SetVertcalSpeed(std::int32_t speed) { m_nVSpeed = speed; }
    std::int32_t HorizonSpeed() const { return m_nHSpeed; }
    std::int32_t VertcalSpeed() const { return m_nVSpeed; }

    EncodedCommand Command(PtzCommand command);
    // op 0 go to, 1 set, 2 clear; anything else builds nothing.
    Frame Preset(std::int32_t preset, std::uint8_t op);
    // Go to a special preset. Under VISCA a memory recall when viscaRecall,
    // else nothing.
    Frame SpecialPreset(std::uint8_t preset, bool viscaRecall);
    // Pelco only; VISCA has no test frame.
    Frame ConnectTest();

    const PELCOPCMD& PelcoPRecord() const { return m_cmdPelcoP; }

private:
    Frame PelcoD(PtzCommand command);
    Frame PelcoP(PtzCommand command);
    EncodedCommand Visca(PtzCommand command);
    Frame ViscaPreamble(PtzCommand command);
    std::uint8_t AddressByte() const { return LowByte(m_nAddress); }

    EncoderTraits m_traits;
    std::atomic<std::int32_t> m_nProtocol;
    std::atomic<std::uint32_t> m_nAddress;
    std::atomic<std::int32_t> m_nHSpeed;
    std::atomic<std::int32_t> m_nVSpeed;
    ViscaPreambleFlags m_preambles;
    PELCODCMD m_cmdPelcoD{};
    PELCOPCMD m_cmdPelcoP{};
    VISCACMD m_cmdVisca{};
};

}  // namespace korvane
