#include "serialcam/SerialCamera.h"

#include "platform/Platform.h"
#include "serial/ComPortRegistry.h"

namespace korvane {

CSerialCamera::CSerialCamera() : CFrameCamera(EncoderTraits{true, ViscaZoom::Variable}, 30) {}

CSerialCamera::~CSerialCamera() { ReleasePort(); }

bool CSerialCamera::SetCommDevice(const char* port, MYDCB& dcb)
{
    if (!port) return false;
    if (dcb.Protocol >= PROTOCOL_PELCO_D && dcb.Protocol <= PROTOCOL_VISCA) m_encoder.SetProtocol(dcb.Protocol);
    if (Port()) return true;
    if (!m_pRegistry) m_pRegistry = CComPortRegistry::Instance();
    const int address = static_cast<int>(m_encoder.Address());
    std::shared_ptr<CComPort> acquired = m_pRegistry->Acquire(port, address, dcb, m_pNotifier, m_lastError);
    if (!acquired) {
        const bool bound = m_lastError == boost::system::errc::address_in_use;
        m_pHealth->Failed("cannot open serial device " + std::string(port) + ": " +
                          (bound ? "address " + std::to_string(address) + " is already on that line"
                                 : platform::SerialOpenCause(m_lastError)));
        return false;
    }
    m_nBoundAddress = address;
    m_pHealth = acquired->Health();
    acquired->AddLane(m_pLane);
    std::lock_guard<std::mutex> lock(m_portMutex);
    m_pPort = std::move(acquired);
    return true;
}

int CSerialCamera::Open()
{
    if (!m_pRegistry || !m_pRegistry->StartPort(Port())) return 0;
    m_pNotifier->Enable();
    // In order: both presets go out, the second does not replace the first.
    if (m_pNotifier->HasNotify())
        for (std::uint8_t preset : kOpenPresets) SendSpecialPreset(preset, true);
    return 1;
}

void CSerialCamera::Close() { ReleasePort(); }

void CSerialCamera::ReleasePort()
{
    // First make sure no report for this camera runs any more, then leave.
    m_pNotifier->Disable();
    std::shared_ptr<CComPort> port;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        port.swap(m_pPort);
    }
    if (!port) return;
    // What this camera asked before closing still goes out.
    port->RemoveLane(m_pLane);
    m_pRegistry->Release(port, m_nBoundAddress);
    m_pHealth = std::make_shared<CLinkHealth>();  // the line's state is no longer this camera's
}

std::shared_ptr<CComPort> CSerialCamera::Port() const
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    return m_pPort;
}

Result CSerialCamera::Ready() const
{
    if (Port()) return Result::Ok();
    return Result::Fail(Outcome::NotOpen, "the camera has no serial line (SetCommDevice failed or was not "
                                          "called, or the camera was closed)");
}

Result CSerialCamera::Deliver()
{
    const std::shared_ptr<CComPort> port = Port();
    if (!port || !port->Pull()) {
        m_pLane->Drop();
        return Result::Fail(Outcome::NotOpen, "the serial line is closed");
    }
    // Queued; a line whose last write failed is said to have failed now.
    std::string reason;
    if (port->Health()->State(reason) == KORVANE_LINK_FAILED) return Result::Fail(Outcome::LinkFailed, reason);
    return Result::Ok();
}

std::string CSerialCamera::LastErrorText() const
{
    const std::shared_ptr<CComPort> port = Port();
    return platform::ErrorText(port ? port->LastError() : m_lastError);
}

}  // namespace korvane
