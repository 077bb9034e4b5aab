// OpenSSL's one-shot digests and random source.
#include "platform/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

namespace korvane::platform {

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> Digest(const EVP_MD* method, const void* data, std::size_t size)
{
    std::array<std::uint8_t, N> digest{};
    unsigned int length = 0;
    EVP_Digest(data, size, digest.data(), &length, method, nullptr);
    return digest;
}

}  // namespace

Sha1Digest Sha1(const void* data, std::size_t size) { return Digest<20>(EVP_sha1(), data, size); }

Md5Digest Md5(const void* data, std::size_t size) { return Digest<16>(EVP_md5(), data, size); }

bool RandomBytes(std::uint8_t* data, std::size_t size)
{
    return size <= INT_MAX && RAND_bytes(data, static_cast<int>(size)) == 1;
}

}  // namespace korvane::platform
