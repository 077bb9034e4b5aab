// A camera reached through the tracking system, which relays its commands and
// sends back its reports over UDP.
#pragma once

#include "api/FrameCamera.h"

namespace korvane {

class CTrackSystem : public CFrameCamera {
public:
    CTrackSystem();

    int Open() override { return 0; }
    void Close() override {}

    static ViscaPreambleFlags& PreambleFlags();

protected:
    void SendFrame(Frame) override {}
    std::string LastErrorText() const override;
};

}  // namespace korvane
