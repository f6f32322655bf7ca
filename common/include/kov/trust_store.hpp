#pragma once

#include "kov/client_error.hpp"
#include "platform/system_error.hpp"

#include <expected>
#include <functional>
#include <openssl/types.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kov {

using Der = std::vector<unsigned char>;

// Looks up an environment variable: nothing when it is not set, which differs from set and empty.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The process's own environment.
std::optional<std::string> process_environment(std::string_view name);

// What the system offers as roots, with the texts of the errors met while reading them.
struct SystemRoots {
    std::vector<Der> certificates;
    std::vector<std::string> errors;
};

// The system roots: when SSL_CERT_FILE or SSL_CERT_DIR is set, even to an empty text, the file
// it names and the hashed names ("0123abcd.0") in the folder it names, without duplicates;
// otherwise the user's root store. Unreadable places and faulty PEM text become error texts.
// The only failure is a stored certificate whose usages the system cannot report.
std::expected<SystemRoots, platform::SystemError> read_system_roots(const EnvironmentLookup& env);

// The trust anchors of the client and the store that holds them. The built-in set, and the system
// roots after the first one the TLS layer accepts, are kept as bytes until the store is first
// asked for: a run that never makes a TLS handshake never decodes them.
class TrustStore {
public:
    TrustStore(TrustStore&& other) noexcept;
    TrustStore& operator=(TrustStore&& other) noexcept;
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;
    ~TrustStore();

    // Every anchor in the store. Shared with every TLS context that trusts it
    // (X509_STORE_up_ref to keep it).
    X509_STORE* store() const;
    // The anchors in the order of the set: the extra roots, the built-in set, the system roots.
    std::vector<X509*> anchors() const;

private:
    friend std::expected<TrustStore, ClientError> build_trust_store(std::span<const Der>,
                                                                    SystemRoots);
    TrustStore();
    void release() noexcept;
    // Decodes what is still kept as bytes; a system root the TLS layer refuses is skipped.
    void complete() const;

    X509_STORE* store_ = nullptr;
    std::vector<X509*> extra_;
    mutable std::vector<X509*> built_in_;
    mutable std::vector<X509*> system_;
    mutable std::vector<Der> later_system_;
    mutable bool complete_ = false;
};

// The extra roots in order (each must be a certificate the TLS layer accepts), then the built-in
// set, then the system roots that the TLS layer accepts. Fails with a `Builder` error when an
// extra root is refused, or when system roots were offered and every one was refused: the
// system roots are decoded here up to the first one accepted, the rest when the store is needed.
std::expected<TrustStore, ClientError> build_trust_store(std::span<const Der> extra_roots,
                                                         SystemRoots system_roots);

} // namespace kov
