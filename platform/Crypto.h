// Hashes and random bytes from the system's own cryptography: OpenSSL on
// POSIX, CNG on Windows (so the Windows library carries no crypto of its own).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane::platform {

using Sha1Digest = std::array<std::uint8_t, 20>;
using Md5Digest = std::array<std::uint8_t, 16>;

Sha1Digest Sha1(const void* data, std::size_t size);
Md5Digest Md5(const void* data, std::size_t size);

// Fills the buffer from the system's secure random source; false when it fails.
bool RandomBytes(std::uint8_t* data, std::size_t size);

}  // namespace korvane::platform
