// One camera opened from the command line's options, with its reports printed
// one line each as they arrive.
#pragma once

#include "CommandLine.h"

#include <korvane/Korvane.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace korvane::tool {

// A failure while running (the camera cannot be opened): exit code 1.
struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where report lines and other output go, one whole line at a time from any
// thread. With a status line (interactive mode) each line is printed above it.
class COutput {
public:
    explicit COutput(std::FILE* stream = stdout) : m_stream(stream) {}
    // Standard output through a bounded queue and a thread of its own: a
    // reader that stops reading never holds up a caller (the panel's room and
    // watchdog print). Lines beyond the queue's bounds are dropped and counted, and the
    // count is printed once the output moves again.
    struct Queued {
        std::size_t lines = 1000;
        std::size_t bytes = 256 * 1024;
    };
    explicit COutput(Queued queued);
    ~COutput();  // writes what is queued, waiting at most a second for a stuck reader
    COutput(const COutput&) = delete;
    COutput& operator=(const COutput&) = delete;

    void Line(const std::string& text);
    void SetStatus(const std::string& status);
    void EndStatus();

    struct Writer;

private:
    std::FILE* m_stream = nullptr;
    std::mutex m_mutex;
    std::string m_status;
    std::shared_ptr<Writer> m_pWriter;  // set when queued
};

// Text from outside (a page, a camera, a file) made safe for a terminal:
// control characters become \xHH, so that none can move the cursor, set the
// title or clear the screen.
std::string Printable(const std::string& text);

// "target appears" for 0x8400 and so on.
std::string EventName(unsigned int message);
// "14:03:07.512"
std::string ClockTime();
std::string Hex(const unsigned char* data, int length);

// Whether the camera's reports are wanted. A serial camera opened with a
// report function is sent go-to-preset 88 and 100 (the tracker's report
// switch); on a camera without a tracker those are ordinary presets, so a
// single command opens it without.
enum class ReportMode { Off, On };

class CCameraLink {
public:
    // Each report, on the library's thread, after its line is printed.
    using ReportHook = std::function<void(const unsigned char* data, int length, unsigned int message)>;

    // Opens the camera; throws RunError with a message a user can act on.
    // With ReportMode::On it says on output that it switches reports on; each
    // report then goes to hook as well (on the library's thread).
    CCameraLink(const CameraOptions& options, COutput& output, ReportMode reports, ReportHook hook = {});
    ~CCameraLink();

    CKorvane& Camera() { return *m_pCamera; }
    const CameraOptions& Options() const { return m_options; }
    int Reports() const;

private:
    static void OnReport(const unsigned char* data, int length, unsigned int message, void* context);

    CameraOptions m_options;
    COutput& m_output;
    ReportHook m_hook;
    std::unique_ptr<CKorvane> m_pCamera;
    mutable std::mutex m_mutex;
    int m_nReports = 0;
};

}  // namespace korvane::tool
