// HTTPS through libcurl's OpenSSL back-end: a pinned certificate is checked
// in OpenSSL's own verification step, before any request leaves.
#include "platform/Tls.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>

namespace korvane::platform {

namespace {

std::string Sha256Hex(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

int VerifyPinned(X509_STORE_CTX* store, void* arg)
{
    auto* pin = static_cast<TlsPin*>(arg);
    const std::string seen = Sha256Hex(X509_STORE_CTX_get0_cert(store));
    if (!seen.empty() && seen == pin->fingerprint) return 1;
    pin->seen = seen;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

CURLcode OnSslContext(CURL*, void* context, void* arg)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), &VerifyPinned, arg);
    return CURLE_OK;
}

}  // namespace

bool ConfigureTls(void* handle, TlsPin& pin, std::string& error)
{
    CURL* curl = static_cast<CURL*>(handle);
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (!info || !(info->features & CURL_VERSION_SSL)) {
        error = "HTTPS is not available in this build";
        return false;
    }
    pin.seen.clear();
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    if (pin.fingerprint.empty()) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, nullptr);
        return true;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);  // the pin names the certificate itself
    // Nor is the system's store read: loading it costs more than the handshake.
    curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext) != CURLE_OK) {
        error = "HTTPS with a pinned certificate is not available in this build";
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &pin);
    return true;
}

}  // namespace korvane::platform
