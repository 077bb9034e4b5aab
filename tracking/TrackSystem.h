// A camera reached through the tracking system, which relays its commands and
// sends back its reports over UDP. Every tracking camera of the process
// shares one UDP socket on local port 10000.
#pragma once

#include "camera/FrameCamera.h"

#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace korvane {

class CUdpService;
class CUdpServiceHub;

class CTrackSystem : public CFrameCamera {
public:
    CTrackSystem();
    ~CTrackSystem() override;

    void SetSystemType(TRACKSYSTEMTYPE type) override { m_nSystemType = type; }
    // Protocol, the tracking system's address and port (low 16 bits). Takes
    // a use of the shared service and registers the camera under its
    // current address; a second call registers anew.
    void SetSystemParam(PTZPROTOCOL protocol, const char* ip, unsigned int port) override;

    int Open() override;
    void Close() override;

    // Track on/off are the tracking system's own packets (system type 1).
    // The capability rules refuse the auto-zoom and auto-write switches.
    int OpenTrack() override { return SendTrackPacket(0x00); }
    int CloseTrack() override { return SendTrackPacket(0x01); }

    LinkKind Kind() const override
    {
        return {MODE_TRACKSYSTEM, m_encoder.Protocol(), DEVICE_TYPE_1, m_nSystemType};
    }

protected:
    Result SendFrame(Frame frame) override;
    std::string LastErrorText() const override;
    Result Ready() const override;

private:
    int SendTrackPacket(std::uint8_t value);
    void ReleaseService();
    std::shared_ptr<CUdpService> Service() const;

    std::atomic<std::int32_t> m_nSystemType{TRACKSYSTEM_TYPE_1};
    // Where datagrams go, worked out once per SetSystemParam; when the ip is
    // no address, why every send fails.
    boost::asio::ip::udp::endpoint m_target;
    boost::system::error_code m_targetError;
    std::string m_strTarget;  // as given, for the reason when it is no address
    std::shared_ptr<CUdpServiceHub> m_pHub;
    mutable std::mutex m_mutex;  // the service and the errors: a stop may come from another thread
    std::shared_ptr<CUdpService> m_pService;
    int m_nRegisteredAddress = 0;  // released by the address it was registered under
    boost::system::error_code m_lastError;
};

}  // namespace korvane
