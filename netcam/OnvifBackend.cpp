#include "netcam/OnvifBackend.h"

#include "camera/Capabilities.h"

#include "onvif/PTZService.h"
#include "platform/Platform.h"

namespace korvane {

namespace {

// The velocity of a speed: (s + 1) / 64 when positive, s / 64 otherwise, so
// that 63 is full speed.
float Velocity(std::int32_t speed)
{
    return static_cast<float>(speed > 0 ? (speed + 1.0) / 64.0 : speed / 64.0);
}

std::int32_t StoredProtocol(PTZPROTOCOL protocol)
{
    if (protocol == PROTOCOL_PELCO_D || protocol == PROTOCOL_PELCO_P) return protocol;
    return PROTOCOL_VISCA;
}

}  // namespace

COnvifBackend::COnvifBackend() : m_pStored(std::make_shared<CStoredPresets>()) {}
COnvifBackend::~COnvifBackend() = default;

CPTZService& COnvifBackend::Service()
{
    if (!m_pService) {
        m_pService = std::make_unique<CPTZService>(m_pStored);
        m_pService->SetProfileToken(m_strProfile);
        m_pService->SetTlsFingerprint(m_strTlsFingerprint);
        m_pService->SetMoveTimeout(std::chrono::milliseconds(m_nMoveTimeoutMs));
    }
    return *m_pService;
}

int COnvifBackend::Finish(const OnvifResult& result, int hostResult)
{
    // Nothing was asked: refused here (no opened PTZ profile) is a failure,
    // and so is what the client would not send, saying why.
    if (!result.outcome && result.value < 0) return NotOpen();
    if (!result.outcome && !result.note.empty()) return Report(Result::Fail(Outcome::Unsupported, result.note));
    if (!result.outcome) return hostResult;
    if (result.outcome->empty()) {
        m_pHealth->Succeeded();
        // A success that did more than asked says what (LastError).
        if (!result.note.empty() && hostResult) Report(Result{Outcome::Ok, result.note});
        return hostResult;
    }
    m_pHealth->Failed(*result.outcome);
    // The request failed, faulted or timed out: the call says so.
    return Report(Result::Fail(Outcome::LinkFailed, *result.outcome));
}

int COnvifBackend::NotOpen()
{
    return Report(Result::Fail(Outcome::NotOpen, "the ONVIF camera is not open (no PTZ profile), or was closed"));
}

void COnvifBackend::SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int,
                                   const char* user, const char* password, const char*)
{
    m_nProtocol = StoredProtocol(protocol);
    Finish(Service().Init(ip, port, user, password), 0);
}

int COnvifBackend::Open()
{
    if (!m_pService) return 0;  // Close took the client: set it up again first
    const OnvifResult opened = m_pService->Open();
    m_bNoFocus = opened.value == 1 && !m_pService->HasFocus();
    return Finish(opened, opened.value == 1 ? 1 : 0);
}

void COnvifBackend::Close()
{
    m_pHealth->Reset();
    m_pService.reset();
    m_pStored->Publish(std::nullopt);
    m_bNoFocus = false;
}

LinkKind COnvifBackend::Kind() const
{
    LinkKind kind{MODE_NETWORK, m_nProtocol, DEVICE_ONVIF};
    kind.noFocus = m_bNoFocus.load();
    return kind;
}

int COnvifBackend::Move(float pan, float tilt, float zoom)
{
    return m_pService ? Finish(m_pService->ContinuousMove(pan, tilt, zoom), 1) : NotOpen();
}

int COnvifBackend::MoveUp() { return Move(0.0f, Velocity(m_nVerticalSpeed), 0.0f); }
int COnvifBackend::MoveDown() { return Move(0.0f, -Velocity(m_nVerticalSpeed), 0.0f); }
int COnvifBackend::MoveLeft() { return Move(-Velocity(m_nHorizonSpeed), 0.0f, 0.0f); }
int COnvifBackend::MoveRight() { return Move(Velocity(m_nHorizonSpeed), 0.0f, 0.0f); }
int COnvifBackend::MoveTopLeft() { return Move(-Velocity(m_nHorizonSpeed), Velocity(m_nVerticalSpeed), 0.0f); }
int COnvifBackend::MoveTopRight() { return Move(Velocity(m_nHorizonSpeed), Velocity(m_nVerticalSpeed), 0.0f); }
int COnvifBackend::MoveButtomLeft() { return Move(-Velocity(m_nHorizonSpeed), -Velocity(m_nVerticalSpeed), 0.0f); }
int COnvifBackend::MoveButtomRight() { return Move(Velocity(m_nHorizonSpeed), -Velocity(m_nVerticalSpeed), 0.0f); }
// The zoom runs at the pan speed, as it always has.
int COnvifBackend::ZoomPlus() { return Move(0.0f, 0.0f, Velocity(m_nHorizonSpeed)); }
int COnvifBackend::ZoomMinus() { return Move(0.0f, 0.0f, -Velocity(m_nHorizonSpeed)); }

