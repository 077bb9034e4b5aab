#include "netcam/ViscaIpCamera.h"

#include "platform/Platform.h"

#include <algorithm>

namespace korvane {

namespace {

constexpr std::int32_t kDefaultSpeed = 32;

// How a frame meets the link: a stop makes a motion waiting for its answer
// give way; a mode setting or a stored preset is kept whatever follows.
ViscaIpKind KindOf(const Frame& frame)
{
    if (frame.size() == 9 && frame[1] == 0x01 && frame[2] == 0x06 && frame[3] == 0x01)
        return frame[6] == kViscaHold && frame[7] == kViscaHold ? ViscaIpKind::Stop : ViscaIpKind::Motion;
    if (frame.size() == 6 && frame[1] == 0x01 && frame[2] == 0x04 &&
        (frame[3] == kViscaLensZoom || frame[3] == kViscaLensFocus) && frame[4] == 0x00)
        return ViscaIpKind::Stop;
    if (frame.size() >= 5 && frame[1] == 0x01 && frame[2] == 0x04 && (frame[3] == 0x38 || frame[3] == 0x39))
        return ViscaIpKind::Ordered;
    if (frame.size() == 7 && frame[1] == 0x01 && frame[2] == 0x04 && frame[3] == 0x3F && frame[4] != kViscaMemoryRecall)
        return ViscaIpKind::Ordered;
    return ViscaIpKind::Motion;
}

Result NotOpen() { return Result::Fail(Outcome::NotOpen, "the VISCA-over-IP camera is not open"); }

}  // namespace

CViscaIpCamera::CViscaIpCamera() : CFrameCamera(EncoderTraits{true, ViscaZoom::Standard}, kDefaultSpeed)
{
    m_encoder.SetProtocol(PROTOCOL_VISCA);
    m_encoder.SetAddress(1);
    SetHorizonSpeed(kDefaultSpeed);
    SetVertcalSpeed(kDefaultSpeed);
}

CViscaIpCamera::~CViscaIpCamera() { m_link.Close(); }

void CViscaIpCamera::SetSocketParam(PTZPROTOCOL, const char* ip, unsigned int port, unsigned int, const char*,
                                    const char*, const char*)
{
    m_strHost = ip ? ip : "";
    m_nPort = port == 0 || port > 0xFFFF ? kViscaIpPort : static_cast<std::uint16_t>(port);
}

Result CViscaIpCamera::Finish(const ViscaIpResult& sent)
{
    if (sent.ok) {
        m_pHealth->Succeeded();
        return sent.reason.empty() ? Result::Ok() : Result{Outcome::Superseded, sent.reason};
    }
    m_pHealth->Failed(sent.reason);
    const bool refused = sent.reason.find("the camera") != std::string::npos;
    const bool silent = sent.reason.find("no answer") != std::string::npos;
    return Result::Fail(refused ? Outcome::Refused : silent ? Outcome::TimedOut : Outcome::LinkFailed, sent.reason);
}

int CViscaIpCamera::Open()
{
    if (m_strHost.empty())
        return Report(Result::Fail(Outcome::NotOpen, "no VISCA-over-IP camera was set up (SetSocketParam)"));
    return Report(Finish(m_link.Open(m_strHost, m_nPort)));
}

void CViscaIpCamera::Close()
{
    m_link.Close();
    m_pLane->Drop();
    m_pHealth->Reset();
}

Result CViscaIpCamera::Ready() const { return m_link.IsOpen() ? Result::Ok() : NotOpen(); }

Result CViscaIpCamera::SendFrame(Frame frame)
{
    const ViscaIpKind kind = KindOf(frame);
    return Finish(m_link.Send(frame, kind));
}

Result CViscaIpCamera::Deliver()
{
    // A stop reaches the link before this thread waits for the one ahead of
    // it, so a motion still waiting for its answer gives way at once.
    if (m_pLane->HasStop()) m_link.CancelMotion();
    return CFrameCamera::Deliver();
}

std::string CViscaIpCamera::LastErrorText() const
{
    const std::string state = m_link.State();
    return state.empty() ? "Success" : state;
}

int CViscaIpCamera::ConnectTest()
{
    PanTiltPosition position;
    const Result result = m_link.IsOpen() ? Finish(m_link.QueryPanTilt(position)) : NotOpen();
    platform::ShowMessageBox(result.Succeeded() ? "the camera answers its position inquiry" : result.reason);
    return Report(result);
}

// Pan and tilt as signed 16-bit counts over 0x8000 (-1 to 1), zoom over
// 0x4000, the usual far end of a VISCA zoom (0 wide to 1 tele). Position
// queries leave the link state to what the commands came to.
int CViscaIpCamera::GetPosition(float& pan, float& tilt, float& zoom, int& moving)
{
    if (!m_link.IsOpen()) return Report(NotOpen());
    PanTiltPosition position;
    std::uint16_t zoomCount = 0;
    ViscaIpResult asked = m_link.QueryPanTilt(position);
    if (asked.ok) asked = m_link.QueryZoom(zoomCount);
    if (!asked.ok) return Report(Result::Fail(Outcome::LinkFailed, asked.reason));
    pan = static_cast<float>(position.pan / 32768.0);
    tilt = static_cast<float>(position.tilt / 32768.0);
    zoom = static_cast<float>(std::min(1.0, zoomCount / 16384.0));
    moving = 0;  // VISCA has no motion inquiry all cameras answer
    return Report(Result::Ok());
}

int CViscaIpCamera::GotoHome()
{
    LaneCommand intent;
    intent.type = LaneCommand::Type::Raw;
    intent.raw = {0x81, 0x01, 0x06, 0x04, 0xFF};
    return Report(Submit(OP_HOME, std::move(intent), LaneKind::Motion));
}

int CViscaIpCamera::SetHome()
{
    return Report(Result::Fail(Outcome::Unsupported, "a VISCA camera's home position is fixed"));
}

}  // namespace korvane
