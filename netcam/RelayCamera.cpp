#include "netcam/RelayCamera.h"

#include "netcam/EventListener.h"
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

}  // namespace

CRelayCamera::CRelayCamera() : CFrameCamera(EncoderTraits{false, ViscaZoom::Standard}, 32) {}

CRelayCamera::~CRelayCamera()
{
    m_pNotifier->Disable();
    CloseSockets();
}

void CRelayCamera::SetDeviceType(DEVICETYPE type)
{
    m_nDeviceType = type;
    m_openRequest.SetDeviceType(static_cast<std::uint32_t>(type));
    PrepareSockets();
}

void CRelayCamera::SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                                const char* user, const char* password, const char* text7)
{
    m_encoder.SetProtocol(StoredProtocol(protocol));
    m_openRequest.SetConnection(port, value4, ip, text7, user, password);
}

void CRelayCamera::PrepareSockets()
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

void CRelayCamera::CloseSockets()
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

int CRelayCamera::Open()
{
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
    // Connected, a datagram to a relay that went away brings the system's
    // "refused" back on the next send: a killed relay fails commands instead
    // of swallowing them.
    boost::system::error_code connectError;
    m_sockRelay->connect(m_addrRelay, connectError);
    m_bConnected = !connectError;
    m_pHealth->Succeeded();

    if (m_nDeviceType == DEVICE_TYPE_4 && m_sockEvent) {
        m_pNotifier->Enable();
        StartEventListening(m_openRequest.EventPortField(), m_sockEvent, m_pNotifier);
    }
    return 1;
}

void CRelayCamera::Close()
{
    m_pHealth->Reset();
    // No event for this camera runs once Close returns.
    m_pNotifier->Disable();
    if (m_sockRelay) {
        SendDatagram(CloseNotice(m_openRequest.EventPortField()));
        if (m_lastError) ShowSocketError();
    }
    m_bConnected = false;
    CloseSockets();
}

Result CRelayCamera::SendFrame(Frame frame)
{
    if (SendToRelay(CommandDatagram(DeviceKind(m_nDeviceType), m_openRequest.DevicePort(),
                                    m_openRequest.EventPortField(), frame)))
        return Result::Ok();
    return Result::Fail(Outcome::LinkFailed, "sending to the relay service: " + LastErrorText());
}

bool CRelayCamera::SendToRelay(const Frame& datagram)
{
    if (m_sockRelay)
        SendDatagram(datagram);
    else
        m_lastError = boost::asio::error::bad_descriptor;  // no socket yet, or closed
    if (m_lastError) {
        m_pHealth->Failed("sending to the relay service: " + LastErrorText());
        ShowSocketError();
        return false;
    }
    m_pHealth->Sent();  // the relay answers no command: a send that went out is all there is to see
    return true;
}

void CRelayCamera::SendDatagram(const Frame& datagram)
{
    if (m_bConnected) {
        m_sockRelay->send(boost::asio::buffer(datagram), 0, m_lastError);
        // On this machine the refusal of a relay that is gone is back as soon
        // as the datagram is out: it belongs to this command, not the next.
        if (!m_lastError) m_lastError = platform::TakeSocketError(*m_sockRelay);
    } else
        m_sockRelay->send_to(boost::asio::buffer(datagram), m_addrRelay, 0, m_lastError);
}

void CRelayCamera::ShowSocketError() const { platform::ShowMessageBox(LastErrorText()); }

std::string CRelayCamera::LastErrorText() const { return platform::ErrorText(m_lastError); }

}  // namespace korvane
