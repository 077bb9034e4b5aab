// A network camera: an ONVIF camera driven in process, or a device reached
// through the relay service on this machine (127.0.0.1:20715), which gets the
// camera's connection in an open request and then each Pelco frame wrapped in
// a command datagram. Devices of type 4 also get target events from the relay
// on an event socket of their own, read by the event listener.
#pragma once

#include "camera/FrameCamera.h"
#include "netcam/RelayDatagrams.h"

#include <boost/asio/ip/udp.hpp>

#include <memory>
#include <optional>
#include <string>

namespace korvane {

class CEventListener;
class CPTZService;

class CNetCamera : public CFrameCamera {
public:
    CNetCamera();
    ~CNetCamera() override;

    // Relayed types get a fresh socket pair (the earlier one is closed).
    void SetDeviceType(DEVICETYPE type) override;
    void SetSocketParam(PTZPROTOCOL protocol, const char* ip, unsigned int port, unsigned int value4,
                        const char* user, const char* password, const char* text7) override;

    int Open() override;
    void Close() override;

    int PreSet(int preset, std::uint8_t op) override;
    int ConnectTest() override;

    LinkKind Kind() const override { return {MODE_NETWORK, m_encoder.Protocol(), m_nDeviceType}; }
    int GetPosition(float& pan, float& tilt, float& zoom, int& moving) override;
    int GotoHome() override;
    int SetHome() override;
    void SetOnvifProfile(const char* token) override;
    void SetTlsFingerprint(const char* fingerprint) override;

protected:
    int Run(PtzCommand command) override;
    int SendSpecialPreset(std::uint8_t preset, bool viscaRecall) override;
    Result SendFrame(Frame frame) override;
    bool RefusesUnsent() const override { return false; }
    std::string LastErrorText() const override;

private:
    bool IsRelayed() const { return m_nDeviceType != DEVICE_ONVIF; }
    void PrepareSockets();
    // Closes both sockets; the event socket leaves the listener first.
    void CloseSockets();
    void SendToRelay(const Frame& datagram);
    void ShowSocketError() const;
    void RunOnvif(PtzCommand command);
    // The link state after an ONVIF call: its requests' outcome, if any.
    void NoteOnvifOutcome();

    std::int32_t m_nDeviceType = DEVICE_TYPE_1;
    std::shared_ptr<CEventListener> m_pListener;  // owns the sockets' io_context
    std::optional<boost::asio::ip::udp::socket> m_sockRelay;
    boost::asio::ip::udp::endpoint m_addrRelay;
    std::shared_ptr<boost::asio::ip::udp::socket> m_sockEvent;
    boost::asio::ip::udp::endpoint m_addrEvent;
    COpenRequest m_openRequest;
    boost::system::error_code m_lastError;  // of this camera's latest socket operation
    std::unique_ptr<CPTZService> m_pOnvif;  // device type 3 only
    std::string m_strOnvifProfile;          // kept for a client made again after Close
    std::string m_strTlsFingerprint;
};

}  // namespace korvane
