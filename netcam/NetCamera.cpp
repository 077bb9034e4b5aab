#include "netcam/NetCamera.h"

#include "netcam/EventListener.h"
#include "onvif/PTZService.h"
#include "platform/Platform.h"

#include <array>
#include <chrono>

namespace korvane {

using boost::asio::ip::udp;

namespace {

constexpr auto kOpenAnswerLimit = std::chrono::seconds(5);
constexpr std::size_t kOpenAnswerMax = 5;

std::int32_t StoredProtocol(PTZPROTOCOL protocol)
{
    if (protocol == PROTOCOL_PELCO_D || protocol == PROTOCOL_PELCO_P) return protocol;
    return PROTOCOL_VISCA;  // no frames at all
}

// The velocity of a speed: (s + 1) / 64 when positive, s / 64 otherwise, so
// that 63 is full speed.
float OnvifVelocity(std::int32_t speed)
{
    return static_cast<float>(speed > 0 ? (speed + 1.0) / 64.0 : speed / 64.0);
}

}  // namespace

CNetCamera::CNetCamera() : CFrameCamera(EncoderTraits{false, ViscaZoom::Standard}, 32) {}

CNetCamera::~CNetCamera()
{
    m_pNotifier->Disable();
    CloseSockets();
}

void CNetCamera::SetDeviceType(DEVICETYPE type)
{
    m_nDeviceType = type;
    if (!IsRelayed()) {
        CloseSockets();  // a relayed pair made before has no use any more
        if (!m_pOnvif) {
            m_pOnvif = std::make_unique<CPTZService>();
            m_pOnvif->SetProfileToken(m_strOnvifProfile);
            m_pOnvif->SetTlsFingerprint(m_strTlsFingerprint);
        }
        return;
    }
    m_openRequest.SetDeviceType(static_cast<std::uint32_t>(type));
    PrepareSockets();
}

void CNetCamera::SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                                const char* user, const char* password, const char* text7)
{
    m_encoder.SetProtocol(StoredProtocol(protocol));
    if (IsRelayed())
        m_openRequest.SetConnection(port, value4, ip, text7, user, password);
    else if (m_pOnvif)
        m_pOnvif->Init(ip, port, user, password);
    NoteOnvifOutcome();
}

void CNetCamera::NoteOnvifOutcome()
{
    if (IsRelayed() || !m_pOnvif) return;
    const auto& outcome = m_pOnvif->Outcome();
    if (!outcome) return;  // nothing was asked
    if (outcome->empty())
        m_pHealth->Succeeded();
    else
        m_pHealth->Failed(*outcome);
}

void CNetCamera::PrepareSockets()
{
    CloseSockets();
    m_addrRelay = udp::endpoint();
    m_addrEvent = udp::endpoint();
    if (!m_pListener) m_pListener = CEventListener::Instance();
    auto& io = m_pListener->Context();

    udp::socket relay(io);
    relay.open(udp::v4(), m_lastError);
    // The relay lives on this machine: nothing from the network may reach
    // this socket, let alone answer in the relay's place.
    if (!m_lastError) relay.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0), m_lastError);
    if (m_lastError) {
        ShowSocketError();
        return;
    }
    m_sockRelay.emplace(std::move(relay));
    m_addrRelay = udp::endpoint(boost::asio::ip::address_v4::loopback(), kRelayPort);

    auto event = std::make_shared<udp::socket>(io);
    event->open(udp::v4(), m_lastError);
    // Bound to an ephemeral port of loopback: the relay on this machine is
    // the only sender the camera listens to.
    if (!m_lastError) event->bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0), m_lastError);
    if (!m_lastError) m_addrEvent = event->local_endpoint(m_lastError);
    if (m_lastError) {
        ShowSocketError();
        return;
    }
    m_sockEvent = std::move(event);
    m_openRequest.SetEventPort(m_addrEvent.port());
}

void CNetCamera::CloseSockets()
{
    boost::system::error_code ignored;
    if (m_sockRelay) m_sockRelay->close(ignored);
    m_sockRelay.reset();
    if (!m_sockEvent) return;
    // Once watched, the listener owns the socket and closes it on its thread.
    const bool watched = m_pListener && m_pListener->RemoveSocket(m_openRequest.EventPortField(), m_pNotifier);
    if (!watched) m_sockEvent->close(ignored);
    m_sockEvent.reset();
}

