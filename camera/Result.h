// What became of a call: a value the back-ends and links return, which the
// facade turns into the host's 1 or 0 and keeps the reason of for the calling
// thread (korvane_last_error).
#pragma once

#include <string>
#include <utility>

namespace korvane {

enum class Outcome {
    Ok,           // done, or queued on a healthy line
    Superseded,   // a newer command of the same camera took its place: success
    Unsupported,  // the link cannot send it
    NotOpen,      // no link set up, or closed
    LinkFailed,   // the send failed, or the line is failing
    TimedOut,
    Refused,      // the camera answered no
    QueueFull,    // the camera's lane holds as much as it may
    Unconfirmed,  // sent, on a link that cannot tell whether the camera got it: success
};

struct Result {
    Outcome outcome = Outcome::Ok;
    std::string reason;  // empty for success

    static Result Ok() { return {}; }
    static Result Fail(Outcome outcome, std::string reason) { return {outcome, std::move(reason)}; }
    bool Succeeded() const
    {
        return outcome == Outcome::Ok || outcome == Outcome::Superseded || outcome == Outcome::Unconfirmed;
    }
};

// Keeps the result as the calling thread's last one and gives the host's
// value for it: 1 done (or superseded), 0 failed.
int Report(Result result) noexcept;
// The calling thread's last outcome and its reason (cut to about 500 bytes);
// success and "" before any.
Outcome LastOutcome() noexcept;
const char* LastReason() noexcept;
// A call starts afresh.
void ClearLastResult() noexcept;

}  // namespace korvane
