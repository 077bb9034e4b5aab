// A VISCA-over-IP camera (UDP, port 52381 by default): the VISCA frames of a
// serial camera at address 1, with the speeds put on the camera's own range,
// each sent on the link and answered. A call's result is the camera's answer:
// an error reply or a camera that stays silent fails the call with why.
#pragma once

#include "camera/FrameCamera.h"
#include "netcam/ViscaIpLink.h"

#include <string>

namespace korvane {

class CViscaIpCamera : public CFrameCamera {
public:
    CViscaIpCamera();
    ~CViscaIpCamera() override;

    // A VISCA-over-IP camera answers to address 1 alone: the frames say 0x81.
    void SetDeviceAddress(std::uint32_t) override {}
    void SetHorizonSpeed(std::int32_t speed) override { m_encoder.SetHorizonSpeed(ViscaIpPanSpeed(speed)); }
    void SetVertcalSpeed(std::int32_t speed) override { m_encoder.SetVertcalSpeed(ViscaIpTiltSpeed(speed)); }
    // The protocol is VISCA whatever is given; port 0 is 52381.
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                        const char* user, const char* password, const char* text7) override;

    int Open() override;
    void Close() override;
    // The pan-tilt position inquiry answered, or why not.
    int ConnectTest() override;
    int GetPosition(float& pan, float& tilt, float& zoom, int& moving) override;
    int GotoHome() override;
    int SetHome() override;
    LinkKind Kind() const override { return {MODE_NETWORK, PROTOCOL_VISCA, DEVICE_VISCA_IP}; }

protected:
    Result SendFrame(Frame frame) override;
    std::string LastErrorText() const override;
    Result Ready() const override;
    Result Deliver() override;

private:
    Result Finish(const ViscaIpResult& sent);

    CViscaIpLink m_link;
    std::string m_strHost;
    std::uint16_t m_nPort = kViscaIpPort;
};

}  // namespace korvane
