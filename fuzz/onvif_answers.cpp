// Each ONVIF answer parser on its own, fed any answer through the replaced
// HTTP layer: what it takes out of an answer must be in that answer, preset
// numbers stay 1 to 256, the camera's clock moves the tokens' time and
// nothing else, and every request sent is a well-formed, signed envelope.
#include "Check.h"
#include "FakeHttp.h"
#include "RequestChecks.h"

#include "onvif/OnvifClient.h"
#include "onvif/WsSecurity.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

using namespace korvane;
using namespace korvane::onvif;

namespace {

const std::string kDeviceUrl = "http://192.0.2.10:80/onvif/device_service";
const std::string kServiceUrl = "http://192.0.2.10:80/onvif/ptz_service";
const std::string kUser = "ad<m>&in";
const std::string kPassword = "p'a\"ss";

// Everything the answers handed out: token attributes and the texts of
// XAddr and PresetToken elements, read straight from the documents.
struct Handed : pugi::xml_tree_walker {
    std::set<std::string> tokens, addresses, presetTokens;

    bool for_each(pugi::xml_node& node) override
    {
        if (node.type() != pugi::node_element) return true;
        const char* colon = std::strrchr(node.name(), ':');
        const std::string local = colon ? colon + 1 : node.name();
        if (const pugi::xml_attribute token = node.attribute("token")) tokens.insert(token.value());
        if (local == "XAddr") addresses.insert(node.child_value());
        if (local == "PresetToken") presetTokens.insert(node.child_value());
        return true;
    }
};

Handed WhatWasHanded()
{
    Handed handed;
    for (const std::string& body : fuzz::Http().answered) {
        pugi::xml_document document;
        if (document.load_buffer(body.data(), body.size())) document.traverse(handed);
    }
    return handed;
}

void CheckEveryRequest(std::size_t limit)
{
    const auto& requests = fuzz::Http().requests;
    FUZZ_REQUIRE(requests.size() <= limit, "%zu requests for one call, at most %zu expected", requests.size(), limit);
    for (const fuzz::PostedRequest& request : requests)
        fuzz::CheckRequest(request.action, request.envelope, request.user, request.password);
}

long long SecondsOf(const std::string& utcText)
{
    int y, mo, d, h, mi, s;
    FUZZ_REQUIRE(std::sscanf(utcText.c_str(), "%d-%d-%dT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &s) == 6, "'%s'",
                 utcText.c_str());
    const auto when = UtcFromFields(y, mo, d, h, mi, s);
    FUZZ_REQUIRE(when, "'%s' does not read back", utcText.c_str());
    return std::chrono::duration_cast<std::chrono::seconds>(when->time_since_epoch()).count();
}

long long Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool IsLeap(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days since 1970 by counting, for the years a camera may plausibly say.
long long DaysSince1970(int year, int month, int day)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    long long days = 0;
    for (int y = 1970; y < year; ++y) days += IsLeap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m) days += kDays[m - 1] + (m == 2 && IsLeap(year) ? 1 : 0);
    return days + day - 1;
}

const char* Local(pugi::xml_node node)
{
    const char* colon = std::strrchr(node.name(), ':');
    return colon ? colon + 1 : node.name();
}

// Every answer handed out, read as the client reads answers: a fault is a
// failure that says so, a success is HTTP 200 with no error, and an answer
// that never came keeps its reason.
void CheckReplies()
{
    for (const HttpReply& http : fuzz::Http().replies) {
        const SoapReply reply = ParseSoapReply(http.status, http.body, http.error);
        FUZZ_REQUIRE(reply.ok == reply.error.empty(), "ok %d with error '%s'", reply.ok, reply.error.c_str());
        FUZZ_REQUIRE(!reply.ok || http.status == 200, "HTTP %ld taken as success", http.status);
        if (!http.error.empty()) FUZZ_REQUIRE(reply.error == http.error, "the transport's error is lost");
        if (reply.ok && reply.body) FUZZ_REQUIRE(reply.body.type() == pugi::node_element, "the body is no element");
        if (!http.error.empty()) continue;

        pugi::xml_document document;
        if (!document.load_buffer(http.body.data(), http.body.size())) continue;
        std::size_t roots = 0;
        for (pugi::xml_node child : document.children()) roots += child.type() == pugi::node_element;
        const pugi::xml_node envelope = document.document_element();
        if (roots != 1 || std::strcmp(Local(envelope), "Envelope") != 0) continue;
        pugi::xml_node body;
        for (pugi::xml_node child : envelope.children())
            if (!body && child.type() == pugi::node_element && std::strcmp(Local(child), "Body") == 0) body = child;
        if (!body) continue;
        bool fault = false;
        for (pugi::xml_node child : body.children())
            fault = fault || (child.type() == pugi::node_element && std::strcmp(Local(child), "Fault") == 0);
        if (fault)
            FUZZ_REQUIRE(!reply.ok && reply.error.rfind("SOAP fault: ", 0) == 0, "a fault read as '%s'",
                         reply.error.c_str());
        else
            FUZZ_REQUIRE(reply.ok == (http.status == 200), "a SOAP answer with HTTP %ld read as ok %d", http.status,
                         reply.ok);
    }
}

// A clock answer built from six numbers: the token that follows must carry
// the camera's time, or (for a time the client cannot use) our own.
void ClockAnswer(FuzzedDataProvider& input)
{
    const int year = input.ConsumeBool() ? input.ConsumeIntegralInRange(1970, 2200) : input.ConsumeIntegral<int>();
    const int month = input.ConsumeIntegralInRange(0, 13);
    const int day = input.ConsumeIntegralInRange(0, 32);
    const int hour = input.ConsumeIntegralInRange(-1, 24);
    const int minute = input.ConsumeIntegralInRange(-1, 60);
    const int second = input.ConsumeIntegralInRange(-1, 61);
    static const char* kPrefixes[] = {"tt:", "", "x:"};
    const std::string p = kPrefixes[input.ConsumeIntegralInRange(0, 2)];
    const auto element = [&p](const char* name, const std::string& inner) {
        return "<" + p + name + ">" + inner + "</" + p + name + ">";
    };
    const std::string fields =
        element("UTCDateTime",
                element("Time", element("Hour", std::to_string(hour)) + element("Minute", std::to_string(minute)) +
                                    element("Second", std::to_string(second))) +
                    element("Date", element("Year", std::to_string(year)) + element("Month", std::to_string(month)) +
                                        element("Day", std::to_string(day))));
    const std::string answer =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:tt=\"http://www.onvif.org/ver10/schema\""
        " xmlns:x=\"urn:x\"><s:Body><tds:GetSystemDateAndTimeResponse xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
        "<tds:SystemDateAndTime>" +
        fields + "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse></s:Body></s:Envelope>";
    fuzz::Http().answers.push_back({200, answer, ""});
    fuzz::Http().answers.push_back({200, "", ""});

    COnvifConnection connection;
    const long long before = Now();
    FUZZ_REQUIRE(connection.LearnCameraClock(kDeviceUrl), "an answered clock request counts as no answer");
    connection.Call(kServiceUrl, std::string(kNsPtz) + "/Stop", "<tptz:Stop/>", kUser, kPassword);
    const long long after = Now();
    CheckEveryRequest(2);
    const std::string created =
        fuzz::CheckRequest(fuzz::Http().requests[1].action, fuzz::Http().requests[1].envelope, kUser, kPassword);
    const long long sent = SecondsOf(created);

    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool valid = year >= 1970 && year <= 2200 && month >= 1 && month <= 12 && day >= 1 &&
                       day <= kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0) && hour >= 0 && hour <= 23 &&
                       minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
    // A time the client cannot use may be taken or left: the token is
    // checked above to carry a proper time either way.
    if (!valid) return;
    const long long camera = DaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    FUZZ_REQUIRE(sent >= camera && sent <= camera + (after - before) + 1,
                 "camera said %04d-%02d-%02dT%02d:%02d:%02d, the token says %s", year, month, day, hour, minute,
                 second, created.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Http() = {};
    FuzzedDataProvider input(data, size);
    const int operation = input.ConsumeIntegralInRange(0, 8);
    if (operation == 8) {
        ClockAnswer(input);
        CheckReplies();
        return 0;
    }
    fuzz::Http().answers = fuzz::SplitAnswers(input.ConsumeRemainingBytesAsString());
    const std::deque<HttpReply> answers = fuzz::Http().answers;

    COnvifConnection connection;
    switch (operation) {
    case 0: {  // any clock answer: later tokens still carry a proper time
        connection.LearnCameraClock(kDeviceUrl);
        connection.Call(kServiceUrl, std::string(kNsPtz) + "/Stop", "<tptz:Stop/>", kUser, kPassword);
        CheckEveryRequest(2);
        break;
    }
    case 1:
    case 2: {  // capabilities, then services: both addresses from one answer each
        std::string media, ptz;
        const bool found = Onvif_device_geturls(connection, kDeviceUrl, kUser, kPassword, media, ptz);
        CheckEveryRequest(2);
        FUZZ_REQUIRE(found == !media.empty(), "found %d with media address '%s'", found, media.c_str());
        const Handed handed = WhatWasHanded();
        for (const std::string& url : {media, ptz}) {
            if (url.empty()) continue;
            // On the device's own host and port, with a path an answer named.
            const std::string origin = "http://192.0.2.10:80";
            FUZZ_REQUIRE(url.compare(0, origin.size() + 1, origin + "/") == 0, "service at '%s'", url.c_str());
            const std::string path = url.substr(origin.size() + (url[origin.size() + 1] == '?' ? 1 : 0));
            bool named = false;
            for (const std::string& address : handed.addresses) named = named || address.find(path) != std::string::npos;
            FUZZ_REQUIRE(named, "address '%s' is no XAddr of the answers", url.c_str());
        }
        break;
    }
    case 3: {
        std::vector<std::string> profiles;
        Onvif_media_get_profiles(connection, kServiceUrl, kUser, kPassword, profiles);
        CheckEveryRequest(1);
        const Handed handed = WhatWasHanded();
        for (const std::string& token : profiles)
            FUZZ_REQUIRE(!token.empty() && handed.tokens.count(token), "profile '%s' was not handed out",
                         token.c_str());
        break;
    }
    case 4: {
        std::string token;
        const int result = Onvif_ptz_getConfigurations(connection, kServiceUrl, kUser, kPassword, "profile", token);
        CheckEveryRequest(1);
        if (result == kOnvifOk)
            FUZZ_REQUIRE(!token.empty() && WhatWasHanded().tokens.count(token), "configuration '%s' not handed out",
                         token.c_str());
        break;
    }
    case 5: {
        Onvif_ptz_getConfigurationOptions(connection, kServiceUrl, kUser, kPassword, "profile", "config<&>");
        CheckEveryRequest(1);
        break;
    }
    case 6: {
        std::map<int, std::string> presets;
        Onvif_ptz_getPreset(connection, kServiceUrl, kUser, kPassword, "profile&", presets);
        CheckEveryRequest(1);
        const Handed handed = WhatWasHanded();
        for (const auto& [number, token] : presets) {
            FUZZ_REQUIRE(number >= 1 && number <= 256, "preset number %d", number);
            FUZZ_REQUIRE(!token.empty() && handed.tokens.count(token), "preset token '%s' not handed out",
                         token.c_str());
        }
        break;
    }
    case 7: {
        std::string token;
        const int result =
            Onvif_ptz_setPreset(connection, kServiceUrl, kUser, kPassword, "profile", "12", token);
        CheckEveryRequest(1);
        if (!token.empty())
            FUZZ_REQUIRE(result == kOnvifOk && WhatWasHanded().presetTokens.count(token),
                         "stored token '%s' not handed out", token.c_str());
        const HttpReply& http = answers.front();
        FUZZ_REQUIRE(ParseSoapReply(http.status, http.body, http.error).ok == (result == kOnvifOk),
                     "the call and its answer disagree");
        break;
    }
    }
    CheckReplies();
    return 0;
}
