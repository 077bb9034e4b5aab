#include "camera/FrameCamera.h"

#include "platform/Platform.h"

namespace korvane {

namespace {

std::int32_t OperationOf(PtzCommand command)
{
    switch (command) {
    case PtzCommand::ZoomTele:
    case PtzCommand::ZoomWide: return OP_ZOOM;
    case PtzCommand::FocusFar:
    case PtzCommand::FocusNear: return OP_FOCUS;
    case PtzCommand::IrisOpen:
    case PtzCommand::IrisClose: return OP_IRIS;
    default: return OP_MOVE;
    }
}

// Lens steps and moves are continuous motions a newer one replaces.
LaneKind KindOf(PtzCommand command) { return command == PtzCommand::Stop ? LaneKind::Stop : LaneKind::Motion; }

constexpr const char* kUnconfirmedText = "sent; this link cannot confirm that the camera got it";

}  // namespace

CFrameCamera::CFrameCamera(const EncoderTraits& traits, std::int32_t defaultSpeed)
    : m_encoder(traits), m_pLane(std::make_shared<CCommandLane>(traits))
{
    m_encoder.SetHorizonSpeed(defaultSpeed);
    m_encoder.SetVertcalSpeed(defaultSpeed);
}

Result CFrameCamera::Submit(std::int32_t op, LaneCommand command, LaneKind kind)
{
    const std::string why = RefusesUnsent() ? WhyCannot(Kind(), op) : std::string();
    if (!why.empty()) return Result::Fail(Outcome::Unsupported, why);
    Result ready = Ready();
    if (!ready.Succeeded()) return ready;
    command.protocol = m_encoder.Protocol();
    command.address = m_encoder.Address();
    command.hSpeed = m_encoder.HorizonSpeed();
    command.vSpeed = m_encoder.VertcalSpeed();
    Result submitted = m_pLane->Submit(std::move(command), kind);
    if (!submitted.Succeeded()) return submitted;
    return Deliver();
}

Result CFrameCamera::Deliver()
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    Result result;
    std::vector<Frame> frames;
    while (m_pLane->Take(frames))
        for (Frame& frame : frames) {
            Result sent = SendFrame(std::move(frame));
            if (!sent.Succeeded()) result = std::move(sent);
        }
    return result;
}

int CFrameCamera::Run(PtzCommand command)
{
    LaneCommand intent;
    intent.command = command;
    return Report(Submit(OperationOf(command), std::move(intent), KindOf(command)));
}

int CFrameCamera::PreSet(int preset, std::uint8_t op)
{
    if (op > 2 && !RefusesUnsent()) return Report(Result::Ok());  // nothing to send
    if (op > 2) return Report(Result::Fail(Outcome::Unsupported, "preset operation " + std::to_string(op) +
                                                                     " is none of go to (0), set (1) and clear (2)"));
    LaneCommand intent;
    intent.type = LaneCommand::Type::Preset;
    intent.preset = preset;
    intent.op = op;
    // Going to a preset moves the camera as a move does; set and clear are kept.
    return Report(Submit(OP_PRESET, std::move(intent), op == 0 ? LaneKind::Motion : LaneKind::Ordered));
}

int CFrameCamera::SendSpecialPreset(std::uint8_t preset, bool viscaRecall)
{
    std::int32_t op = OP_TRACK;
    if (preset == kAutoZoomOnPreset || preset == kAutoZoomOffPreset) op = OP_AUTOZOOM;
    if (preset == kAutoWriteOnPreset || preset == kAutoWriteOffPreset) op = OP_AUTOWRITE;
    LaneCommand intent;
    intent.type = LaneCommand::Type::SpecialPreset;
    intent.preset = preset;
    intent.viscaRecall = viscaRecall;
    return Report(Submit(op, std::move(intent), LaneKind::Ordered));
}

int CFrameCamera::ConnectTest()
{
    LaneCommand intent;
    intent.type = LaneCommand::Type::Test;
    Result result = Submit(OP_TEST, std::move(intent), LaneKind::Ordered);
    // No link of frames answers the test: what went out is all it can say,
    // never a "success" the camera did not give.
    if (result.Succeeded()) result = Result::Fail(Outcome::Unconfirmed, kUnconfirmedText);
    platform::ShowMessageBox(result.reason);
    return Report(std::move(result));
}

}  // namespace korvane
