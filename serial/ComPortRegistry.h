// Every open serial line of the process, found by device name. Cameras on one
// line share its port; the last camera to leave closes the device.
#pragma once

#include "serial/ComPort.h"

#include <korvane/Korvane.h>

#include <memory>
#include <mutex>
#include <vector>

namespace korvane {

class CIoThread;

class CComPortRegistry {
public:
    // The process-wide registry. Holders keep it alive; its I/O thread ends
    // when the library is unloaded.
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

    // End the I/O thread (library unload).
    void Shutdown();

private:
    std::shared_ptr<CIoThread> m_pReader;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<CComPort>> m_vecPorts;
};

}  // namespace korvane
