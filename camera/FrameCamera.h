// The command side shared by the back-ends that send frames (serial line,
// tracking system, relay): every operation becomes an entry of the camera's
// command lane, encoded through the one command table when its link takes it.
#pragma once

#include "camera/CameraBackend.h"
#include "camera/CommandLane.h"
#include "camera/Result.h"
#include "frames/CommandEncoder.h"
#include "report/ReportNotifier.h"

#include <memory>
#include <mutex>
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

    // Sends one frame on the link, which owns it from here on (links that
    // are always ready: the lane is emptied on the submitting thread).
    virtual Result SendFrame(Frame frame) = 0;
    // The system's text for the link's most recent error ("Success" if none).
    virtual std::string LastErrorText() const = 0;
    // Whether a command may be submitted now (a link is set up).
    virtual Result Ready() const { return Result::Ok(); }
    // An operation the link cannot send fails with the capability rules'
    // reason; otherwise (the relay) it sends nothing and succeeds.
    virtual bool RefusesUnsent() const { return true; }
    // The lane has a new entry: a link that pulls is told; by default the
    // entries go out at once, on this thread.
    virtual Result Deliver();

    virtual int Run(PtzCommand command);
    virtual int SendSpecialPreset(std::uint8_t preset, bool viscaRecall);
    // Checks the operation against the link, then submits the command with
    // the settings in force now.
    Result Submit(std::int32_t op, LaneCommand command, LaneKind kind);

    // The settings in force (protocol, address, speeds): read at submit.
    CCommandEncoder m_encoder;
    // Shared with a link that pulls, which may still hold it after the camera.
    const std::shared_ptr<CCommandLane> m_pLane;
    // Shared with the receive side, which may still hold it while a report
    // for this camera is delivered.
    std::shared_ptr<CReportNotifier> m_pNotifier = std::make_shared<CReportNotifier>();

private:
    std::mutex m_sendMutex;  // frames of one camera leave in lane order
};

}  // namespace korvane
