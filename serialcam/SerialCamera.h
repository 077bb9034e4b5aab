// A camera on a serial line, addressed by its bus address. Commands go out as
// Pelco-D, Pelco-P or VISCA frames; return codes come back on the same line.
#pragma once

#include "camera/FrameCamera.h"

#include <boost/system/error_code.hpp>

#include <memory>
#include <mutex>

namespace korvane {

class CComPort;
class CComPortRegistry;

class CSerialCamera : public CFrameCamera {
public:
    CSerialCamera();
    ~CSerialCamera() override;

    bool SetCommDevice(const char* port, MYDCB& dcb) override;
    // Starts receiving; with a notify function registered, also calls the
    // presets 88 and 100 that tell the tracking system the host is ready.
    int Open() override;
    void Close() override;

    LinkKind Kind() const override { return {MODE_SERIAL, m_encoder.Protocol()}; }

protected:
    // The line pulls the lane; nothing is sent on the submitting thread.
    Result SendFrame(Frame) override { return Result::Ok(); }
    std::string LastErrorText() const override;
    Result Ready() const override;
    Result Deliver() override;

private:
    void ReleasePort();
    std::shared_ptr<CComPort> Port() const;

    std::shared_ptr<CComPortRegistry> m_pRegistry;
    // Set up and released by configuration calls; a stop on another thread
    // reads it meanwhile.
    mutable std::mutex m_portMutex;
    std::shared_ptr<CComPort> m_pPort;
    int m_nBoundAddress = 0;  // released by the address it was bound under
    boost::system::error_code m_lastError;
};

}  // namespace korvane
