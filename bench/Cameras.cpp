#include "Cameras.h"

namespace korvane::bench {

void MarkArrival(const unsigned char*, int, unsigned int, void* context) { static_cast<CArrival*>(context)->Mark(); }

namespace {

std::unique_ptr<CKorvane> Opened(std::unique_ptr<CKorvane> camera, CArrival* arrival)
{
    if (arrival) camera->SetRecvNotify(&MarkArrival, arrival);
    return camera->Open() == 1 ? std::move(camera) : nullptr;
}

}  // namespace

std::unique_ptr<CKorvane> OpenSerialCamera(const std::string& device, unsigned address, CArrival* arrival)
{
    auto camera = std::make_unique<CKorvane>(MODE_SERIAL);
    camera->SetDeviceAddress(address);
    MYDCB dcb{115200, 8, PROTOCOL_PELCO_D};
    if (!camera->SetCommDevice(device.c_str(), dcb)) return nullptr;
    return Opened(std::move(camera), arrival);
}

std::unique_ptr<CKorvane> OpenTrackingCamera(std::uint16_t peerPort, unsigned address, CArrival* arrival)
{
    auto camera = std::make_unique<CKorvane>(MODE_TRACKSYSTEM);
    camera->SetDeviceAddress(address);
    camera->SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", peerPort);
    return Opened(std::move(camera), arrival);
}

std::unique_ptr<CKorvane> OpenRelayCamera(unsigned address, CArrival* arrival)
{
    auto camera = std::make_unique<CKorvane>(MODE_NETWORK);
    camera->SetDeviceType(DEVICE_TYPE_4);
    camera->SetDeviceAddress(address);
    camera->SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.1", 80, 9600, "", "", "");
    return Opened(std::move(camera), arrival);
}

std::unique_ptr<CKorvane> OpenOnvifCamera(std::uint16_t port)
{
    auto camera = std::make_unique<CKorvane>(MODE_NETWORK);
    camera->SetDeviceType(DEVICE_ONVIF);
    camera->SetSocketParam(PROTOCOL_PELCO_D, "127.0.0.1", port, 0, "admin", "secret", "");
    return Opened(std::move(camera), nullptr);
}

}  // namespace korvane::bench
