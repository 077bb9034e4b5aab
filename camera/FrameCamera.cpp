#include "camera/FrameCamera.h"

#include "platform/Platform.h"

namespace korvane {

CFrameCamera::CFrameCamera(const EncoderTraits& traits, std::int32_t defaultSpeed) : m_encoder(traits)
{
    m_encoder.SetHorizonSpeed(defaultSpeed);
    m_encoder.SetVertcalSpeed(defaultSpeed);
}

void CFrameCamera::SendIfAny(Frame frame)
{
    if (!frame.empty()) SendFrame(std::move(frame));
}

int CFrameCamera::Run(PtzCommand command)
{
    EncodedCommand encoded = m_encoder.Command(command);
    SendIfAny(std::move(encoded.preamble));
    SendIfAny(std::move(encoded.frame));
    return 1;
}

int CFrameCamera::PreSet(int preset, std::uint8_t op)
{
    SendIfAny(m_encoder.Preset(preset, op));
    return 1;
}

int CFrameCamera::SendSpecialPreset(std::uint8_t preset, bool viscaRecall)
{
    SendIfAny(m_encoder.SpecialPreset(preset, viscaRecall));
    return 1;
}

int CFrameCamera::ConnectTest()
{
    SendIfAny(m_encoder.ConnectTest());
    platform::ShowMessageBox(LastErrorText());
    return 1;
}

}  // namespace korvane
