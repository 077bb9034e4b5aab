// The host's notify function and context of one camera, and the gate that
// delivers reports to it from the library's threads.
//
// Delivery never holds a lock while the host runs. Disable() waits until no
// delivery is under way, so once it returns no report for the camera runs or
// starts and the host may free its context. A notify function that disables
// its own camera (Close from inside the callback) does not wait for itself.
#pragma once

#include <korvane/Korvane.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace korvane {

class CReportNotifier {
public:
    void Set(RecvNotify notify, void* context);
    bool HasNotify() const;

    void Enable();
    void Disable();

    // Return-code frame from the serial line (7 bytes; byte 5 is the event).
    // Returns the bytes consumed: the length, or 0 for a null frame.
    int OnSerialReport(const std::uint8_t* frame, int length);
    // Tracking report AA 50 02 <address> <state>: state 1 appears, 0
    // disappears. The host gets the whole report.
    void OnTrackReport(const std::uint8_t* report, int length);
    // Relayed target event: the text "Camera Return Code", no log line.
    void OnRelayEvent(std::uint32_t message);

private:
    // Calls the host once; true when it was called.
    bool Deliver(const std::uint8_t* data, int length, std::uint32_t message, const char* logLabel);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    RecvNotify m_pfnNotify = nullptr;
    void* m_pNotifyCtx = nullptr;
    bool m_bEnabled = true;
    int m_nInFlight = 0;
    std::thread::id m_deliveringThread;
};

}  // namespace korvane
