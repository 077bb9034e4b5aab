// A network camera: an ONVIF camera driven in process, or a device reached
// through the relay service on this machine.
#pragma once

#include "api/FrameCamera.h"

namespace korvane {

class CNetCamera : public CFrameCamera {
public:
    CNetCamera();

    int Open() override { return 0; }
    void Close() override {}

protected:
    void SendFrame(Frame) override {}
    std::string LastErrorText() const override;
};

}  // namespace korvane