int COnvifBackend::Focus(float speed)
{
    if (!m_pService) return NotOpen();
    // A camera without an Imaging service: nothing is sent, and the call says why.
    if (const std::string why = WhyCannot(Kind(), OP_FOCUS); !why.empty())
        return Report(Result::Fail(Outcome::Unsupported, why));
    return Finish(m_pService->Focus(speed), 1);
}

// Focus runs at the pan speed, as the zoom does.
int COnvifBackend::FocusPlus() { return Focus(Velocity(m_nHorizonSpeed)); }
int COnvifBackend::FocusMinus() { return Focus(-Velocity(m_nHorizonSpeed)); }

int COnvifBackend::CameraStop() { return m_pService ? Finish(m_pService->Stop(), 1) : NotOpen(); }

int COnvifBackend::PreSet(int preset, std::uint8_t op)
{
    if (!m_pService) return NotOpen();
    // What is sent for neither fails: a preset the call did not reach is no success.
    int first = 0, last = -1;
    if (op > 2)
        return Report(Result::Fail(Outcome::Unsupported, "preset operation " + std::to_string(op) +
                                                             " is none of go to (0), set (1) and clear (2)"));
    if (!PresetRange(Kind(), first, last) || preset < first || preset > last)
        return Report(Result::Fail(Outcome::Unsupported, "ONVIF presets are numbered " + std::to_string(first) +
                                                             " to " + std::to_string(last) + ", not " +
                                                             std::to_string(preset)));
    switch (op) {
    case 0: return Finish(m_pService->GotoPreset(preset, m_nHorizonSpeed, m_nVerticalSpeed), 1);
    case 1: return Finish(m_pService->SetPreset(preset), 1);
    default: return Finish(m_pService->RemovePreset(preset), 1);
    }
}

int COnvifBackend::ConnectTest()
{
    std::string text = "no ONVIF camera was set up (SetSocketParam)";
    Result result = Result::Fail(Outcome::NotOpen, text);
    if (m_pService) {
        // The camera answers the test: its answer is the result.
        const OnvifResult tested = m_pService->Test(text);
        if (tested.value == 1) {
            m_pHealth->Succeeded();
            result = Result::Ok();
        } else {
            m_pHealth->Failed(text);
            result = Result::Fail(Outcome::LinkFailed, text);
        }
    }
    platform::ShowMessageBox(text);
    return Report(std::move(result));
}

// Position and home report their own result and leave the link state alone:
// a host polling the position must not hide what the last command came to.
int COnvifBackend::GetPosition(float& pan, float& tilt, float& zoom, int& moving)
{
    if (!m_pService) return 0;
    onvif::PtzStatus status;
    if (m_pService->GetStatus(status).value != 1) return 0;
    // An axis the camera did not report keeps the host's value.
    if (status.hasPanTilt) {
        pan = status.pan;
        tilt = status.tilt;
    }
    if (status.hasZoom) zoom = status.zoom;
    moving = status.moving ? 1 : 0;
    return 1;
}

int COnvifBackend::GotoHome()
{
    return m_pService && m_pService->GotoHome(m_nHorizonSpeed, m_nVerticalSpeed).value == 1 ? 1 : 0;
}

std::optional<std::vector<int>> COnvifBackend::StoredPresets() const { return m_pStored->Read(); }

int COnvifBackend::SetHome() { return m_pService && m_pService->SetHome().value == 1 ? 1 : 0; }

void COnvifBackend::SetOnvifProfile(const char* token)
{
    m_strProfile = token ? token : "";
    if (m_pService) m_pService->SetProfileToken(m_strProfile);
}

void COnvifBackend::SetTlsFingerprint(const char* fingerprint)
{
    m_strTlsFingerprint = fingerprint ? fingerprint : "";
    if (m_pService) m_pService->SetTlsFingerprint(m_strTlsFingerprint);
}

void COnvifBackend::SetMoveTimeout(unsigned milliseconds)
{
    m_nMoveTimeoutMs = milliseconds;
    if (m_pService) m_pService->SetMoveTimeout(std::chrono::milliseconds(milliseconds));
}

}  // namespace korvane
