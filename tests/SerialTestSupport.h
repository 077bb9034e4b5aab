// Helpers for serial-line tests: a camera bound to a simulated line.
#pragma once

#include "ReportCollector.h"
#include "sim/SerialPeer.h"

#include <korvane/Korvane.h>

#include <memory>

namespace korvane::test {

inline std::unique_ptr<CKorvane> SerialCamera(const std::string& device, unsigned address,
                                              ReportCollector* reports = nullptr,
                                              std::uint8_t protocol = PROTOCOL_PELCO_D)
{
    auto camera = std::make_unique<CKorvane>(MODE_SERIAL);
    camera->SetDeviceAddress(address);
    MYDCB dcb{9600, 8, protocol};
    if (!camera->SetCommDevice(device.c_str(), dcb)) return nullptr;
    if (reports) reports->Attach(*camera);
    return camera;
}

}  // namespace korvane::test
