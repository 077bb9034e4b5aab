#include "tracking/TrackSystem.h"

#include "platform/Platform.h"

namespace korvane {

ViscaPreambleFlags& CTrackSystem::PreambleFlags()
{
    static ViscaPreambleFlags flags;
    return flags;
}

CTrackSystem::CTrackSystem() : CFrameCamera(EncoderTraits{true, ViscaZoom::Standard, &PreambleFlags()}, 32) {}

std::string CTrackSystem::LastErrorText() const { return platform::ErrorText({}); }

}  // namespace korvane
