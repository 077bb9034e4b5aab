// The UDP socket that every tracking camera of the process shares: bound to
// local port 10000, sending each camera's datagrams to its tracking system and
// routing the tracking system's reports to the camera registered under the
// address they carry.
#pragma once

#include "frames/Frame.h"
#include "report/ReportNotifier.h"

#include <boost/asio/ip/udp.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace korvane {

class CIoService;
class CIoThread;

class CUdpService : public std::enable_shared_from_this<CUdpService> {
public:
    CUdpService(std::shared_ptr<CIoThread> io, std::uint16_t localPort);
    ~CUdpService();

    // Opens, binds 0.0.0.0:<port> and starts receiving.
    boost::system::error_code Start();
    void Stop();

    // Routing: an address is registered once; the first camera keeps it.
    bool Attach(int address, std::shared_ptr<CReportNotifier> camera);
    void Detach(int address, const std::shared_ptr<CReportNotifier>& camera);

    // Sends a copy of data; fire and forget. An error for what cannot be sent
    // at all (no socket, port 0).
    boost::system::error_code SendTo(const boost::asio::ip::udp::endpoint& to, const std::uint8_t* data,
                                     std::size_t length);

    // Handles one received datagram (I/O thread; public for tests).
    void HandleDatagram(const std::uint8_t* data, std::size_t bytes, const boost::asio::ip::udp::endpoint& from);

private:
    void StartReceive();

    std::shared_ptr<CIoThread> m_pIo;
    boost::asio::ip::udp::socket m_socket;
    const std::uint16_t m_nPort;
    boost::asio::ip::udp::endpoint m_sender;
    std::array<std::uint8_t, 2048> m_buffer{};

    std::mutex m_mutex;  // routing table and open state
    std::map<int, std::shared_ptr<CReportNotifier>> m_mapCameras;
    bool m_bOpen = false;
};

// The process-wide owner of the tracking service: while it runs, one use of
// the library's I/O service.
class CUdpServiceHub {
public:
    static std::shared_ptr<CUdpServiceHub> Instance();
    static constexpr std::uint16_t kLocalPort = 10000;

    CUdpServiceHub();
    ~CUdpServiceHub();

    // One use of the service, started on demand; the camera is registered
    // under the address unless that address is taken (it may still send).
    // Null when the service cannot be started; error says why.
    std::shared_ptr<CUdpService> Acquire(std::shared_ptr<CReportNotifier> camera, int address,
                                         boost::system::error_code& error);
    // Ends one use; the last use stops the service, frees the port and gives
    // back its use of the I/O service (the next use starts it again).
    void Release(const std::shared_ptr<CUdpService>& service, int address,
                 const std::shared_ptr<CReportNotifier>& camera);

    // No camera uses the service and the I/O thread has ended.
    bool Idle() const;

private:
    std::shared_ptr<CIoService> m_pIo;
    mutable std::mutex m_mutex;
    std::shared_ptr<CUdpService> m_pService;
    int m_nUsers = 0;
};

}  // namespace korvane
