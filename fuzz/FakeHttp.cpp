#include "FakeHttp.h"

#include <cstdlib>

namespace korvane::fuzz {

FakeHttp& Http()
{
    static FakeHttp http;
    return http;
}

std::deque<onvif::HttpReply> SplitAnswers(const std::string& text)
{
    static const std::string kSeparator = "\n%%\n";
    std::deque<onvif::HttpReply> answers;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(kSeparator, at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        const std::size_t newline = part.find('\n');
        const std::string statusLine = part.substr(0, newline);
        onvif::HttpReply reply;
        char* rest = nullptr;
        const long status = std::strtol(statusLine.c_str(), &rest, 10);
        reply.status = rest == statusLine.c_str() || status < 0 || status > 999 ? 200 : status;
        if (statusLine == "T") {
            reply.status = 0;
            reply.error = "Operation timed out";
            reply.timedOut = true;
        } else if (reply.status == 0)
            reply.error = "Could not connect to server";
        else
            reply.body = newline == std::string::npos ? std::string() : part.substr(newline + 1);
        answers.push_back(std::move(reply));
        at = end + kSeparator.size();
    }
    return answers;
}

}  // namespace korvane::fuzz

namespace korvane::onvif {

void CHttpSession::CurlDeleter::operator()(void*) const {}

CHttpSession::CHttpSession() = default;

CHttpSession::~CHttpSession() = default;

bool CHttpSession::SetTlsFingerprint(const std::string&) { return true; }  // answers come from the input

HttpReply CHttpSession::PostSoap(const std::string& url, const std::string& action, const std::string& envelope,
                                 const std::string& user, const std::string& password,
                                 std::chrono::milliseconds timeout)
{
    fuzz::FakeHttp& http = fuzz::Http();
    http.requests.push_back({url, action, envelope, user, password, timeout});
    if (http.answers.empty()) {
        HttpReply gone;
        gone.error = "Could not connect to server";
        http.replies.push_back(gone);
        return gone;
    }
    HttpReply reply = std::move(http.answers.front());
    http.answers.pop_front();
    http.answered.push_back(reply.body);
    http.replies.push_back(reply);
    return reply;
}

}  // namespace korvane::onvif
