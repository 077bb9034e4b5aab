// What the library last saw of a camera's link: a request answered, a send
// that failed and why, or nothing it could see (links that never answer).
// Written by the command and I/O threads, read by any host thread.
#pragma once

#include <korvane/korvane_c.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace korvane {

class CLinkHealth {
public:
    // A link that answers (ONVIF, the relay) starts unchecked and becomes OK
    // or failed; one that cannot answer stays unchecked unless a send fails.
    void Succeeded();
    void Failed(const std::string& reason);
    // A send went out, which proves nothing for a link that never answers:
    // a failure it had is over.
    void Sent();
    // Back to unchecked (a new link was set up, or closed).
    void Reset();
    std::int32_t State(std::string& reason) const;

private:
    mutable std::mutex m_mutex;
    std::int32_t m_nState = KORVANE_LINK_UNCHECKED;
    std::string m_strReason;
};

}  // namespace korvane
