#include "tracking/UdpService.h"

#include "io/IoService.h"
#include "io/ProcessWide.h"
#include "platform/Platform.h"
#include "report/ReturnCodes.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include <cstdio>

namespace korvane {

namespace {

constexpr std::uint8_t kReportHeader[3] = {0xAA, 0x50, 0x02};
constexpr std::size_t kReportLength = 5;

}  // namespace

CUdpService::CUdpService(std::shared_ptr<CIoThread> io, std::uint16_t localPort)
    : m_pIo(std::move(io)), m_socket(m_pIo->Context()), m_nPort(localPort)
{
}

CUdpService::~CUdpService()
{
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

boost::system::error_code CUdpService::Start()
{
    using boost::asio::ip::udp;
    boost::system::error_code error;
    m_socket.open(udp::v4(), error);
    if (!error) m_socket.bind(udp::endpoint(udp::v4(), m_nPort), error);
    if (error) {
        boost::system::error_code ignored;
        m_socket.close(ignored);
        return error;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = true;
    }
    // The socket is not shared yet: the first receive may start here.
    StartReceive();
    return {};
}

void CUdpService::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen) return;
        m_bOpen = false;
        m_mapCameras.clear();
    }
    // Posted, also on the I/O thread itself (a report function closing its
    // camera): datagrams queued before, a stop among them, go out first.
    auto close = [self = shared_from_this()] {
        boost::system::error_code ignored;
        self->m_socket.close(ignored);
    };
    if (!m_pIo->IsRunning()) return close();
    boost::asio::post(m_pIo->Context(), close);
    if (m_pIo->InThread()) return;
    m_pIo->RunOnThread([] {});  // the close has run
    m_pIo->RunOnThread([] {});  // and so has the aborted receive
}

bool CUdpService::Attach(int address, std::shared_ptr<CReportNotifier> camera)
{
    if (!camera) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapCameras.emplace(address, std::move(camera)).second;
}

void CUdpService::Detach(int address, const std::shared_ptr<CReportNotifier>& camera)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_mapCameras.find(address);
    if (found != m_mapCameras.end() && found->second == camera) m_mapCameras.erase(found);
}

boost::system::error_code CUdpService::SendTo(const boost::asio::ip::udp::endpoint& to, const std::uint8_t* data,
                                              std::size_t length)
{
    if (!data || length == 0 || to.port() == 0) return boost::asio::error::invalid_argument;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen) return boost::asio::error::bad_descriptor;
    }
    // The copy belongs to the send and goes with its completion.
    auto copy = std::make_shared<Frame>(data, data + length);
    boost::asio::post(m_pIo->Context(), [self = shared_from_this(), copy, to] {
        self->m_socket.async_send_to(boost::asio::buffer(*copy), to,
                                     [copy](const boost::system::error_code&, std::size_t) {});
    });
    return {};
}

void CUdpService::StartReceive()
{
    m_socket.async_receive_from(
        boost::asio::buffer(m_buffer), m_sender,
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t bytes) {
            if (!error) self->HandleDatagram(self->m_buffer.data(), bytes, self->m_sender);
            // Closed: done. Anything else (a reset from an earlier send, an
            // oversized datagram) loses only that datagram.
            if (error == boost::asio::error::operation_aborted || !self->m_socket.is_open()) return;
            self->StartReceive();
        });
}

void CUdpService::HandleDatagram(const std::uint8_t* data, std::size_t bytes,
                                 const boost::asio::ip::udp::endpoint& from)
{
    char line[1024];
    std::snprintf(line, sizeof line, "Recv from: %s, packet length: %d.\r\n",
                  from.address().to_string().c_str(), static_cast<int>(bytes));
    platform::DebugOutput(line);

    if (bytes != kReportLength || !std::equal(kReportHeader, kReportHeader + 3, data)) return;
    std::shared_ptr<CReportNotifier> camera;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_mapCameras.find(TrackReportAddress(data[3]));
        if (found == m_mapCameras.end()) return;
        camera = found->second;
    }
    // A copy: the host may close (and so stop) this service from its callback.
    std::uint8_t report[kReportLength];
    std::copy_n(data, kReportLength, report);
    camera->OnTrackReport(report, static_cast<int>(kReportLength));
}

std::shared_ptr<CUdpServiceHub> CUdpServiceHub::Instance() { return ProcessWide<CUdpServiceHub>(); }

CUdpServiceHub::CUdpServiceHub() : m_pIo(CIoService::Instance()) {}

CUdpServiceHub::~CUdpServiceHub() = default;

bool CUdpServiceHub::Idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_pService && m_pIo->Idle();
}

std::shared_ptr<CUdpService> CUdpServiceHub::Acquire(std::shared_ptr<CReportNotifier> camera, int address,
                                                     boost::system::error_code& error)
{
    error = {};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pService) {
            if (!m_pIo->Acquire()) {
                error = boost::asio::error::no_memory;
                return nullptr;
            }
            auto service = std::make_shared<CUdpService>(m_pIo->Thread(), kLocalPort);
            error = service->Start();
            if (!error) m_pService = service;
        }
        if (m_pService) {
            ++m_nUsers;
            m_pService->Attach(address, std::move(camera));
            return m_pService;
        }
    }
    // The port could not be had: the use taken for it goes back, outside the
    // lock (the last use waits for the thread).
    m_pIo->Release();
    return nullptr;
}

void CUdpServiceHub::Release(const std::shared_ptr<CUdpService>& service, int address,
                             const std::shared_ptr<CReportNotifier>& camera)
{
    if (!service) return;
    std::shared_ptr<CUdpService> stopping;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (service != m_pService) return;  // an earlier service, already stopped
        service->Detach(address, camera);
        if (--m_nUsers > 0) return;
        stopping = std::move(m_pService);
    }
    // Outside the lock: stopping waits for the I/O thread, whose callbacks
    // may themselves acquire or release.
    stopping->Stop();
    m_pIo->Release();  // the stopped service's use; a service started meanwhile has its own
}

}  // namespace korvane
