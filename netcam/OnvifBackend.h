// An ONVIF camera driven in process over SOAP/HTTP (CPTZService). It keeps
// its own speeds: no frame is ever built for it. Every operation's requests
// and what they came to end here, in Finish: the one place a result and the
// link state are made from an ONVIF answer.
#pragma once

#include "camera/CameraBackend.h"
#include "camera/Result.h"

#include <atomic>
#include <memory>
#include <string>

namespace korvane {

class CPTZService;
class CStoredPresets;
struct OnvifResult;

class COnvifBackend : public CCameraBackend {
public:
    COnvifBackend();
    ~COnvifBackend() override;

    void SetDeviceAddress(std::uint32_t) override {}  // ONVIF cameras have no bus address
    void SetHorizonSpeed(std::int32_t speed) override { m_nHorizonSpeed = speed; }
    void SetVertcalSpeed(std::int32_t speed) override { m_nVerticalSpeed = speed; }
    void SetRecvNotify(RecvNotify, void*) override {}  // an ONVIF camera sends no reports
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                        const char* user, const char* password, const char* text7) override;

    int Open() override;
    void Close() override;

    int MoveUp() override;
    int MoveDown() override;
    int MoveLeft() override;
    int MoveRight() override;
    int MoveTopLeft() override;
    int MoveTopRight() override;
    int MoveButtomLeft() override;
    int MoveButtomRight() override;
    int CameraStop() override;
    int ZoomPlus() override;
    int ZoomMinus() override;
    // Focus through the Imaging service, where the camera has one; iris and
    // the tracking switches have no ONVIF request.
    int FocusPlus() override;
    int FocusMinus() override;
    int IrisPlus() override { return 1; }
    int IrisMinus() override { return 1; }
    int OpenTrack() override { return 1; }
    int CloseTrack() override { return 1; }
    int OpenAutoZoom() override { return 1; }
    int CloseAutoZoom() override { return 1; }
    int OpenAutoWrite() override { return 1; }
    int CloseAutoWrite() override { return 1; }
    int PreSet(int preset, std::uint8_t op) override;
    int ConnectTest() override;

    int GetPosition(float& pan, float& tilt, float& zoom, int& moving) override;
    int GotoHome() override;
    int SetHome() override;
    void SetOnvifProfile(const char* token) override;
    void SetTlsFingerprint(const char* fingerprint) override;
    void SetMoveTimeout(unsigned milliseconds) override;
    std::optional<std::vector<int>> StoredPresets() const override;
    LinkKind Kind() const override;

private:
    // A continuous move at these velocities (-1 to 1).
    int Move(float pan, float tilt, float zoom);
    int Focus(float speed);
    // The host's result of an operation, its outcome noted in the link state
    // when it asked the camera anything; a request that failed makes it 0,
    // with the camera's reason as the calling thread's last error.
    int Finish(const OnvifResult& result, int hostResult);
    // 0, and why: no client (never set up, or closed).
    static int NotOpen();
    CPTZService& Service();

    std::atomic<std::int32_t> m_nHorizonSpeed{0};
    std::atomic<std::int32_t> m_nVerticalSpeed{0};
    std::int32_t m_nProtocol = PROTOCOL_PELCO_D;
    unsigned m_nMoveTimeoutMs = 0;
    std::unique_ptr<CPTZService> m_pService;  // made again after Close
    // What each client publishes; read from any thread, even while Close
    // takes the client away.
    const std::shared_ptr<CStoredPresets> m_pStored;
    // What the last Open learned: the camera has no focus (no Imaging
    // service, or no video source in the profile). Read by Kind from any thread.
    std::atomic<bool> m_bNoFocus{false};
    std::string m_strProfile;                 // kept for a client made again after Close
    std::string m_strTlsFingerprint;
};

}  // namespace korvane
