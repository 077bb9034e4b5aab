// One open serial device, shared by every camera on that line. Cameras are
// bound under their address; return-code frames are routed to them.
//
// The port pulls the cameras' commands from their lanes, round-robin and
// stops first, only while the line is nearly idle (at most about two frames
// in the driver), so a stop overtakes whatever the host had asked before.
//
// Host threads call AddLane, Pull, BindCamera and UnbindCamera; everything
// that touches the device runs on the reader's I/O thread. Handlers hold the
// port alive, so a port outlives its last pending operation.
#pragma once

#include "frames/Frame.h"
#include "report/ReportNotifier.h"

#include "camera/CommandLane.h"
#include "camera/LinkHealth.h"
#include <korvane/Korvane.h>

#include <boost/asio/serial_port.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // A camera's lane joins the line; RemoveLane lets it go once it is empty
    // (what the camera asked before leaving still goes out).
    void AddLane(std::shared_ptr<CCommandLane> lane);
    void RemoveLane(const std::shared_ptr<CCommandLane>& lane);
    // A lane has something new: the port takes it when the line is ready.
    // False when the port is not open. A failed write drops what waited in
    // every lane and records the error (LastError); the next command starts
    // afresh.
    bool Pull();
    // The most recent error of this port (success when there was none).
    boost::system::error_code LastError() const;
    bool IsOpen() const;

    bool BindCamera(int address, std::shared_ptr<CReportNotifier> camera);
    // Removes the binding; true when none is left.
    bool UnbindCamera(int address);

    // Starts receiving, once; a second call is harmless.
    bool StartReading();
    // Closes the device and drops every binding. Commands waiting in the
    // lanes go out first, from whichever thread closes. A host thread waits
    // for that at most a short while, then closes anyway. The I/O thread (a report
    // function closing its camera) cannot wait for its own writes: there the
    // device closes once they are done, which a line without flow control
    // does at its speed. The pending read ends.
    void Close();
    // Ready once the device is closed.
    std::shared_future<void> Closed() const { return m_closed; }
    // Closes at once, frames still queued or not (a drain that took too long).
    void CloseNow();

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
    void Pump();
    bool TakeNext(std::vector<Frame>& frames);
    std::size_t BytesInLine(std::chrono::steady_clock::time_point now);
    void CloseWhenDrained();
    void CloseDevice();
    int DispatchFrame(const std::uint8_t* frame, int length);
    void SetLastError(const boost::system::error_code& error);

    std::shared_ptr<CIoThread> m_pReader;
    boost::asio::serial_port m_port;
    const std::string m_strPort;

    // I/O thread only.
    std::array<std::uint8_t, 64> m_byRecv{};
    std::vector<std::uint8_t> m_strRecv;
    struct Lane {
        std::shared_ptr<CCommandLane> lane;
        bool leaving = false;
    };
    std::vector<Lane> m_lanes;
    std::size_t m_nNextLane = 0;  // round-robin
    Frame m_writing;              // the bytes under way
    bool m_bWriting = false;
    bool m_bPumpWaits = false;    // a deadline will pump again
    // When the line will have sent what was written, at its speed: a
    // pseudo-terminal or a USB adapter takes bytes faster than they leave.
    std::chrono::steady_clock::time_point m_lineFreeAt{};
    std::chrono::nanoseconds m_byteTime{};
    std::atomic<bool> m_bPumpPosted{false};
    bool m_bClosing = false;  // the device closes once drained
    std::promise<void> m_closedPromise;  // set by the I/O thread, or by Close when none runs
    bool m_bClosedSet = false;
    const std::shared_future<void> m_closed;
    bool m_bReading = false;

    mutable std::mutex m_mutex;  // bindings and the last error
    std::map<int, std::shared_ptr<CReportNotifier>> m_mapCamera;
    const std::shared_ptr<CLinkHealth> m_pHealth = std::make_shared<CLinkHealth>();
    boost::system::error_code m_lastError;
    bool m_bOpen = false;
};

}  // namespace korvane
