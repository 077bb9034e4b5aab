// The exported facade: one back-end per camera, chosen by the mode; every call
// is passed on. Nothing thrown inside reaches the host.
#include <korvane/Korvane.h>

#include "camera/CameraBackend.h"
#include "camera/Capabilities.h"
#include "camera/Result.h"
#include "netcam/NetCamera.h"
#include "platform/Platform.h"
#include "serialcam/SerialCamera.h"
#include "tracking/TrackSystem.h"

#include <algorithm>
#include <new>

using korvane::CCameraBackend;

namespace {

std::shared_ptr<CCameraBackend> MakeBackend(KORVANEMODE mode)
{
    switch (mode) {
    case MODE_SERIAL: return std::make_shared<korvane::CSerialCamera>();
    case MODE_NETWORK: return std::make_shared<korvane::CNetCamera>();
    case MODE_TRACKSYSTEM: return std::make_shared<korvane::CTrackSystem>();
    default: return nullptr;
    }
}

// Why a call failed when nothing inside said more.
constexpr const char* kFailedText = "the call failed; GetLinkState tells what the library last saw of the link";

void ReportFailure(const char* reason) noexcept
{
    try {
        korvane::Report(korvane::Result::Fail(korvane::Outcome::LinkFailed, reason));
    } catch (...) {
        korvane::ClearLastResult();  // no memory even for the reason
    }
}

// Runs call on the back-end; without one the result is the value given. The
// calling thread's last error starts afresh and ends with the call's reason.
template <typename Value, typename Call>
Value Forward(const std::shared_ptr<CCameraBackend>& backend, Value fallback, Call call) noexcept
{
    korvane::ClearLastResult();
    if (!backend) return fallback;
    try {
        const Value value = call(*backend);
        if (!value && korvane::LastOutcome() == korvane::Outcome::Ok) ReportFailure(kFailedText);
        return value;
    } catch (const std::bad_alloc&) {
        ReportFailure("out of memory");
    } catch (...) {
        ReportFailure("an internal error stopped the call");
    }
    return Value{};
}

template <typename Call>
void Forward(const std::shared_ptr<CCameraBackend>& backend, Call call) noexcept
{
    korvane::ClearLastResult();
    if (!backend) return;
    try {
        call(*backend);
    } catch (...) {
        ReportFailure("an internal error stopped the call");
    }
}

}  // namespace

CKorvane::CKorvane(KORVANEMODE mode) : m_eMode(mode)
{
    try {
        m_pBackend = MakeBackend(mode);
    } catch (...) {
        m_pBackend = nullptr;  // out of memory: a camera that does nothing
    }
}

CKorvane::~CKorvane()
{
    try {
        m_pBackend.reset();
    } catch (...) {
    }
}

CKorvane::CKorvane(const CKorvane& other) : m_eMode(other.m_eMode), m_pBackend(other.m_pBackend) {}

CKorvane& CKorvane::operator=(const CKorvane& other)
{
    m_eMode = other.m_eMode;
    m_pBackend = other.m_pBackend;  // self-assignment safe; the replaced one is released if last
    return *this;
}

void CKorvane::SetDeviceAddress(unsigned int address)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetDeviceAddress(address); });
}

void CKorvane::SetHorizonSpeed(int speed)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetHorizonSpeed(speed); });
}

void CKorvane::SetVertcalSpeed(int speed)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetVertcalSpeed(speed); });
}

bool CKorvane::SetCommDevice(const char* port, MYDCB& dcb)
{
    return Forward(m_pBackend, false, [&](CCameraBackend& b) { return b.SetCommDevice(port, dcb); });
}

void CKorvane::SetDeviceType(DEVICETYPE type)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetDeviceType(type); });
}

void CKorvane::SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                              const char* user, const char* password, const char* text7)
{
    Forward(m_pBackend,
            [&](CCameraBackend& b) { b.SetSocketParam(protocol, ip, port, value4, user, password, text7); });
}

void CKorvane::SetSystemType(TRACKSYSTEMTYPE type)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetSystemType(type); });
}

void CKorvane::SetSystemParam(PTZPROTOCOL protocol, const char* ip, unsigned int port)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetSystemParam(protocol, ip, port); });
}

void CKorvane::SetRecvNotify(RecvNotify notify, void* context)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetRecvNotify(notify, context); });
}

int CKorvane::Open()
{
    if (!m_pBackend) return 1;  // a camera of no known mode has nothing to open
    return Forward(m_pBackend, 0, [](CCameraBackend& b) {
        const int opened = b.Open();
        // A back-end that said nothing more: the link state's reason is the call's.
        std::string why;
        if (!opened && korvane::LastOutcome() == korvane::Outcome::Ok &&
            b.Health().State(why) == KORVANE_LINK_FAILED && !why.empty())
            korvane::Report(korvane::Result::Fail(korvane::Outcome::LinkFailed, why));
        return opened;
    });
}

void CKorvane::Close()
{
    Forward(m_pBackend, [](CCameraBackend& b) { b.Close(); });
}

#define KORVANE_COMMAND(Name)                                                       \
    int CKorvane::Name()                                                            \
    {                                                                               \
        return Forward(m_pBackend, 1, [](CCameraBackend& b) { return b.Name(); }); \
    }

