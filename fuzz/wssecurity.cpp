// The WS-Security helpers: base64 both ways, the UTC time text both ways, and
// the UsernameToken header for any user, password and date.
#include "Check.h"
#include "RequestChecks.h"

#include "onvif/WsSecurity.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::onvif;

namespace {

int Sextet(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Base64 as written: groups of four, '=' only at the end of the last group.
std::optional<std::vector<std::uint8_t>> StrictDecode(const std::string& text)
{
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        int padding = 0;
        if (last && text[at + 3] == '=') padding = text[at + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (int i = 0; i < 4; ++i) {
            const int value = i >= 4 - padding ? 0 : Sextet(text[at + static_cast<std::size_t>(i)]);
            if (value < 0) return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1) bytes.push_back(static_cast<std::uint8_t>(group));
    }
    return bytes;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: {  // bytes to text and back
        const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
        const std::string text = Base64Encode(bytes);
        FUZZ_REQUIRE(text.size() == 4 * ((bytes.size() + 2) / 3), "%zu bytes give %zu characters", bytes.size(),
                     text.size());
        const auto back = Base64Decode(text);
        FUZZ_REQUIRE(back && *back == bytes, "%zu bytes do not come back from '%s'", bytes.size(), text.c_str());
        FUZZ_REQUIRE(StrictDecode(text) == bytes, "'%s' is not the bytes' base64", text.c_str());
        break;
    }
    case 1: {  // any text: what it decodes to, when it decodes
        const std::string text = input.ConsumeRemainingBytesAsString();
        const auto decoded = Base64Decode(text);
        const auto expected = StrictDecode(text);
        if (expected) FUZZ_REQUIRE(decoded && *decoded == *expected, "valid base64 '%s' misread", text.c_str());
        if (decoded) FUZZ_REQUIRE(decoded->size() <= text.size() / 4 * 3, "'%s' gives too many bytes", text.c_str());
        break;
    }
    case 2: {  // date fields to a time and its text
        const int year = input.ConsumeIntegral<int>();
        const int month = input.ConsumeIntegral<int>();
        const int day = input.ConsumeIntegral<int>();
        const int hour = input.ConsumeIntegral<int>();
        const int minute = input.ConsumeIntegral<int>();
        const int second = input.ConsumeIntegral<int>();
        const auto when = UtcFromFields(year, month, day, hour, minute, second);
        // A date that exists in the years 1970 to 9999 is taken (a leap
        // second may be); nothing else is.
        const bool exists = year >= 1970 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
                            day <= DaysIn(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
        if (exists && second >= 0 && second <= 59) {
            FUZZ_REQUIRE(when, "%d-%d-%d %d:%d:%d refused", year, month, day, hour, minute, second);
            char text[64];
            std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute, second);
            FUZZ_REQUIRE(FormatUtc(*when) == text, "%s comes back as %s", text, FormatUtc(*when).c_str());
        } else if (!(exists && second == 60)) {
            FUZZ_REQUIRE(!when, "%d-%d-%d %d:%d:%d accepted", year, month, day, hour, minute, second);
        }
        break;
    }
    case 3: {  // a token for any user, password and time
        // The host hands user and password over as C strings: no zero bytes.
        std::string user = input.ConsumeRandomLengthString(300);
        std::string password = input.ConsumeRandomLengthString(300);
        user.erase(std::remove(user.begin(), user.end(), '\0'), user.end());
        password.erase(std::remove(password.begin(), password.end(), '\0'), password.end());
        // From 1970 to the end of 9999.
        const auto seconds = input.ConsumeIntegralInRange<long long>(0, 253'402'300'799LL);
        const UtcSeconds when{std::chrono::seconds(seconds)};
        const std::string created = FormatUtc(when);
        FUZZ_REQUIRE(fuzz::IsUtcText(created), "%lld s is '%s'", seconds, created.c_str());
        int fields[6] = {};
        std::sscanf(created.c_str(), "%d-%d-%dT%d:%d:%dZ", &fields[0], &fields[1], &fields[2], &fields[3],
                    &fields[4], &fields[5]);
        const auto back = UtcFromFields(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
        FUZZ_REQUIRE(back && *back == when, "'%s' does not read back as %lld s", created.c_str(), seconds);
        const std::string checked = fuzz::CheckSecurityHeader(SecurityHeader(user, password, when), user, password);
        FUZZ_REQUIRE(checked == created, "token dated '%s', not '%s'", checked.c_str(), created.c_str());
        break;
    }
    }
    return 0;
}
