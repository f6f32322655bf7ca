#include "platform/root_store.hpp"

#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace platform {
namespace {

// Debian's bundle of the roots the distribution trusts, standing in for the user's store.
constexpr const char* distribution_bundle = "/etc/ssl/certs/ca-certificates.crt";

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

// The same rule the Windows store is read with: a usage list, when there is one, names server
// authentication, and the validity period holds the current time.
bool usable_now(X509* certificate) {
    const bool has_usage_list = (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0;
    if (has_usage_list && (X509_get_extended_key_usage(certificate) & XKU_SSL_SERVER) == 0) {
        return false;
    }
    return X509_cmp_current_time(X509_get0_notBefore(certificate)) < 0 &&
           X509_cmp_current_time(X509_get0_notAfter(certificate)) > 0;
}

} // namespace

std::expected<std::optional<std::vector<EncodedCertificate>>, SystemError> read_user_root_store() {
    const std::unique_ptr<BIO, BioFree> bundle(BIO_new_file(distribution_bundle, "rb"));
    if (!bundle) {
        ERR_clear_error();
        return std::optional<std::vector<EncodedCertificate>>{};
    }
    std::vector<EncodedCertificate> taken;
    for (;;) {
        const std::unique_ptr<X509, X509Free> certificate(
            PEM_read_bio_X509(bundle.get(), nullptr, nullptr, nullptr));
        if (!certificate) {
            break; // the end of the bundle, or text it cannot read: what came before counts
        }
        if (!usable_now(certificate.get())) {
            continue;
        }
        unsigned char* der = nullptr;
        const int length = i2d_X509(certificate.get(), &der);
        if (length > 0) {
            taken.emplace_back(der, der + length);
        }
        OPENSSL_free(der);
    }
    ERR_clear_error();
    return std::optional{std::move(taken)};
}

} // namespace platform
