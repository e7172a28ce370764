// A self-signed certificate for "localhost", made with OpenSSL for TLS tests and benchmarks.
#pragma once

#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace testsupport {

// The PEM text of a fresh P-256 key followed by its certificate (CN and DNS name "localhost",
// valid from an hour ago for a day). Made once per process.
inline const std::string& testIdentityPem() {
    static const std::string pem = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600 * 24);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "DNS:localhost")) {
            X509_add_ext(cert, san, -1);
            X509_EXTENSION_free(san);
        }
        X509_sign(cert, key, EVP_sha256());
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
        PEM_write_bio_X509(bio, cert);
        char* p = nullptr;
        const long length = BIO_get_mem_data(bio, &p);
        std::string text(p, static_cast<size_t>(length));
        BIO_free(bio);
        X509_free(cert);
        EVP_PKEY_free(key);
        return text;
    }();
    return pem;
}

} // namespace testsupport
