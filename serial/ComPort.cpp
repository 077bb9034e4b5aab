#include "serial/ComPort.h"

#include "platform/Platform.h"
#include "report/ReturnCodes.h"
#include "io/IoThread.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace korvane {

namespace {

constexpr int kOpenAttempts = 6;
constexpr auto kBusyRetryPause = std::chrono::milliseconds(50);
constexpr std::size_t kFrameLength = 7;
constexpr std::uint8_t kFrameStart = 0xFF;

using boost::asio::serial_port_base;

boost::system::error_code Configure(boost::asio::serial_port& port, const MYDCB& settings)
{
    boost::system::error_code error;
    // Speed 0 is no speed: on POSIX it means hang up, which drops DTR.
    if (settings.BaudRate == 0) error = boost::asio::error::invalid_argument;
    if (!error) port.set_option(serial_port_base::baud_rate(settings.BaudRate), error);
    if (error) {
        platform::DebugOutput("Korvanu: cannot set line speed " + std::to_string(settings.BaudRate) +
                              ": " + platform::ErrorText(error) + "\n");
        return error;
    }
    port.set_option(serial_port_base::character_size(settings.ByteSize), error);
    if (!error) port.set_option(serial_port_base::parity(serial_port_base::parity::none), error);
    if (!error) port.set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one), error);
    if (error)
        platform::DebugOutput("Korvanu: cannot set line format (" + std::to_string(settings.ByteSize) +
                              " data bits): " + platform::ErrorText(error) + "\n");
    return error;
}

}  // namespace

CComPort::CComPort(std::shared_ptr<CIoThread> reader, std::string name)
    : m_pReader(std::move(reader)),
      m_port(m_pReader->Context()),
      m_strPort(std::move(name)),
      m_closed(m_closedPromise.get_future().share())
{
}

CComPort::~CComPort()
{
    boost::system::error_code ignored;
    platform::UnlockSerialDevice(m_port);
    m_port.close(ignored);
}

boost::system::error_code CComPort::Open(const MYDCB& settings)
{
    boost::system::error_code error;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        m_port.open(platform::SerialDevicePath(m_strPort), error);
        if (!error) {
            error = platform::LockSerialDevice(m_port);
            if (error) {
                boost::system::error_code ignored;
                m_port.close(ignored);
            }
        }
        if (!error || !platform::IsDeviceBusy(error)) break;
        if (attempt < kOpenAttempts) std::this_thread::sleep_for(kBusyRetryPause);
    }
    if (!error) {
        error = Configure(m_port, settings);
        if (error) {
            boost::system::error_code ignored;
            platform::UnlockSerialDevice(m_port);
            m_port.close(ignored);
        } else {
            platform::PurgeSerialDevice(m_port);
        }
    }
    // Start, data and stop bits of each byte.
    if (!error) m_byteTime = std::chrono::nanoseconds(1000000000LL * (settings.ByteSize + 2) / settings.BaudRate);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastError = error;
    m_bOpen = !error;
    return error;
}

namespace {
// Long enough for a full queue at 2400 baud, short enough for a host's Close.
constexpr auto kDrainLimit = std::chrono::seconds(2);
// About two frames in the driver: enough to keep the line busy, little for a
// stop to wait behind.
constexpr std::size_t kBytesAhead = 16;
}  // namespace

void CComPort::AddLane(std::shared_ptr<CCommandLane> lane)
{
    boost::asio::post(m_pReader->Context(), [self = shared_from_this(), lane = std::move(lane)]() mutable {
        self->m_lanes.push_back({std::move(lane), false});
    });
}

void CComPort::RemoveLane(const std::shared_ptr<CCommandLane>& lane)
{
    boost::asio::post(m_pReader->Context(), [self = shared_from_this(), lane] {
        for (Lane& entry : self->m_lanes)
            if (entry.lane == lane) entry.leaving = true;
        self->Pump();
    });
}

bool CComPort::Pull()
{
    if (!IsOpen()) return false;
    // One pump waiting to run serves every submit before it.
    if (!m_bPumpPosted.exchange(true))
        boost::asio::post(m_pReader->Context(), [self = shared_from_this()] {
            self->m_bPumpPosted = false;
            self->Pump();
        });
    return true;
}

bool CComPort::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bOpen;
}

std::size_t CComPort::BytesInLine(std::chrono::steady_clock::time_point now)
{
    const std::size_t driver = platform::SerialOutputQueued(m_port);
    if (m_lineFreeAt <= now || m_byteTime.count() <= 0) return driver;
    const auto estimate = static_cast<std::size_t>((m_lineFreeAt - now) / m_byteTime) + 1;
    return std::max(driver, estimate);
}

bool CComPort::TakeNext(std::vector<Frame>& frames)
{
    const std::size_t count = m_lanes.size();
    // A stop of any camera first, then each lane in turn.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t index = (m_nNextLane + i) % count;
            CCommandLane& lane = *m_lanes[index].lane;
            if (pass == 0 && !lane.HasStop()) continue;
            if (!lane.Take(frames)) continue;
            m_nNextLane = (index + 1) % count;
            return true;
        }
    return false;
}