KORVANE_COMMAND(MoveUp)
KORVANE_COMMAND(MoveDown)
KORVANE_COMMAND(MoveLeft)
KORVANE_COMMAND(MoveRight)
KORVANE_COMMAND(MoveTopLeft)
KORVANE_COMMAND(MoveTopRight)
KORVANE_COMMAND(MoveButtomLeft)
KORVANE_COMMAND(MoveButtomRight)
KORVANE_COMMAND(CameraStop)
KORVANE_COMMAND(ZoomPlus)
KORVANE_COMMAND(ZoomMinus)
KORVANE_COMMAND(FocusPlus)
KORVANE_COMMAND(FocusMinus)
KORVANE_COMMAND(IrisPlus)
KORVANE_COMMAND(IrisMinus)
KORVANE_COMMAND(OpenTrack)
KORVANE_COMMAND(CloseTrack)
KORVANE_COMMAND(OpenAutoZoom)
KORVANE_COMMAND(CloseAutoZoom)
KORVANE_COMMAND(OpenAutoWrite)
KORVANE_COMMAND(CloseAutoWrite)
KORVANE_COMMAND(ConnectTest)

#undef KORVANE_COMMAND

int CKorvane::PreSet(int preset, unsigned char PresetOp)
{
    return Forward(m_pBackend, 1, [&](CCameraBackend& b) { return b.PreSet(preset, PresetOp); });
}

// --- capabilities and link state -----------------------------------------------

namespace {

std::string WhyCannotText(const std::shared_ptr<CCameraBackend>& backend, KORVANEOPERATION op)
{
    korvane::LinkKind kind;  // no back-end: a camera of no known mode
    if (backend) kind = backend->Kind();
    return korvane::WhyCannot(kind, op);
}

}  // namespace

bool CKorvane::Can(KORVANEOPERATION op) const { return WhyCannot(op, nullptr, 0) == 0; }

int CKorvane::WhyCannot(KORVANEOPERATION op, char* why, int size) const
{
    try {
        const std::string text = WhyCannotText(m_pBackend, op);
        korvane::CopyText(text, why, size);
        return text.empty() ? 0 : 1;
    } catch (...) {
        korvane::CopyText("out of memory", why, size);
        return 1;
    }
}

bool CKorvane::GetPresetRange(int& first, int& last) const
{
    try {
        korvane::LinkKind kind;
        if (m_pBackend) kind = m_pBackend->Kind();
        return korvane::PresetRange(kind, first, last);
    } catch (...) {
        return false;
    }
}

int CKorvane::GetStoredPresets(int* presets, int size) const
{
    try {
        const auto stored = m_pBackend ? m_pBackend->StoredPresets() : std::nullopt;
        if (!stored) return -1;
        for (std::size_t i = 0; presets && i < stored->size() && i < static_cast<std::size_t>(std::max(size, 0)); ++i)
            presets[i] = (*stored)[i];
        return static_cast<int>(stored->size());
    } catch (...) {
        return -1;
    }
}

int CKorvane::LinkWhyCannot(KORVANEMODE mode, PTZPROTOCOL protocol, DEVICETYPE type, TRACKSYSTEMTYPE systemType,
                            KORVANEOPERATION op, char* why, int size)
{
    try {
        const std::string text = korvane::WhyCannot({mode, protocol, type, systemType}, op);
        korvane::CopyText(text, why, size);
        return text.empty() ? 0 : 1;
    } catch (...) {
        korvane::CopyText("out of memory", why, size);
        return 1;
    }
}

bool CKorvane::LinkPresetRange(KORVANEMODE mode, PTZPROTOCOL protocol, DEVICETYPE type, int& first, int& last)
{
    try {
        return korvane::PresetRange({mode, protocol, type, TRACKSYSTEM_TYPE_1}, first, last);
    } catch (...) {
        return false;
    }
}

int CKorvane::GetLinkState(char* reason, int size) const
{
    try {
        std::string text;
        const int state = m_pBackend ? m_pBackend->Health().State(text) : KORVANE_LINK_UNCHECKED;
        korvane::CopyText(text, reason, size);
        return state;
    } catch (...) {
        korvane::CopyText("", reason, size);
        return KORVANE_LINK_UNCHECKED;
    }
}

static_assert(static_cast<int>(korvane::Outcome::QueueFull) == KORVANE_RESULT_QUEUE_FULL &&
                  static_cast<int>(korvane::Outcome::Unconfirmed) == KORVANE_RESULT_UNCONFIRMED &&
                  static_cast<int>(korvane::Outcome::Superseded) == KORVANE_RESULT_SUPERSEDED,
              "the outcomes are the host's KORVANE_RESULT_* numbers");

int CKorvane::LastError(char* text, int size) const
{
    korvane::CopyText(korvane::LastReason(), text, size);
    return static_cast<int>(korvane::LastOutcome());
}

// --- end of capabilities and link state -------------------------------------------

int CKorvane::GetPosition(float& pan, float& tilt, float& zoom, int& moving)
{
    return Forward(m_pBackend, 0, [&](CCameraBackend& b) { return b.GetPosition(pan, tilt, zoom, moving); });
}

int CKorvane::GotoHome()
{
    return Forward(m_pBackend, 0, [](CCameraBackend& b) { return b.GotoHome(); });
}

int CKorvane::SetHome()
{
    return Forward(m_pBackend, 0, [](CCameraBackend& b) { return b.SetHome(); });
}

void CKorvane::SetOnvifProfile(const char* token)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetOnvifProfile(token); });
}

void CKorvane::SetTlsFingerprint(const char* sha256)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetTlsFingerprint(sha256); });
}

void CKorvane::SetMoveTimeout(unsigned milliseconds)
{
    Forward(m_pBackend, [&](CCameraBackend& b) { b.SetMoveTimeout(milliseconds); });
}

extern "C" void KorvaneSetMessageHandler(void (*handler)(const char* title, const char* text, void* ctx),
                                         void* ctx)
{
    korvane::platform::SetMessageHandler(handler, ctx);
}
