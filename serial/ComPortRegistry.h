// Every open serial line of the process, found by device name. Cameras on one
// line share its port; the last camera to leave closes the device. Each open
// line is one use of the library's I/O service.
#pragma once

#include "serial/ComPort.h"

#include <korvane/Korvane.h>

#include <memory>
#include <mutex>
#include <vector>

namespace korvane {

class CIoService;

class CComPortRegistry {
public:
    // The process-wide registry; holders keep it alive.
    static std::shared_ptr<CComPortRegistry> Instance();

    CComPortRegistry();
    ~CComPortRegistry();

    // Opens the named device (or shares it when already open; the settings
    // then are ignored) and binds the camera under the address. Null when the
    // device cannot be opened or the address is taken on that line; error
    // says why.
    std::shared_ptr<CComPort> Acquire(const char* name, int address, const MYDCB& settings,
                                      std::shared_ptr<CReportNotifier> camera,
                                      boost::system::error_code& error);
    // Unbinds the address; closes and forgets the port when it was the last.
    void Release(const std::shared_ptr<CComPort>& port, int address);
    // Starts receiving on the port (once per port).
    bool StartPort(const std::shared_ptr<CComPort>& port);

    // No line is open and the I/O thread has ended.
    bool Idle() const;

private:
    void ForgetClosed();  // under m_mutex

    std::shared_ptr<CIoService> m_pIo;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<CComPort>> m_vecPorts;
    // Left by their last camera, their device maybe not closed yet.
    std::vector<std::shared_ptr<CComPort>> m_vecClosing;
};

}  // namespace korvane
