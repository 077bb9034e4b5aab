#include "onvif/WsSecurity.h"

#include "onvif/Soap.h"
#include "platform/Crypto.h"

#include <algorithm>
#include <cstdio>

namespace korvane::onvif {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    text.reserve(4 * ((bytes.size() + 2) / 3));
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (n > 2) group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= n ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text)
{
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(3 * (text.size() / 4));
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // Padding only closes the last group: "xx==" or "xxx=".
        std::size_t padding = 0;
        if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int value = k < 4 - padding ? Base64Value(text[i + k]) : 0;
            if (value < 0) return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        for (std::size_t k = 0; k < 3 - padding; ++k) bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * k)));
    }
    return bytes;
}

std::string PasswordDigest(const std::vector<std::uint8_t>& nonce, const std::string& created,
                           const std::string& password)
{
    std::vector<std::uint8_t> input(nonce);
    input.insert(input.end(), created.begin(), created.end());
    input.insert(input.end(), password.begin(), password.end());
    const platform::Sha1Digest digest = platform::Sha1(input.data(), input.size());
    return Base64Encode(std::vector<std::uint8_t>(digest.begin(), digest.end()));
}

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long DaysFromCivil(long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

void CivilFromDays(long days, long& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<long>(yearOfEra) + era * 400 + (month <= 2);
}

}  // namespace

std::string FormatUtc(UtcSeconds when)
{
    const long long seconds = when.time_since_epoch().count();
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    long year;
    unsigned month, day;
    CivilFromDays(static_cast<long>(days), year, month, day);
    char text[64];  // room for any year a long holds
    std::snprintf(text, sizeof text, "%04ld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day, rest / 3600,
                  rest / 60 % 60, rest % 60);
    return text;
}

std::optional<UtcSeconds> UtcFromFields(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    const long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return UtcSeconds(std::chrono::seconds(days * 86400 + hour * 3600 + minute * 60 + second));
}

std::string SecurityHeader(const std::string& user, const std::string& password, UtcSeconds created)
{
    std::vector<std::uint8_t> nonce(16);
    if (!platform::RandomBytes(nonce.data(), nonce.size())) nonce.assign(16, 0);
    const std::string createdText = FormatUtc(created);
    return "<wsse:Security s:mustUnderstand=\"1\" xmlns:wsse=\"" + std::string(kNsWsse) + "\" xmlns:wsu=\"" +
           kNsWsu + "\"><wsse:UsernameToken><wsse:Username>" + XmlEscape(user) +
           "</wsse:Username><wsse:Password Type=\"" + kPasswordDigestType + "\">" +
           PasswordDigest(nonce, createdText, password) + "</wsse:Password><wsse:Nonce EncodingType=\"" +
           kBase64EncodingType + "\">" + Base64Encode(nonce) + "</wsse:Nonce><wsu:Created>" + createdText +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

}  // namespace korvane::onvif
