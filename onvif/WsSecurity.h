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

// "2026-12-06T15:04:05Z" and back (whole seconds, UTC).
std::string FormatUtc(std::chrono::system_clock::time_point when);
std::optional<std::chrono::system_clock::time_point> UtcFromFields(int year, int month, int day, int hour,
                                                                   int minute, int second);

// The <wsse:Security> header element for the user, dated at created.
std::string SecurityHeader(const std::string& user, const std::string& password,
                           std::chrono::system_clock::time_point created);

}  // namespace korvane::onvif
