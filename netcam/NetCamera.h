// A network camera: the device back-end chosen by the device type, a device
// reached through the relay service (CRelayCamera), an ONVIF camera driven
// in process (COnvifBackend) or a VISCA-over-IP camera (CViscaIpCamera). Copies of a CKorvane share this object, so a
// change of device type swaps the back-end in here. Settings given before
// the swap (speeds, address, notify function, ONVIF choices) carry over.
#pragma once

#include "camera/CameraBackend.h"

#include <memory>
#include <string>

namespace korvane {

class COnvifBackend;
class CRelayCamera;
class CViscaIpCamera;

class CNetCamera : public CCameraBackend {
public:
    CNetCamera();
    ~CNetCamera() override;

    void SetDeviceAddress(std::uint32_t address) override;
    void SetHorizonSpeed(std::int32_t speed) override;
    void SetVertcalSpeed(std::int32_t speed) override;
    void SetRecvNotify(RecvNotify notify, void* context) override;
    void SetDeviceType(DEVICETYPE type) override;
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                        const char* user, const char* password, const char* text7) override
    {
        m_pDevice->SetSocketParam(protocol, ip, port, value4, user, password, text7);
    }

    int Open() override { return m_pDevice->Open(); }
    void Close() override { m_pDevice->Close(); }

    int MoveUp() override { return m_pDevice->MoveUp(); }
    int MoveDown() override { return m_pDevice->MoveDown(); }
    int MoveLeft() override { return m_pDevice->MoveLeft(); }
    int MoveRight() override { return m_pDevice->MoveRight(); }
    int MoveTopLeft() override { return m_pDevice->MoveTopLeft(); }
    int MoveTopRight() override { return m_pDevice->MoveTopRight(); }
    int MoveButtomLeft() override { return m_pDevice->MoveButtomLeft(); }
    int MoveButtomRight() override { return m_pDevice->MoveButtomRight(); }
    int CameraStop() override { return m_pDevice->CameraStop(); }
    int ZoomPlus() override { return m_pDevice->ZoomPlus(); }
    int ZoomMinus() override { return m_pDevice->ZoomMinus(); }
    int FocusPlus() override { return m_pDevice->FocusPlus(); }
    int FocusMinus() override { return m_pDevice->FocusMinus(); }
    int IrisPlus() override { return m_pDevice->IrisPlus(); }
    int IrisMinus() override { return m_pDevice->IrisMinus(); }
    int PreSet(int preset, std::uint8_t op) override { return m_pDevice->PreSet(preset, op); }
    int OpenTrack() override { return m_pDevice->OpenTrack(); }
    int CloseTrack() override { return m_pDevice->CloseTrack(); }
    int OpenAutoZoom() override { return m_pDevice->OpenAutoZoom(); }
    int CloseAutoZoom() override { return m_pDevice->CloseAutoZoom(); }
    int OpenAutoWrite() override { return m_pDevice->OpenAutoWrite(); }
    int CloseAutoWrite() override { return m_pDevice->CloseAutoWrite(); }
    int ConnectTest() override { return m_pDevice->ConnectTest(); }

    int GetPosition(float& pan, float& tilt, float& zoom, int& moving) override
    {
        return m_pDevice->GetPosition(pan, tilt, zoom, moving);
    }
    int GotoHome() override { return m_pDevice->GotoHome(); }
    int SetHome() override { return m_pDevice->SetHome(); }
    void SetOnvifProfile(const char* token) override;
    void SetTlsFingerprint(const char* fingerprint) override;
    void SetMoveTimeout(unsigned milliseconds) override;
    std::optional<std::vector<int>> StoredPresets() const override { return m_pDevice->StoredPresets(); }
    LinkKind Kind() const override { return m_pDevice->Kind(); }

private:
    void Use(const std::shared_ptr<CCameraBackend>& device);

    // Each made once and kept, so that switching back finds its set-up.
    std::shared_ptr<CRelayCamera> m_pRelay;
    std::shared_ptr<COnvifBackend> m_pOnvif;
    std::shared_ptr<CViscaIpCamera> m_pViscaIp;
    std::shared_ptr<CCameraBackend> m_pDevice;  // one of the three
};

}  // namespace korvane
