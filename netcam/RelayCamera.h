// A device reached through the relay service on this machine
// (127.0.0.1:20715), which gets the camera's connection in an open request
// and then each Pelco frame wrapped in a command datagram. Devices of type 4
// also get target events from the relay on an event socket of their own,
// read by the event listener.
#pragma once

#include "camera/FrameCamera.h"
#include "netcam/RelayDatagrams.h"

#include <boost/asio/ip/udp.hpp>

#include <memory>
#include <optional>
#include <string>

namespace korvane {

class CEventListener;

class CRelayCamera : public CFrameCamera {
public:
    CRelayCamera();
    ~CRelayCamera() override;

    // A fresh socket pair (the earlier one is closed).
    void SetDeviceType(DEVICETYPE type) override;
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                        const char* user, const char* password, const char* text7) override;

    int Open() override;
    void Close() override;

    LinkKind Kind() const override { return {MODE_NETWORK, m_encoder.Protocol(), m_nDeviceType}; }
    // The device became another kind of camera: the sockets go, nothing is
    // said to the relay (it was never opened as this kind).
    void Release() { CloseSockets(); }

protected:
    Result SendFrame(Frame frame) override;
    // What the relay cannot carry (VISCA, focus on some types) is dropped
    // quietly, as the relay always did.
    bool RefusesUnsent() const override { return false; }
    std::string LastErrorText() const override;

private:
    void PrepareSockets();
    // Closes both sockets; the event socket leaves the listener first.
    void CloseSockets();
    // False (and the link state says why) when the datagram did not go out.
    bool SendToRelay(const Frame& datagram);
    // To the relay that answered the open (connected), or to the relay's port before.
    void SendDatagram(const Frame& datagram);
    void ShowSocketError() const;

    std::int32_t m_nDeviceType = DEVICE_TYPE_1;
    std::shared_ptr<CEventListener> m_pListener;  // owns the sockets' io_context
    std::optional<boost::asio::ip::udp::socket> m_sockRelay;
    boost::asio::ip::udp::endpoint m_addrRelay;
    bool m_bConnected = false;
    std::shared_ptr<boost::asio::ip::udp::socket> m_sockEvent;
    boost::asio::ip::udp::endpoint m_addrEvent;
    COpenRequest m_openRequest;
    boost::system::error_code m_lastError;  // of this camera's latest socket operation
};

}  // namespace korvane
