#include "sim/SelfSignedTls.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace korvane::sim {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

void Check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(std::string("self-signed certificate: ") + what);
}

}  // namespace

std::unique_ptr<boost::asio::ssl::context> MakeSelfSignedContext(bool expired, std::string& fingerprint)
{
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    std::unique_ptr<X509, CertificateFree> certificate(X509_new());
    Check(certificate != nullptr, "certificate");
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    const long day = 24 * 60 * 60;
    X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -2 * day : -day);
    X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -day : 365 * day);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("korvane-sim"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    std::unique_ptr<X509_EXTENSION, ExtensionFree> altNames(
        X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1"));
    Check(altNames && X509_add_ext(cert, altNames.get(), -1) == 1, "address");
    Check(X509_set_pubkey(cert, key.get()) == 1 && X509_sign(cert, key.get(), EVP_sha256()) > 0, "signature");

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    Check(X509_digest(cert, EVP_sha256(), digest, &length) == 1, "fingerprint");
    fingerprint.clear();
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        fingerprint += two;
    }

    auto context = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_server);
    Check(SSL_CTX_use_certificate(context->native_handle(), cert) == 1 &&
              SSL_CTX_use_PrivateKey(context->native_handle(), key.get()) == 1,
          "context");
    return context;
}

}  // namespace korvane::sim
