#include "netcam/NetCamera.h"

#include "platform/Platform.h"

namespace korvane {

namespace {
ViscaPreambleFlags g_unusedFlags;  // the relay carries Pelco only
}

CNetCamera::CNetCamera() : CFrameCamera(EncoderTraits{false, ViscaZoom::Standard, &g_unusedFlags}, 32) {}

std::string CNetCamera::LastErrorText() const { return platform::ErrorText({}); }

}  // namespace korvane
