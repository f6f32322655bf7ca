#pragma once

// Self-signed certificates made on the spot, for tests of the trust set.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kov_test {

struct CertificateOptions {
    std::string common_name = "Test Root";
    long valid_from_days = -1; // relative to now
    long valid_until_days = 30;
    std::optional<std::string> extended_key_usage; // e.g. "serverAuth", "clientAuth"
};

inline CertificateOptions named(std::string common_name) {
    CertificateOptions options;
    options.common_name = std::move(common_name);
    return options;
}

// The DER bytes of a new self-signed EC (P-256) certificate.
std::vector<unsigned char> make_certificate(const CertificateOptions& options = {});

// The same certificate as a PEM section, with line feeds.
std::string to_pem(const std::vector<unsigned char>& der);

} // namespace kov_test
