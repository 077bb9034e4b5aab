// The HTTP layer of the ONVIF client, replaced at link time: every POST is
// recorded and answered from a queue that the fuzzer fills. An empty queue
// answers as a camera that is gone (no HTTP answer).
#pragma once

#include "onvif/HttpSession.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace korvane::fuzz {

struct PostedRequest {
    std::string url;
    std::string action;
    std::string envelope;
    std::string user;
    std::string password;
    std::chrono::milliseconds timeout;  // the time the client gave it
};

struct FakeHttp {
    std::deque<onvif::HttpReply> answers;
    std::vector<PostedRequest> requests;
    std::vector<std::string> answered;  // the bodies handed out, in order
    std::vector<onvif::HttpReply> replies;  // one per request
};

// The one exchange of this process (fuzzers run one input at a time).
FakeHttp& Http();

// Answers as "STATUS\nBODY" separated by "\n%%\n"; a status line that is no
// number means 200, 0 means no HTTP answer at all, T a request that ran out
// of the time it was given.
std::deque<onvif::HttpReply> SplitAnswers(const std::string& text);

}  // namespace korvane::fuzz
