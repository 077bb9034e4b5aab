// One open serial device, shared by every camera on that line. Cameras are
// bound under their address; return-code frames are routed to them.
//
// Host threads call Write, BindCamera and UnbindCamera; everything that
// touches the device runs on the reader's I/O thread. Handlers hold the port
// alive, so a port outlives its last pending operation.
#pragma once

#include "frames/Frame.h"
#include "report/ReportNotifier.h"

#include "camera/LinkHealth.h"
#include <korvane/Korvane.h>

#include <boost/asio/serial_port.hpp>

#include <array>
#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace korvane {

class CIoThread;

class CComPort : public std::enable_shared_from_this<CComPort> {
public:
    CComPort(std::shared_ptr<CIoThread> reader, std::string name);
    ~CComPort();

    // Opens and configures the device: speed and data bits from the record,
    // no parity, one stop bit, raw, both queues purged, for this process
    // alone. A busy device is tried 6 times, 50 ms apart.
    boost::system::error_code Open(const MYDCB& settings);
    // Queues the frame; the port owns it from here on. False when the port is
    // not open (the frame is dropped). A failed write drops the frames queued
    // behind it and records the error (LastError); the next Write starts
    // afresh with its own frame.
    bool Write(Frame frame);
    // The most recent error of this port (success when there was none).
    boost::system::error_code LastError() const;
    // Frames queued and not yet written; asks the I/O thread (tests).
    std::size_t QueuedFrames();

    bool BindCamera(int address, std::shared_ptr<CReportNotifier> camera);
    // Removes the binding; true when none is left.
    bool UnbindCamera(int address);

    // Starts receiving, once; a second call is harmless.
    bool StartReading();
    // Closes the device and drops every binding. Frames already written go
    // out first (bounded wait); the pending read ends.
    void Close();

    const std::string& Name() const { return m_strPort; }
    // The line's state, shared by the cameras on it: a failed write marks it
    // failed, a write that goes out clears that (a line never answers).
    const std::shared_ptr<CLinkHealth>& Health() const { return m_pHealth; }

    // Cuts and routes whatever complete frames m_strRecv holds. Runs on the
    // I/O thread; public for the frame-scanner tests.
    void ScanFrames();
    void AppendReceived(const std::uint8_t* data, std::size_t length);
    std::size_t PendingBytes() const { return m_strRecv.size(); }

private:
    void PostRead();
    void OnRead(const boost::system::error_code& error, std::size_t bytes);
    void StartNextWrite();
    void NotifyDrained();
    int DispatchFrame(const std::uint8_t* frame, int length);
    void SetLastError(const boost::system::error_code& error);

    std::shared_ptr<CIoThread> m_pReader;
    boost::asio::serial_port m_port;
    const std::string m_strPort;

    // I/O thread only.
    std::array<std::uint8_t, 64> m_byRecv{};
    std::vector<std::uint8_t> m_strRecv;
    std::deque<Frame> m_writeQueue;
    bool m_bWriting = false;
    std::shared_ptr<std::promise<void>> m_pDrained;  // Close waits for the queue to empty
    bool m_bReading = false;

    mutable std::mutex m_mutex;  // bindings and the last error
    std::map<int, std::shared_ptr<CReportNotifier>> m_mapCamera;
    const std::shared_ptr<CLinkHealth> m_pHealth = std::make_shared<CLinkHealth>();
    boost::system::error_code m_lastError;
    bool m_bOpen = false;
};

}  // namespace korvane
