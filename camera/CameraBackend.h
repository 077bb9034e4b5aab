// What every back-end offers the facade. Operations that do not concern a
// back-end's mode keep the defaults below: ignored, or false.
#pragma once

#include "camera/Capabilities.h"
#include "camera/LinkHealth.h"

#include <korvane/Korvane.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvane {

class CCameraBackend {
public:
    virtual ~CCameraBackend() = default;
    CCameraBackend() = default;
    CCameraBackend(const CCameraBackend&) = delete;
    CCameraBackend& operator=(const CCameraBackend&) = delete;

    virtual void SetDeviceAddress(std::uint32_t address) = 0;
    virtual void SetHorizonSpeed(std::int32_t speed) = 0;
    virtual void SetVertcalSpeed(std::int32_t speed) = 0;
    virtual void SetRecvNotify(RecvNotify notify, void* context) = 0;
    virtual bool SetCommDevice(const char*, MYDCB&) { return false; }
    virtual void SetDeviceType(DEVICETYPE) {}
    virtual void SetSocketParam(PTZPROTOCOL, const char*, unsigned int, unsigned int, const char*,
                                const char*, const char*) {}
    virtual void SetSystemType(TRACKSYSTEMTYPE) {}
    virtual void SetSystemParam(PTZPROTOCOL, const char*, unsigned int) {}

    virtual int Open() = 0;
    virtual void Close() = 0;

    virtual int MoveUp() = 0;
    virtual int MoveDown() = 0;
    virtual int MoveLeft() = 0;
    virtual int MoveRight() = 0;
    virtual int MoveTopLeft() = 0;
    virtual int MoveTopRight() = 0;
    virtual int MoveButtomLeft() = 0;
    virtual int MoveButtomRight() = 0;
    virtual int CameraStop() = 0;
    virtual int ZoomPlus() = 0;
    virtual int ZoomMinus() = 0;
    virtual int FocusPlus() = 0;
    virtual int FocusMinus() = 0;
    virtual int IrisPlus() = 0;
    virtual int IrisMinus() = 0;
    virtual int PreSet(int preset, std::uint8_t op) = 0;
    virtual int OpenTrack() = 0;
    virtual int CloseTrack() = 0;
    virtual int OpenAutoZoom() = 0;
    virtual int CloseAutoZoom() = 0;
    virtual int OpenAutoWrite() = 0;
    virtual int CloseAutoWrite() = 0;
    virtual int ConnectTest() = 0;

    // ONVIF position, home and connection choices; other links: 0, ignored.
    virtual int GetPosition(float&, float&, float&, int&) { return 0; }
    virtual int GotoHome() { return 0; }
    virtual int SetHome() { return 0; }
    virtual void SetOnvifProfile(const char*) {}
    virtual void SetTlsFingerprint(const char*) {}
    // An ONVIF move ends by itself this long after it was sent (0: never).
    virtual void SetMoveTimeout(unsigned) {}
    // The presets the camera holds, ascending, where the link can know them.
    virtual std::optional<std::vector<int>> StoredPresets() const { return std::nullopt; }
    // The link as set up now, for the capability table.
    virtual LinkKind Kind() const = 0;
    const CLinkHealth& Health() const { return *m_pHealth; }

protected:
    // Shared with the I/O side, which may report a failed send after the
    // camera has gone.
    std::shared_ptr<CLinkHealth> m_pHealth = std::make_shared<CLinkHealth>();
};

}  // namespace korvane
