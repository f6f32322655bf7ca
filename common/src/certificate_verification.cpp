#include "certificate_verification.hpp"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kov::http {
namespace {

// What OpenSSL reports about a certificate's own dates, CA bit, key usage, extended key usage and
// path length: about an anchor, none of it counts.
bool concerns_the_anchor_alone(int error) {
    switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        return true;
    default:
        return false;
    }
}

// Passes over those errors when they are about the anchor: the top of a chain that ends in the
// trust set and that has a certificate below it. Everything else stays an error.
int pass_anchor_properties(int ok, X509_STORE_CTX* verification) {
    if (ok == 1) {
        return 1;
    }
    const int depth = X509_STORE_CTX_get_error_depth(verification);
    const int length = sk_X509_num(X509_STORE_CTX_get0_chain(verification));
    const bool at_anchor = length >= 2 && depth == length - 1 &&
                           depth >= X509_STORE_CTX_get_num_untrusted(verification);
    if (at_anchor && concerns_the_anchor_alone(X509_STORE_CTX_get_error(verification))) {
        X509_STORE_CTX_set_error(verification, X509_V_OK);
        return 1;
    }
    return 0;
}

// Whether the certificate has a DNS or IP entry in its subjectAltName; without one it names no
// host at all. Matching the host against the entries is left to the HTTP library, which falls
// back to the common name only for certificates without such entries.
bool names_hosts(X509* certificate) {
    auto* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    bool found = false;
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && !found; ++i) {
        const int type = sk_GENERAL_NAME_value(names, i)->type;
        found = type == GEN_DNS || type == GEN_IPADD;
    }
    GENERAL_NAMES_free(names);
    return found;
}

int refuse(X509_STORE_CTX* verification, int error) {
    X509_STORE_CTX_set_error_depth(verification, 0);
    X509_STORE_CTX_set_current_cert(verification, X509_STORE_CTX_get0_cert(verification));
    X509_STORE_CTX_set_error(verification, error);
    return 0;
}

int verify_server_chain(X509_STORE_CTX* verification, void* /*unused*/) {
    X509_STORE_CTX_set_verify_cb(verification, &pass_anchor_properties);
    if (X509_verify_cert(verification) != 1) {
        return 0;
    }
    X509* server = X509_STORE_CTX_get0_cert(verification);
    // A chain of one: the server's certificate is itself in the trust set. It is its own anchor
    // only when it issued itself.
    if (sk_X509_num(X509_STORE_CTX_get0_chain(verification)) == 1 &&
        X509_self_signed(server, 1) != 1) {
        return refuse(verification, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
    }
    if (!names_hosts(server)) {
        return refuse(verification, X509_V_ERR_HOSTNAME_MISMATCH);
    }
    return 1;
}

} // namespace

void use_certificate_verification(SSL_CTX* context) {
    SSL_CTX_set_cert_verify_callback(context, &verify_server_chain, nullptr);
}

} // namespace kov::http
