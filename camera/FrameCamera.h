// The command side shared by the back-ends that send frames (serial line,
// tracking system, relay): every operation encodes its frames through the
// one command table and hands them to the back-end's link.
#pragma once

#include "camera/CameraBackend.h"
#include "frames/CommandEncoder.h"
#include "report/ReportNotifier.h"

#include <memory>
#include <string>

namespace korvane {

class CFrameCamera : public CCameraBackend {
public:
    void SetDeviceAddress(std::uint32_t address) override { m_encoder.SetAddress(address); }
    void SetHorizonSpeed(std::int32_t speed) override { m_encoder.SetHorizonSpeed(speed); }
    void SetVertcalSpeed(std::int32_t speed) override { m_encoder.SetVertcalSpeed(speed); }
    void SetRecvNotify(RecvNotify notify, void* context) override { m_pNotifier->Set(notify, context); }

    int MoveUp() override { return Run(PtzCommand::Up); }
    int MoveDown() override { return Run(PtzCommand::Down); }
    int MoveLeft() override { return Run(PtzCommand::Left); }
    int MoveRight() override { return Run(PtzCommand::Right); }
    int MoveTopLeft() override { return Run(PtzCommand::UpLeft); }
    int MoveTopRight() override { return Run(PtzCommand::UpRight); }
    int MoveButtomLeft() override { return Run(PtzCommand::DownLeft); }
    int MoveButtomRight() override { return Run(PtzCommand::DownRight); }
    int CameraStop() override { return Run(PtzCommand::Stop); }
    int ZoomPlus() override { return Run(PtzCommand::ZoomTele); }
    int ZoomMinus() override { return Run(PtzCommand::ZoomWide); }
    int FocusPlus() override { return Run(PtzCommand::FocusFar); }
    int FocusMinus() override { return Run(PtzCommand::FocusNear); }
    int IrisPlus() override { return Run(PtzCommand::IrisOpen); }
    int IrisMinus() override { return Run(PtzCommand::IrisClose); }
    int PreSet(int preset, std::uint8_t op) override;
    int OpenTrack() override { return SendSpecialPreset(kTrackOnPreset, true); }
    int CloseTrack() override { return SendSpecialPreset(kTrackOffPreset, true); }
    int OpenAutoZoom() override { return SendSpecialPreset(kAutoZoomOnPreset, false); }
    int CloseAutoZoom() override { return SendSpecialPreset(kAutoZoomOffPreset, false); }
    int OpenAutoWrite() override { return SendSpecialPreset(kAutoWriteOnPreset, false); }
    int CloseAutoWrite() override { return SendSpecialPreset(kAutoWriteOffPreset, false); }
    // The test frame, then the system's text for the link's last error.
    int ConnectTest() override;

protected:
    CFrameCamera(const EncoderTraits& traits, std::int32_t defaultSpeed);

    // Hands one frame to the link, which owns it from here on; without a link
    // the frame is dropped.
    virtual void SendFrame(Frame frame) = 0;
    // The system's text for the link's most recent error ("Success" if none).
    virtual std::string LastErrorText() const = 0;

    virtual int Run(PtzCommand command);
    virtual int SendSpecialPreset(std::uint8_t preset, bool viscaRecall);
    void SendIfAny(Frame frame);

    CCommandEncoder m_encoder;
    // Shared with the receive side, which may still hold it while a report
    // for this camera is delivered.
    std::shared_ptr<CReportNotifier> m_pNotifier = std::make_shared<CReportNotifier>();
};

}  // namespace korvane
