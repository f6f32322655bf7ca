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

// What goes into a certificate of a test chain. Extensions are written only when given, in the
// OpenSSL configuration syntax ("critical,CA:TRUE", "IP:127.0.0.1,DNS:localhost", ...).
struct ChainCertificateOptions {
    std::string common_name;
    long valid_from_days = -1; // relative to now
    long valid_until_days = 30;
    std::optional<std::string> basic_constraints;
    std::optional<std::string> key_usage;
    std::optional<std::string> extended_key_usage;
    std::optional<std::string> subject_alt_names;
    std::optional<std::string> name_constraints;
};

// A certificate with its own new EC (P-256) key, for building chains.
class ChainCertificate {
public:
    // Signed by `issuer`, or by its own key when there is none. Subject and authority key
    // identifiers are always written.
    static ChainCertificate make(const ChainCertificateOptions& options,
                                 const ChainCertificate* issuer = nullptr);

    std::vector<unsigned char> der() const { return der_; }
    std::string pem() const { return to_pem(der_); }
    std::string key_pem() const { return key_pem_; }

private:
    std::vector<unsigned char> der_;
    std::string key_pem_;
};

// Options for the usual kinds of chain members.
ChainCertificateOptions root_options(std::string common_name);
ChainCertificateOptions intermediate_options(std::string common_name);
// A server certificate for `alt_names` ("IP:127.0.0.1", ...), its common name `common_name`.
ChainCertificateOptions server_options(std::string common_name,
                                       std::optional<std::string> alt_names);

} // namespace kov_test
