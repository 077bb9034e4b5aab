#include "onvif/WsSecurity.h"

#include "onvif/Soap.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdio>

namespace korvane::onvif {

std::string Base64Encode(const std::vector<std::uint8_t>& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                       static_cast<int>(bytes.size()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text)
{
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(3 * (text.size() / 4) + 1);
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && padding < 2; ++it) ++padding;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

std::string PasswordDigest(const std::vector<std::uint8_t>& nonce, const std::string& created,
                           const std::string& password)
{
    std::vector<std::uint8_t> input(nonce);
    input.insert(input.end(), created.begin(), created.end());
    input.insert(input.end(), password.begin(), password.end());
    std::vector<std::uint8_t> digest(SHA_DIGEST_LENGTH);
    SHA1(input.data(), input.size(), digest.data());
    return Base64Encode(digest);
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
    if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) nonce.assign(16, 0);
    const std::string createdText = FormatUtc(created);
    return "<wsse:Security s:mustUnderstand=\"1\" xmlns:wsse=\"" + std::string(kNsWsse) + "\" xmlns:wsu=\"" +
           kNsWsu + "\"><wsse:UsernameToken><wsse:Username>" + XmlEscape(user) +
           "</wsse:Username><wsse:Password Type=\"" + kPasswordDigestType + "\">" +
           PasswordDigest(nonce, createdText, password) + "</wsse:Password><wsse:Nonce EncodingType=\"" +
           kBase64EncodingType + "\">" + Base64Encode(nonce) + "</wsse:Nonce><wsu:Created>" + createdText +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

}  // namespace korvane::onvif
