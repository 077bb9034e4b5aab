// Windows' CNG: BCryptHash through a hash object, BCryptGenRandom.
#include "platform/Crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <climits>

namespace korvane::platform {

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> Digest(LPCWSTR algorithm, const void* data, std::size_t size)
{
    std::array<std::uint8_t, N> digest{};
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) return digest;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(::BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
        ::BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0);
        ::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(N), 0);
        ::BCryptDestroyHash(hash);
    }
    ::BCryptCloseAlgorithmProvider(provider, 0);
    return digest;
}

}  // namespace

Sha1Digest Sha1(const void* data, std::size_t size) { return Digest<20>(BCRYPT_SHA1_ALGORITHM, data, size); }

Md5Digest Md5(const void* data, std::size_t size) { return Digest<16>(BCRYPT_MD5_ALGORITHM, data, size); }

bool RandomBytes(std::uint8_t* data, std::size_t size)
{
    return size <= ULONG_MAX &&
           BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, data, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace korvane::platform
