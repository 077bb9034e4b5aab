// WS-Security UsernameToken with PasswordDigest, as ONVIF devices require:
// Base64(SHA-1(nonce + created + password)), dated in the camera's time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::onvif {

std::string Base64Encode(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text);

std::string PasswordDigest(const std::vector<std::uint8_t>& nonce, const std::string& created,
                           const std::string& password);

// Whole seconds since 1970 UTC: any year a camera may claim fits, where the
// system clock's nanoseconds end in 2262.
using UtcSeconds = std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds>;

// "2026-12-06T15:04:05Z" and back. Nothing for a date that does not exist or
// lies outside the years 1970 to 9999.
std::string FormatUtc(UtcSeconds when);
std::optional<UtcSeconds> UtcFromFields(int year, int month, int day, int hour, int minute, int second);

// The <wsse:Security> header element for the user, dated at created.
std::string SecurityHeader(const std::string& user, const std::string& password, UtcSeconds created);

}  // namespace korvane::onvif
