#include "netcam/NetCamera.h"

#include "netcam/OnvifBackend.h"
#include "netcam/RelayCamera.h"
#include "netcam/ViscaIpCamera.h"

namespace korvane {

CNetCamera::CNetCamera()
    : m_pRelay(std::make_shared<CRelayCamera>()),
      m_pOnvif(std::make_shared<COnvifBackend>()),
      m_pViscaIp(std::make_shared<CViscaIpCamera>())
{
    Use(m_pRelay);  // device type 1 until told otherwise
}

CNetCamera::~CNetCamera() = default;

void CNetCamera::Use(const std::shared_ptr<CCameraBackend>& device)
{
    m_pDevice = device;
    // The link state the host reads is the device's own.
    m_pHealth = std::shared_ptr<CLinkHealth>(device, const_cast<CLinkHealth*>(&device->Health()));
}

void CNetCamera::SetDeviceType(DEVICETYPE type)
{
    if (type == DEVICE_ONVIF || type == DEVICE_VISCA_IP) {
        m_pRelay->Release();  // a relayed pair made before has no use any more
        if (type == DEVICE_ONVIF)
            Use(m_pOnvif);
        else
            Use(m_pViscaIp);
        return;
    }
    m_pRelay->SetDeviceType(type);
    Use(m_pRelay);
}

// Settings reach both devices: a later change of type keeps them.
void CNetCamera::SetDeviceAddress(std::uint32_t address) { m_pRelay->SetDeviceAddress(address); }

void CNetCamera::SetHorizonSpeed(std::int32_t speed)
{
    m_pRelay->SetHorizonSpeed(speed);
    m_pOnvif->SetHorizonSpeed(speed);
    m_pViscaIp->SetHorizonSpeed(speed);
}

void CNetCamera::SetVertcalSpeed(std::int32_t speed)
{
    m_pRelay->SetVertcalSpeed(speed);
    m_pOnvif->SetVertcalSpeed(speed);
    m_pViscaIp->SetVertcalSpeed(speed);
}

void CNetCamera::SetRecvNotify(RecvNotify notify, void* context) { m_pRelay->SetRecvNotify(notify, context); }

void CNetCamera::SetOnvifProfile(const char* token) { m_pOnvif->SetOnvifProfile(token); }

void CNetCamera::SetTlsFingerprint(const char* fingerprint) { m_pOnvif->SetTlsFingerprint(fingerprint); }

void CNetCamera::SetMoveTimeout(unsigned milliseconds) { m_pOnvif->SetMoveTimeout(milliseconds); }

}  // namespace korvane
