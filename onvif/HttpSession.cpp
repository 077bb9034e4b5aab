#include "onvif/HttpSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace korvane::onvif {

namespace {

void GlobalInitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::string body;
    bool overflow = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    if (sink->body.size() + bytes > CHttpSession::kBodyLimit) {
        sink->overflow = true;
        return 0;  // ends the transfer
    }
    sink->body.append(data, bytes);
    return bytes;
}

// Counts the 401 answers of one request and ends it at the last one allowed:
// libcurl answers a stale digest challenge again and again.
struct Challenges {
    int count = 0;
    bool tooMany = false;
};

std::size_t CountChallenges(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* challenges = static_cast<Challenges*>(user);
    const std::size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        const std::size_t code = line.find(' ');
        if (code != std::string::npos && line.compare(code + 1, 3, "401") == 0 &&
            ++challenges->count >= CHttpSession::kMaxChallenges) {
            challenges->tooMany = true;
            return 0;  // ends the transfer
        }
    }
    return bytes;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void Add(const std::string& header) { list = curl_slist_append(list, header.c_str()); }
};

}  // namespace

void CHttpSession::CurlDeleter::operator()(void* handle) const { curl_easy_cleanup(static_cast<CURL*>(handle)); }

CHttpSession::CHttpSession()
{
    GlobalInitOnce();
    m_curl.reset(curl_easy_init());
}

CHttpSession::~CHttpSession() = default;

std::string NormalizeFingerprint(const std::string& text)
{
    std::string hex;
    for (const char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex.size() == 64 ? hex : std::string();
}

bool CHttpSession::SetTlsFingerprint(const std::string& fingerprint)
{
    const bool wasPinned = !m_tls.fingerprint.empty();
    m_tls.fingerprint = NormalizeFingerprint(fingerprint);
    if (wasPinned && m_tls.fingerprint.empty()) m_curl.reset(curl_easy_init());  // the store back
    m_bBadFingerprint = !fingerprint.empty() && m_tls.fingerprint.empty();
    return !m_bBadFingerprint;
}

HttpReply CHttpSession::PostSoap(const std::string& url, const std::string& action, const std::string& envelope,
                                 const std::string& user, const std::string& password,
                                 std::chrono::milliseconds timeout)
{
    // At least 1 ms: libcurl reads 0 as no time-out at all.
    const long timeoutMs = static_cast<long>(std::max<std::chrono::milliseconds::rep>(
        1, std::min(timeout, kTimeout).count()));
    HttpReply reply;
    CURL* curl = static_cast<CURL*>(m_curl.get());
    if (!curl) {
        reply.error = "no HTTP client";
        return reply;
    }
    if (url.rfind("https://", 0) == 0) {
        if (m_bBadFingerprint) {
            reply.error = "the pinned certificate fingerprint is no SHA-256 fingerprint (64 hex digits)";
            return reply;
        }
        if (!platform::ConfigureTls(curl, m_tls, reply.error)) return reply;
    }
    HeaderList headers;
    headers.Add("Content-Type: application/soap+xml; charset=utf-8; action=\"" + action + "\"");
    headers.Add("Expect:");  // no 100-continue round trip
    Sink sink;
    Challenges challenges;
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, envelope.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(envelope.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &CountChallenges);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &challenges);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // host threads: no SIGALRM
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kBodyLimit));
    if (!user.empty()) {
        // Digest or nothing. ONLY keeps the first request whole: digest alone
        // would send it with an empty body as a probe, which cameras that
        // ask for no HTTP authentication refuse.
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST | CURLAUTH_ONLY);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_NONE);
    }

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the list dies here
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);  // and so does the buffer
    if (sink.overflow) {
        reply.error = "answer too large";
        return reply;
    }
    if (challenges.tooMany) {
        reply.error = "authentication refused " + std::to_string(challenges.count) + " times";
        return reply;
    }
    if (result != CURLE_OK && !m_tls.seen.empty()) {
        reply.error = "the camera's certificate (SHA-256 " + m_tls.seen + ") is not the pinned one";
        return reply;
    }
    if (result == CURLE_PEER_FAILED_VERIFICATION) {
        reply.error = std::string("the camera's certificate is not trusted here (") + detail +
                      "); pin its SHA-256 fingerprint to accept a camera's own certificate";
        return reply;
    }
    if (result != CURLE_OK) {
        reply.timedOut = result == CURLE_OPERATION_TIMEDOUT;
        reply.error = curl_easy_strerror(result);
        return reply;
    }
    reply.body = std::move(sink.body);
    return reply;
}

}  // namespace korvane::onvif
