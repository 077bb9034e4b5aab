#include "camera/Result.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

// errno-style: read right after the call, on the same thread. Plain data, so
// that no thread registers a destructor that would pin the library at unload.
struct LastError {
    Outcome outcome;
    char reason[512];
};
thread_local LastError t_last{Outcome::Ok, {}};

}  // namespace

int Report(Result result) noexcept
{
    t_last.outcome = result.outcome;
    const std::size_t count = std::min(result.reason.size(), sizeof t_last.reason - 1);
    std::memcpy(t_last.reason, result.reason.data(), count);
    t_last.reason[count] = '\0';
    return result.Succeeded() ? 1 : 0;
}

Outcome LastOutcome() noexcept { return t_last.outcome; }

const char* LastReason() noexcept { return t_last.reason; }

void ClearLastResult() noexcept
{
    t_last.outcome = Outcome::Ok;
    t_last.reason[0] = '\0';
}

}  // namespace korvane