// One write at a time, so frames reach the line whole and in order; the next
// is taken only when the line has room for it.
void CComPort::Pump()
{
    if (m_bWriting || m_bPumpWaits) return;
    m_lanes.erase(std::remove_if(m_lanes.begin(), m_lanes.end(),
                                 [](const Lane& entry) { return entry.leaving && entry.lane->Empty(); }),
                  m_lanes.end());
    if (!m_port.is_open()) return;
    const bool idle =
        std::all_of(m_lanes.begin(), m_lanes.end(), [](const Lane& entry) { return entry.lane->Empty(); });
    if (idle) {
        if (m_bClosing) CloseDevice();  // drained: the close goes on
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::size_t inLine = BytesInLine(now);
    if (inLine >= kBytesAhead) {
        m_bPumpWaits = true;
        const auto wait = std::max<std::chrono::nanoseconds>(m_byteTime * (inLine - kBytesAhead + 1),
                                                             std::chrono::microseconds(200));
        m_pReader->At(now + wait, [self = shared_from_this()] {
            self->m_bPumpWaits = false;
            self->Pump();
        });
        return;
    }
    m_writing.clear();
    std::vector<Frame> frames;
    while (m_writing.empty() && TakeNext(frames))
        for (const Frame& frame : frames) m_writing.insert(m_writing.end(), frame.begin(), frame.end());
    if (m_writing.empty()) {
        if (m_bClosing) CloseDevice();  // drained: the close goes on
        return;
    }
    m_lineFreeAt = std::max(m_lineFreeAt, now) + m_byteTime * m_writing.size();
    m_bWriting = true;
    boost::asio::async_write(m_port, boost::asio::buffer(m_writing),
                             [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                                 self->m_bWriting = false;
                                 if (error) {
                                     // What waited behind the failed frame is stale by the
                                     // time the line works again: drop it, so the next
                                     // command is the next thing the camera sees.
                                     self->SetLastError(error);
                                     for (Lane& entry : self->m_lanes) entry.lane->Drop();
                                     self->m_pHealth->Failed("writing to " + self->m_strPort + ": " +
                                                             platform::ErrorText(error));
                                 } else {
                                     self->m_pHealth->Sent();
                                 }
                                 self->Pump();
                             });
}

boost::system::error_code CComPort::LastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

void CComPort::SetLastError(const boost::system::error_code& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastError = error;
}

bool CComPort::BindCamera(int address, std::shared_ptr<CReportNotifier> camera)
{
    if (!camera) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapCamera.emplace(address, std::move(camera)).second;
}

bool CComPort::UnbindCamera(int address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapCamera.erase(address);
    return m_mapCamera.empty();
}

bool CComPort::StartReading()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen) return false;
    }
    boost::asio::post(m_pReader->Context(), [self = shared_from_this()] {
        if (self->m_bReading || !self->m_port.is_open()) return;
        self->m_bReading = true;
        self->PostRead();
    });
    return true;
}

void CComPort::PostRead()
{
    m_port.async_read_some(boost::asio::buffer(m_byRecv),
                           [self = shared_from_this()](const boost::system::error_code& error, std::size_t bytes) {
                               self->OnRead(error, bytes);
                           });
}

void CComPort::OnRead(const boost::system::error_code& error, std::size_t bytes)
{
    if (error) {
        // Closed, or the device went away (adapter unplugged, far end gone):
        // this port stops receiving; the others carry on.
        if (error != boost::asio::error::operation_aborted) SetLastError(error);
        m_bReading = false;
        return;
    }
    AppendReceived(m_byRecv.data(), bytes);
    PostRead();
    ScanFrames();
}

void CComPort::AppendReceived(const std::uint8_t* data, std::size_t length)
{
    m_strRecv.insert(m_strRecv.end(), data, data + length);
}

void CComPort::ScanFrames()
{
    std::size_t start = 0;
    while (m_strRecv.size() - start >= kFrameLength) {
        if (m_strRecv[start] != kFrameStart) {
            ++start;
            continue;
        }
        // The host may close this port from its callback: route a copy.
        std::array<std::uint8_t, kFrameLength> frame;
        std::copy_n(m_strRecv.begin() + static_cast<std::ptrdiff_t>(start), kFrameLength, frame.begin());
        DispatchFrame(frame.data(), static_cast<int>(kFrameLength));
        start += kFrameLength;
    }
    m_strRecv.erase(m_strRecv.begin(), m_strRecv.begin() + static_cast<std::ptrdiff_t>(start));
}

int CComPort::DispatchFrame(const std::uint8_t* frame, int length)
{
    std::shared_ptr<CReportNotifier> camera;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_mapCamera.find(SerialReportAddress(frame[1]));
        if (found == m_mapCamera.end()) return length;
        camera = found->second;
    }
    return camera->OnSerialReport(frame, length);
}

void CComPort::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapCamera.clear();
        m_bOpen = false;
    }
    if (!m_pReader->IsRunning()) {
        CloseDevice();  // nothing runs on the port
        return;
    }
    // Behind every pull asked before it: a command followed at once by Close
    // still reaches the line, whichever thread closes.
    boost::asio::post(m_pReader->Context(), [self = shared_from_this()] { self->CloseWhenDrained(); });
    if (m_pReader->InThread()) return;
    if (Closed().wait_for(kDrainLimit) != std::future_status::ready) CloseNow();
    // Closing queued the aborted read and write; once this runs, they have
    // run too and hold the port no longer.
    m_pReader->RunOnThread([] {});
}

void CComPort::CloseWhenDrained()
{
    // No timer bounds this here: on Windows Asio's timers run a thread of
    // their own, which an unload would have to join. The pump closes the
    // device once the lanes are empty.
    m_bClosing = true;
    Pump();
}

void CComPort::CloseNow()
{
    m_pReader->RunOnThread([self = shared_from_this()] { self->CloseDevice(); });
}

void CComPort::CloseDevice()
{
    boost::system::error_code ignored;
    platform::UnlockSerialDevice(m_port);
    m_port.close(ignored);  // the pending write's handler releases its frame
    m_bClosing = false;
    if (m_bClosedSet) return;
    m_bClosedSet = true;
    m_closedPromise.set_value();
}

}  // namespace korvane
