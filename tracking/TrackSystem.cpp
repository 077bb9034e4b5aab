#include "tracking/TrackSystem.h"

#include "platform/Platform.h"
#include "tracking/UdpService.h"

namespace korvane {

ViscaPreambleFlags& CTrackSystem::PreambleFlags()
{
    static ViscaPreambleFlags flags;
    return flags;
}

CTrackSystem::CTrackSystem() : CFrameCamera(EncoderTraits{true, ViscaZoom::Standard, &PreambleFlags()}, 32) {}

CTrackSystem::~CTrackSystem() { ReleaseService(); }

void CTrackSystem::SetSystemParam(PTZPROTOCOL protocol, const char* ip, unsigned int port)
{
    m_encoder.SetProtocol(protocol);
    const auto host = boost::asio::ip::make_address(ip ? ip : "", m_targetError);
    m_target = boost::asio::ip::udp::endpoint(m_targetError ? boost::asio::ip::address() : host,
                                              static_cast<std::uint16_t>(port & 0xFFFFu));
    ReleaseService();
    if (!m_pHub) m_pHub = CUdpServiceHub::Instance();
    const int address = static_cast<int>(m_encoder.Address());
    m_pService = m_pHub->Acquire(m_pNotifier, address, m_lastError);
    m_nRegisteredAddress = address;
    m_pNotifier->Enable();
}

int CTrackSystem::Open() { return m_pService ? 1 : 0; }  // SetSystemParam turned reports on

void CTrackSystem::Close() { ReleaseService(); }

void CTrackSystem::ReleaseService()
{
    // No report for this camera runs once this returns.
    m_pNotifier->Disable();
    if (m_pService) m_pHub->Release(m_pService, m_nRegisteredAddress, m_pNotifier);
    m_pService.reset();
}

void CTrackSystem::Send(const Frame& datagram)
{
    if (!m_pService) return;
    m_lastError = m_targetError ? m_targetError : m_pService->SendTo(m_target, datagram.data(), datagram.size());
}

void CTrackSystem::SendFrame(Frame frame) { Send(frame); }

int CTrackSystem::SendTrackPacket(std::uint8_t value)
{
    if (m_nSystemType != TRACKSYSTEM_TYPE_1) return 1;
    Send(Frame{0xAA, 0x40, 0x02, LowByte(m_encoder.Address()), value});
    return 1;
}

std::string CTrackSystem::LastErrorText() const { return platform::ErrorText(m_lastError); }

}  // namespace korvane
