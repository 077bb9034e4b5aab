#include "tracking/TrackSystem.h"

#include "platform/Platform.h"
#include "tracking/UdpService.h"

namespace korvane {

CTrackSystem::CTrackSystem() : CFrameCamera(EncoderTraits{true, ViscaZoom::Standard}, 32) {}

CTrackSystem::~CTrackSystem() { ReleaseService(); }

void CTrackSystem::SetSystemParam(PTZPROTOCOL protocol, const char* ip, unsigned int port)
{
    m_encoder.SetProtocol(protocol);
    boost::system::error_code targetError;
    const auto host = boost::asio::ip::make_address(ip ? ip : "", targetError);
    const boost::asio::ip::udp::endpoint target(targetError ? boost::asio::ip::address() : host,
                                                static_cast<std::uint16_t>(port & 0xFFFFu));
    ReleaseService();
    if (!m_pHub) m_pHub = CUdpServiceHub::Instance();
    const int address = static_cast<int>(m_encoder.Address());
    boost::system::error_code error;
    std::shared_ptr<CUdpService> service = m_pHub->Acquire(m_pNotifier, address, error);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target = target;
        m_targetError = targetError;
        m_strTarget = ip ? ip : "";
        m_lastError = error;
        m_pService = std::move(service);
        m_nRegisteredAddress = address;
    }
    m_pNotifier->Enable();
}

// SetSystemParam turned reports on; Open says whether the link can work.
int CTrackSystem::Open()
{
    const Result ready = Ready();
    if (ready.outcome == Outcome::Ok) return 1;
    Report(ready);
    return 0;
}

void CTrackSystem::Close() { ReleaseService(); }

std::shared_ptr<CUdpService> CTrackSystem::Service() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pService;
}

void CTrackSystem::ReleaseService()
{
    // No report for this camera runs once this returns.
    m_pNotifier->Disable();
    std::shared_ptr<CUdpService> service;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        service.swap(m_pService);
    }
    if (service) m_pHub->Release(service, m_nRegisteredAddress, m_pNotifier);
}

Result CTrackSystem::Ready() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pService && m_lastError)
        return Result::Fail(Outcome::NotOpen, "the tracking system's reports cannot come in: local UDP port 10000: " +
                                                  platform::ErrorText(m_lastError));
    if (!m_pService)
        return Result::Fail(Outcome::NotOpen, "the camera has no tracking-system link (SetSystemParam not called, "
                                              "or the camera was closed)");
    if (m_targetError)
        return Result::Fail(Outcome::NotOpen, "the tracking system's address '" + m_strTarget +
                                                  "' is not an IPv4 address");
    return Result::Ok();
}

Result CTrackSystem::SendFrame(Frame frame)
{
    std::shared_ptr<CUdpService> service;
    boost::asio::ip::udp::endpoint target;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pService || m_targetError) return Ready();
        service = m_pService;
        target = m_target;
    }
    const boost::system::error_code error = service->SendTo(target, frame.data(), frame.size());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastError = error;
    }
    if (!error) {
        m_pHealth->Sent();
        return Result::Ok();
    }
    const std::string reason = "sending to the tracking system: " + platform::ErrorText(error);
    m_pHealth->Failed(reason);
    return Result::Fail(Outcome::LinkFailed, reason);
}

int CTrackSystem::SendTrackPacket(std::uint8_t value)
{
    LaneCommand intent;
    intent.type = LaneCommand::Type::Raw;
    intent.raw = Frame{0xAA, 0x40, 0x02, LowByte(m_encoder.Address()), value};
    return Report(Submit(OP_TRACK, std::move(intent), LaneKind::Ordered));
}

std::string CTrackSystem::LastErrorText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return platform::ErrorText(m_targetError ? m_targetError : m_lastError);
}

}  // namespace korvane
