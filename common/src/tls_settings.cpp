#include "tls_settings.hpp"

#include "certificate_verification.hpp"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace kov::http {
namespace {

constexpr const char* TLS13_SUITES =
    "TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char* TLS12_SUITES = "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-CHACHA20-POLY1305";
constexpr const char* KEY_EXCHANGE_GROUPS = "X25519:P-256:P-384";
constexpr long TLS_VERSIONS =
    static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3);

// Replaces whatever curl loaded with the client's trust set. Every root of the set is an anchor
// of its own, also one that is not self-signed, hence the partial-chain flag.
CURLcode install_trust(CURL* /*easy*/, void* ssl_ctx, void* trust) {
    auto* context = static_cast<SSL_CTX*>(ssl_ctx);
    SSL_CTX_set1_cert_store(context, static_cast<const TrustStore*>(trust)->store());
    if (X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context), X509_V_FLAG_PARTIAL_CHAIN) != 1) {
        return CURLE_SSL_CERTPROBLEM;
    }
    use_certificate_verification(context);
    return CURLE_OK;
}

} // namespace

std::expected<void, std::string> apply_tls_settings(CURL* h, const TrustStore& trust) {
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK;
    };
    set(CURLOPT_SSLVERSION, TLS_VERSIONS);
    set(CURLOPT_TLS13_CIPHERS, TLS13_SUITES);
    set(CURLOPT_SSL_CIPHER_LIST, TLS12_SUITES);
    set(CURLOPT_SSL_EC_CURVES, KEY_EXCHANGE_GROUPS);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    set(CURLOPT_SSL_ENABLE_ALPN, 1L);
    // An https proxy is spoken to with the same settings.
    set(CURLOPT_PROXY_SSLVERSION, TLS_VERSIONS);
    set(CURLOPT_PROXY_TLS13_CIPHERS, TLS13_SUITES);
    set(CURLOPT_PROXY_SSL_CIPHER_LIST, TLS12_SUITES);
    set(CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    set(CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    set(CURLOPT_PROXY_CAINFO, static_cast<const char*>(nullptr));
    set(CURLOPT_PROXY_CAPATH, static_cast<const char*>(nullptr));
    set(CURLOPT_SSL_CTX_FUNCTION, &install_trust);
    set(CURLOPT_SSL_CTX_DATA, const_cast<void*>(static_cast<const void*>(&trust)));
    if (!ok) {
        return std::unexpected("the TLS layer refused a setting");
    }
    return {};
}

} // namespace kov::http
