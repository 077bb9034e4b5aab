#include "serialcam/SerialCamera.h"

#include "platform/Platform.h"
#include "serial/ComPortRegistry.h"

namespace korvane {

ViscaPreambleFlags& CSerialCamera::PreambleFlags()
{
    static ViscaPreambleFlags flags;
    return flags;
}

CSerialCamera::CSerialCamera()
    : CFrameCamera(EncoderTraits{true, ViscaZoom::Variable, &PreambleFlags()}, 30)
{
}

CSerialCamera::~CSerialCamera() { ReleasePort(); }

bool CSerialCamera::SetCommDevice(const char* port, MYDCB& dcb)
{
    if (!port) return false;
    if (dcb.Protocol >= PROTOCOL_PELCO_D && dcb.Protocol <= PROTOCOL_VISCA) m_encoder.SetProtocol(dcb.Protocol);
    if (m_pPort) return true;
    if (!m_pRegistry) m_pRegistry = CComPortRegistry::Instance();
    const int address = static_cast<int>(m_encoder.Address());
    m_pPort = m_pRegistry->Acquire(port, address, dcb, m_pNotifier, m_lastError);
    if (!m_pPort) {
        const bool bound = m_lastError == boost::system::errc::address_in_use;
        m_pHealth->Failed("cannot open serial device " + std::string(port) + ": " +
                          (bound ? "address " + std::to_string(address) + " is already on that line"
                                 : platform::SerialOpenCause(m_lastError)));
        return false;
    }
    m_nBoundAddress = address;
    m_pHealth = m_pPort->Health();
    return true;
}

int CSerialCamera::Open()
{
    if (!m_pRegistry || !m_pRegistry->StartPort(m_pPort)) return 0;
    m_pNotifier->Enable();
    if (m_pNotifier->HasNotify())
        for (std::uint8_t preset : kOpenPresets) PreSet(preset, 0);
    return 1;
}

void CSerialCamera::Close() { ReleasePort(); }

void CSerialCamera::ReleasePort()
{
    // First make sure no report for this camera runs any more, then leave.
    m_pNotifier->Disable();
    if (m_pPort) m_pRegistry->Release(m_pPort, m_nBoundAddress);
    if (m_pPort) m_pHealth = std::make_shared<CLinkHealth>();  // the line's state is no longer this camera's
    m_pPort.reset();
}

void CSerialCamera::SendFrame(Frame frame)
{
    if (m_pPort) m_pPort->Write(std::move(frame));
}

std::string CSerialCamera::LastErrorText() const
{
    return platform::ErrorText(m_pPort ? m_pPort->LastError() : m_lastError);
}

}  // namespace korvane
