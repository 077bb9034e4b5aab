// One HTTP connection to one camera, kept alive between requests. POSTs SOAP
// 1.2 requests; answers a camera's HTTP digest challenge and keeps it for the
// requests that follow. Basic is never answered: over plain HTTP it would
// hand the password to anyone who asks or listens.
#pragma once

#include "platform/Tls.h"

#include <chrono>
#include <memory>
#include <string>

namespace korvane::onvif {

struct HttpReply {
    long status = 0;      // 0: no HTTP answer at all
    std::string body;
    std::string error;    // why there was no usable answer, else empty
    bool timedOut = false;  // the time given ran out
};

class CHttpSession {
public:
    // Every request ends within this time, answered or not.
    static constexpr std::chrono::milliseconds kTimeout{5000};
    // Bodies beyond this are refused: no camera's answer comes near it.
    static constexpr std::size_t kBodyLimit = 1 << 20;
    // A request ends at this many 401 answers: a challenge, an answer to it,
    // and one more (a stale nonce) is all an honest camera needs.
    static constexpr int kMaxChallenges = 3;

    CHttpSession();
    ~CHttpSession();
    CHttpSession(const CHttpSession&) = delete;
    CHttpSession& operator=(const CHttpSession&) = delete;

    // An https address's certificate must be this one (SHA-256, hex, colons
    // allowed); empty: verified against the system's store. False for text
    // that is no SHA-256 fingerprint (every https request then fails).
    bool SetTlsFingerprint(const std::string& fingerprint);

    // Ends within timeout (at most kTimeout), answered or not.
    HttpReply PostSoap(const std::string& url, const std::string& action, const std::string& envelope,
                       const std::string& user, const std::string& password,
                       std::chrono::milliseconds timeout = kTimeout);

private:
    struct CurlDeleter {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, CurlDeleter> m_curl;
    platform::TlsPin m_tls;
    bool m_bBadFingerprint = false;
};

// 64 lower-case hex digits from a SHA-256 fingerprint written as hex, with or
// without colons ("AB:CD:..." as openssl prints it); empty for anything else.
std::string NormalizeFingerprint(const std::string& text);

}  // namespace korvane::onvif
