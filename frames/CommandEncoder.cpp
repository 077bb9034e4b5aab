#include "frames/CommandEncoder.h"

#include <korvane/Korvane.h>

#include <iterator>

namespace korvane {

namespace {

// Pelco-D and Pelco-P share the motion bits; focus and iris differ.
struct PelcoMotion {
    std::uint8_t bits;
    bool pan;   // moves the pan axis
    bool tilt;  // moves the tilt axis
};

PelcoMotion MotionOf(PtzCommand command)
{
    switch (command) {
    case PtzCommand::Up: return {kPelcoUp, false, true};
    case PtzCommand::Down: return {kPelcoDown, false, true};
    case PtzCommand::Left: return {kPelcoLeft, true, false};
    case PtzCommand::Right: return {kPelcoRight, true, false};
    case PtzCommand::UpLeft: return {kPelcoUp | kPelcoLeft, true, true};
    case PtzCommand::UpRight: return {kPelcoUp | kPelcoRight, true, true};
    case PtzCommand::DownLeft: return {kPelcoDown | kPelcoLeft, true, true};
    case PtzCommand::DownRight: return {kPelcoDown | kPelcoRight, true, true};
    default: return {0, false, false};
    }
}

bool IsDiagonal(const PelcoMotion& motion) { return motion.pan && motion.tilt; }

}  // namespace

std::vector<Frame> EncodedCommand::Frames() &&
{
    std::vector<Frame> frames;
    if (!preamble.empty()) frames.push_back(std::move(preamble));
    if (!frame.empty()) frames.push_back(std::move(frame));
    for (Frame& more : after)
        if (!more.empty()) frames.push_back(std::move(more));
    return frames;
}

CCommandEncoder::CCommandEncoder(const EncoderTraits& traits)
    : m_traits(traits), m_nProtocol(PROTOCOL_PELCO_D), m_nAddress(0), m_nHSpeed(30), m_nVSpeed(30)
{
}

CCommandEncoder::CCommandEncoder(const CCommandEncoder& other)
    : m_traits(other.m_traits),
      m_nProtocol(other.m_nProtocol.load()),
      m_nAddress(other.m_nAddress.load()),
      m_nHSpeed(other.m_nHSpeed.load()),
      m_nVSpeed(other.m_nVSpeed.load()),
      m_preambles(other.m_preambles),
      m_cmdPelcoD(other.m_cmdPelcoD),
      m_cmdPelcoP(other.m_cmdPelcoP),
      m_cmdVisca(other.m_cmdVisca)
{
}

EncodedCommand CCommandEncoder::Command(PtzCommand command)
{
    switch (m_nProtocol) {
    case PROTOCOL_PELCO_D: return {{}, PelcoD(command), {}};
    case PROTOCOL_PELCO_P: return {{}, PelcoP(command), {}};
    case PROTOCOL_VISCA: return m_traits.visca ? Visca(command) : EncodedCommand{};
    default: return {};
    }
}

Frame CCommandEncoder::PelcoD(PtzCommand command)
{
    const std::uint8_t a = AddressByte();
    const PelcoMotion motion = MotionOf(command);
    if (motion.bits != 0) {
        if (IsDiagonal(motion))
            return PelcoDDiagonal(m_cmdPelcoD, a, motion.bits & (kPelcoLeft | kPelcoRight), m_nHSpeed,
                                  motion.bits & (kPelcoUp | kPelcoDown), m_nVSpeed);
        return motion.pan ? PelcoDPan(m_cmdPelcoD, a, motion.bits, m_nHSpeed)
                          : PelcoDTilt(m_cmdPelcoD, a, motion.bits, m_nVSpeed);
    }
    switch (command) {
    case PtzCommand::ZoomTele: return PelcoDZoom(m_cmdPelcoD, a, kPelcoZoomTele);
    case PtzCommand::ZoomWide: return PelcoDZoom(m_cmdPelcoD, a, kPelcoZoomWide);
    case PtzCommand::FocusFar: return PelcoDCommand(m_cmdPelcoD, a, 0x00, 0x80, 0x00, 0x00);
    case PtzCommand::FocusNear: return PelcoDCommand(m_cmdPelcoD, a, 0x01, 0x00, 0x00, 0x00);
    case PtzCommand::IrisOpen: return PelcoDIris(m_cmdPelcoD, a, 0x02);
    case PtzCommand::IrisClose: return PelcoDIris(m_cmdPelcoD, a, 0x04);
    default: return PelcoDStop(m_cmdPelcoD, a);
    }
}

Frame CCommandEncoder::PelcoP(PtzCommand command)
{
    const std::uint8_t a = AddressByte();
    const PelcoMotion motion = MotionOf(command);
    if (motion.bits != 0) {
        if (IsDiagonal(motion))
            return PelcoPCommand(m_cmdPelcoP, a, 0x00, motion.bits,
                                 LowByte(static_cast<std::uint32_t>(m_nHSpeed)),
                                 LowByte(static_cast<std::uint32_t>(m_nVSpeed)));
        return motion.pan
                   ? PelcoPCommand(m_cmdPelcoP, a, 0x00, motion.bits, CapSpeed(m_nHSpeed), kPelcoSpeedFixed)
                   : PelcoPCommand(m_cmdPelcoP, a, 0x00, motion.bits, kPelcoSpeedFixed, CapSpeed(m_nVSpeed));
    }
    switch (command) {
    case PtzCommand::ZoomTele: return PelcoPCommand(m_cmdPelcoP, a, 0x00, kPelcoZoomTele, 0x00, 0x00);
    case PtzCommand::ZoomWide: return PelcoPCommand(m_cmdPelcoP, a, 0x00, kPelcoZoomWide, 0x00, 0x00);
    case PtzCommand::FocusFar: return PelcoPCommand(m_cmdPelcoP, a, 0x01, 0x00, 0x00, 0x00);
    case PtzCommand::FocusNear: return PelcoPCommand(m_cmdPelcoP, a, 0x02, 0x00, 0x00, 0x00);
    case PtzCommand::IrisOpen: return PelcoPCommand(m_cmdPelcoP, a, 0x04, 0x00, 0x00, 0x00);
    case PtzCommand::IrisClose: return PelcoPCommand(m_cmdPelcoP, a, 0x08, 0x00, 0x00, 0x00);
    default: return PelcoPCommand(m_cmdPelcoP, a, 0x00, 0x00, 0x00, 0x00);
    }
}

Frame CCommandEncoder::ViscaPreamble(PtzCommand command)
{
    ViscaPreambleFlags& flags = m_preambles;
    bool* flag = nullptr;
    bool focus = true;
    switch (command) {
    case PtzCommand::FocusFar: flag = &flags.focusFar; break;
    case PtzCommand::FocusNear: flag = &flags.focusNear; break;
    case PtzCommand::IrisOpen: flag = &flags.irisOpen; focus = false; break;
    case PtzCommand::IrisClose: flag = &flags.irisClose; focus = false; break;
    default: return {};
    }
    if (*flag) return {};
    *flag = true;
    return focus ? ViscaFrame(AddressByte(), {0x01, 0x04, 0x38, 0x03})   // manual focus
                 : ViscaFrame(AddressByte(), {0x01, 0x04, 0x39, 0x0B});  // iris priority
}

EncodedCommand CCommandEncoder::Visca(PtzCommand command)
{
    const std::uint8_t a = AddressByte();
    const std::uint8_t hs = LowByte(static_cast<std::uint32_t>(m_nHSpeed));
    const std::uint8_t vs = LowByte(static_cast<std::uint32_t>(m_nVSpeed));
    EncodedCommand out;
    out.preamble = ViscaPreamble(command);
    switch (command) {
    case PtzCommand::Stop: {
        std::vector<Frame> stops = ViscaStopAll(m_cmdVisca, a);
        out.frame = std::move(stops.front());
        out.after.assign(std::make_move_iterator(stops.begin() + 1), std::make_move_iterator(stops.end()));
        return out;
    }
    case PtzCommand::Up: out.frame = ViscaTilt(m_cmdVisca, a, kViscaUp, m_nVSpeed); break;
    case PtzCommand::Down: out.frame = ViscaTilt(m_cmdVisca, a, kViscaDown, m_nVSpeed); break;
    case PtzCommand::Left: out.frame = ViscaPan(m_cmdVisca, a, kViscaLeft, m_nHSpeed); break;
    case PtzCommand::Right: out.frame = ViscaPan(m_cmdVisca, a, kViscaRight, m_nHSpeed); break;
    case PtzCommand::UpLeft: out.frame = ViscaDrive(m_cmdVisca, a, hs, vs, kViscaLeft, kViscaUp); break;
    case PtzCommand::UpRight: out.frame = ViscaDrive(m_cmdVisca, a, hs, vs, kViscaRight, kViscaUp); break;
    case PtzCommand::DownLeft: out.frame = ViscaDrive(m_cmdVisca, a, hs, vs, kViscaLeft, kViscaDown); break;
    case PtzCommand::DownRight: out.frame = ViscaDrive(m_cmdVisca, a, hs, vs, kViscaRight, kViscaDown); break;
    case PtzCommand::ZoomTele:
    case PtzCommand::ZoomWide: {
        const bool tele = command == PtzCommand::ZoomTele;
        std::uint8_t zoom = tele ? 0x02 : 0x03;
        if (m_traits.viscaZoom == ViscaZoom::Variable) {
            std::int64_t p = static_cast<std::int64_t>(m_nHSpeed) * 7 / 63;
            if (p > 7) p = 7;
            zoom = static_cast<std::uint8_t>((tele ? 0x20 : 0x30) | (static_cast<std::uint8_t>(p) & 0x07));
        }
        out.frame = ViscaLens(m_cmdVisca, a, kViscaLensZoom, zoom);
        m_cmdVisca.lensKind = kViscaLensZoom;
        break;
    }
    case PtzCommand::FocusFar:
    case PtzCommand::FocusNear:
        out.frame = ViscaLens(m_cmdVisca, a, kViscaLensFocus, command == PtzCommand::FocusFar ? 0x02 : 0x03);
        m_cmdVisca.lensKind = kViscaLensFocus;
        break;
    case PtzCommand::IrisOpen:
    case PtzCommand::IrisClose:
        out.frame = ViscaLens(m_cmdVisca, a, 0x0B, command == PtzCommand::IrisOpen ? 0x02 : 0x03);
        return out;
    }
    m_cmdVisca.started |= command == PtzCommand::ZoomTele || command == PtzCommand::ZoomWide ? kViscaMotionZoom
                          : command == PtzCommand::FocusFar || command == PtzCommand::FocusNear
                              ? kViscaMotionFocus
                              : kViscaMotionDrive;
    return out;
}

Frame CCommandEncoder::Preset(std::int32_t preset, std::uint8_t op)
{
    if (op > 2) return {};
    const std::uint8_t a = AddressByte();
    const std::uint8_t n = LowByte(static_cast<std::uint32_t>(preset));
    static constexpr std::uint8_t kPelcoCommand[3] = {0x07, 0x03, 0x05};  // go to, set, clear
    static constexpr std::uint8_t kViscaOperation[3] = {kViscaMemoryRecall, kViscaMemorySet, kViscaMemoryReset};
    switch (m_nProtocol) {
    case PROTOCOL_PELCO_D: return PelcoDCommand(m_cmdPelcoD, a, 0x00, kPelcoCommand[op], 0x00, n);
    case PROTOCOL_PELCO_P: return PelcoPCommand(m_cmdPelcoP, a, 0x00, kPelcoCommand[op], 0x00, n);
    case PROTOCOL_VISCA:
        if (!m_traits.visca) return {};
        m_cmdVisca.started = 0;  // a recall replaces any motion; a store ends one
        return ViscaMemory(m_cmdVisca, a, n, kViscaOperation[op]);
    default: return {};
    }
}

Frame CCommandEncoder::SpecialPreset(std::uint8_t preset, bool viscaRecall)
{
    if (m_nProtocol == PROTOCOL_VISCA && !viscaRecall) return {};
    return Preset(preset, 0);
}

Frame CCommandEncoder::ConnectTest()
{
    switch (m_nProtocol) {
    case PROTOCOL_PELCO_D: return ConnectTestFrame(m_cmdPelcoD.length, AddressByte());
    case PROTOCOL_PELCO_P: return ConnectTestFrame(m_cmdPelcoP.length, AddressByte());
    default: return {};
    }
}

}  // namespace korvane