int CNetCamera::Open()
{
    if (!IsRelayed()) {
        const int opened = m_pOnvif ? m_pOnvif->Open() : 0;
        NoteOnvifOutcome();
        return opened;
    }
    if (!m_sockRelay) {
        m_lastError = boost::asio::error::bad_descriptor;
        return 0;
    }
    m_sockRelay->send_to(boost::asio::buffer(m_openRequest.Datagram(), COpenRequest::kDatagramSize), m_addrRelay,
                         0, m_lastError);
    if (m_lastError) return 0;

    // One byte of room more than an answer may have: longer answers fail.
    std::array<std::uint8_t, kOpenAnswerMax + 1> answer{};
    udp::endpoint from;
    std::size_t length = 0;
    const auto deadline = std::chrono::steady_clock::now() + kOpenAnswerLimit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const bool readable =
            left.count() > 0 && platform::WaitReadable(*m_sockRelay, left, m_lastError);
        if (m_lastError) ShowSocketError();
        if (!readable) {
            m_pHealth->Failed(m_lastError ? "waiting for the relay service: " + LastErrorText()
                                    : "the relay service on 127.0.0.1:" + std::to_string(kRelayPort) +
                                          " did not answer within " +
                                          std::to_string(kOpenAnswerLimit.count()) + " s");
            return 0;
        }
        length = m_sockRelay->receive_from(boost::asio::buffer(answer), from, 0, m_lastError);
        if (m_lastError) {
            m_pHealth->Failed("reading the relay service's answer: " + LastErrorText());
            return 0;
        }
        if (from.address().is_loopback()) break;  // the relay is on this machine; others are ignored
    }
    if (length > kOpenAnswerMax) {
        m_pHealth->Failed("the answer from 127.0.0.1:" + std::to_string(kRelayPort) + " is no relay service's");
        return 0;
    }
    m_addrRelay = from;  // later datagrams go where the answer came from
    if (IsRefusal(answer.data(), length)) {
        m_pHealth->Failed("the relay service refused the camera");
        return 0;
    }
    m_pHealth->Succeeded();

    if (m_nDeviceType == DEVICE_TYPE_4 && m_sockEvent) {
        m_pNotifier->Enable();
        StartEventListening(m_openRequest.EventPortField(), m_sockEvent, m_pNotifier);
    }
    return 1;
}

void CNetCamera::Close()
{
    m_pHealth->Reset();
    if (!IsRelayed()) {
        m_pOnvif.reset();
        return;
    }
    // No event for this camera runs once Close returns.
    m_pNotifier->Disable();
    if (m_sockRelay) {
        m_sockRelay->send_to(boost::asio::buffer(CloseNotice(m_openRequest.EventPortField())), m_addrRelay, 0,
                             m_lastError);
        if (m_lastError) ShowSocketError();
    }
    CloseSockets();
}

Result CNetCamera::SendFrame(Frame frame)
{
    if (!IsRelayed()) return Result::Ok();
    SendToRelay(CommandDatagram(DeviceKind(m_nDeviceType), m_openRequest.DevicePort(),
                                m_openRequest.EventPortField(), frame));
    return Result::Ok();  // a failure is shown and kept in the link state
}

void CNetCamera::SendToRelay(const Frame& datagram)
{
    if (m_sockRelay)
        m_sockRelay->send_to(boost::asio::buffer(datagram), m_addrRelay, 0, m_lastError);
    else
        m_lastError = boost::asio::error::bad_descriptor;  // no socket yet, or closed
    if (m_lastError) {
        m_pHealth->Failed("sending to the relay service: " + LastErrorText());
        ShowSocketError();
    } else {
        m_pHealth->Sent();  // the relay answers no command: a send that went out is all there is to see
    }
}

int CNetCamera::Run(PtzCommand command)
{
    if (IsRelayed()) return CFrameCamera::Run(command);
    RunOnvif(command);
    NoteOnvifOutcome();
    return 1;
}

