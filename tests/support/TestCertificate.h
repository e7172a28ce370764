// Certificates made with OpenSSL for TLS tests and benchmarks: a self-signed one for "localhost",
// and a small authority of our own with leaves for any host name.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace testsupport {

namespace detail {

// A certificate for `key` named `commonName`, valid from an hour ago for a day, with the
// extensions given ("subjectAltName" → "DNS:localhost", ...), signed by `issuer` and its key
// (itself when null).
inline X509* makeCertificate(EVP_PKEY* key, const char* commonName, long serial,
                             std::initializer_list<std::pair<int, const char*>> extensions,
                             X509* issuer = nullptr, EVP_PKEY* issuerKey = nullptr) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600 * 24);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value)) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
    }
    X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256());
    return cert;
}

// PEM text of an optional key followed by certificates.
inline std::string pemOf(EVP_PKEY* key, std::initializer_list<X509*> certificates) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (key != nullptr) {
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    }
    for (X509* cert : certificates) {
        PEM_write_bio_X509(bio, cert);
    }
    char* p = nullptr;
    const long length = BIO_get_mem_data(bio, &p);
    std::string text(p, static_cast<size_t>(length));
    BIO_free(bio);
    return text;
}

struct Authority {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = makeCertificate(
        key, "Cuewright Test Authority", 1,
        {{NID_basic_constraints, "critical,CA:TRUE"}, {NID_key_usage, "critical,keyCertSign,cRLSign"}});
    static const Authority& shared() {
        static const auto* authority = new Authority; // outlives every test
        return *authority;
    }
};

} // namespace detail

// The PEM text of a fresh P-256 key followed by its self-signed certificate (CN and DNS name
// "localhost", valid from an hour ago for a day). Made once per process.
inline const std::string& testIdentityPem() {
    static const std::string pem = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = detail::makeCertificate(key, "localhost", 1, {{NID_subject_alt_name, "DNS:localhost"}});
        std::string text = detail::pemOf(key, {cert});
        X509_free(cert);
        EVP_PKEY_free(key);
        return text;
    }();
    return pem;
}

// The certificate of the tests' own authority (PEM), one per process. Trusted only where a test
// adds it to the roots (SSL_CERT_FILE).
inline std::string testAuthorityPem() {
    return detail::pemOf(nullptr, {detail::Authority::shared().cert});
}

// A fresh key, its certificate for `host` (CN, and the DNS name unless `subjectAltName` names
// others, e.g. "IP:127.0.0.1,IP:::1") issued by the test authority, and the authority's
// certificate as the chain.
inline std::string testLeafPem(const std::string& host, const std::string& subjectAltName = {}) {
    const auto& authority = detail::Authority::shared();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    static long serial = 100;
    const std::string san = subjectAltName.empty() ? "DNS:" + host : subjectAltName;
    X509* cert = detail::makeCertificate(key, host.c_str(), ++serial, {{NID_subject_alt_name, san.c_str()}},
                                         authority.cert, authority.key);
    std::string text = detail::pemOf(key, {cert, authority.cert});
    X509_free(cert);
    EVP_PKEY_free(key);
    return text;
}

} // namespace testsupport