void CNetCamera::RunOnvif(PtzCommand command)
{
    if (!m_pOnvif) return;
    const float h = OnvifVelocity(m_encoder.HorizonSpeed());
    const float v = OnvifVelocity(m_encoder.VertcalSpeed());
    const auto move = [&](float pan, float tilt) {
        m_pOnvif->m_bPanTilt = true;
        m_pOnvif->ContinuousMove(pan, tilt, 0.0f);
    };
    switch (command) {
    case PtzCommand::Up: move(0.0f, v); break;
    case PtzCommand::Down: move(0.0f, -v); break;
    case PtzCommand::Left: move(-h, 0.0f); break;
    case PtzCommand::Right: move(h, 0.0f); break;
    case PtzCommand::UpLeft: move(-h, v); break;
    case PtzCommand::UpRight: move(h, v); break;
    case PtzCommand::DownLeft: move(-h, -v); break;
    case PtzCommand::DownRight: move(h, -v); break;
    case PtzCommand::Stop: m_pOnvif->Stop(); break;
    case PtzCommand::ZoomTele:
    case PtzCommand::ZoomWide:
        m_pOnvif->m_bPanTilt = false;
        m_pOnvif->ContinuousMove(0.0f, 0.0f, command == PtzCommand::ZoomTele ? h : -h);
        break;
    default: break;  // focus and iris have no ONVIF PTZ counterpart
    }
}

int CNetCamera::PreSet(int preset, std::uint8_t op)
{
    if (IsRelayed()) return CFrameCamera::PreSet(preset, op);
    if (!m_pOnvif) return 1;
    switch (op) {
    case 0: m_pOnvif->GotoPreset(preset, m_encoder.HorizonSpeed(), m_encoder.VertcalSpeed()); break;
    case 1: m_pOnvif->SetPreset(preset); break;
    case 2: m_pOnvif->RemovePreset(preset); break;
    default: break;
    }
    NoteOnvifOutcome();
    return 1;
}

int CNetCamera::SendSpecialPreset(std::uint8_t preset, bool viscaRecall)
{
    return IsRelayed() ? CFrameCamera::SendSpecialPreset(preset, viscaRecall) : 1;
}

int CNetCamera::ConnectTest()
{
    if (IsRelayed()) return CFrameCamera::ConnectTest();
    std::string text = "no ONVIF camera was set up (SetSocketParam)";
    if (m_pOnvif) {
        if (m_pOnvif->Test(text))
            m_pHealth->Succeeded();
        else
            m_pHealth->Failed(text);
    }
    platform::ShowMessageBox(text);
    return 1;
}

int CNetCamera::GetPosition(float& pan, float& tilt, float& zoom, int& moving)
{
    if (IsRelayed() || !m_pOnvif) return 0;
    onvif::PtzStatus status;
    if (!m_pOnvif->GetStatus(status)) return 0;
    // An axis the camera did not report keeps the host's value.
    if (status.hasPanTilt) {
        pan = status.pan;
        tilt = status.tilt;
    }
    if (status.hasZoom) zoom = status.zoom;
    moving = status.moving ? 1 : 0;
    return 1;
}

int CNetCamera::GotoHome()
{
    if (IsRelayed() || !m_pOnvif) return 0;
    return m_pOnvif->GotoHome(m_encoder.HorizonSpeed(), m_encoder.VertcalSpeed());
}

int CNetCamera::SetHome() { return IsRelayed() || !m_pOnvif ? 0 : m_pOnvif->SetHome(); }

void CNetCamera::SetOnvifProfile(const char* token)
{
    m_strOnvifProfile = token ? token : "";
    if (m_pOnvif) m_pOnvif->SetProfileToken(m_strOnvifProfile);
}

void CNetCamera::SetTlsFingerprint(const char* fingerprint)
{
    m_strTlsFingerprint = fingerprint ? fingerprint : "";
    if (m_pOnvif) m_pOnvif->SetTlsFingerprint(m_strTlsFingerprint);
}

void CNetCamera::ShowSocketError() const { platform::ShowMessageBox(LastErrorText()); }

std::string CNetCamera::LastErrorText() const { return platform::ErrorText(m_lastError); }

}  // namespace korvane
