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

// The trust anchors of the client, in the order they were added, and the store that holds them.
class TrustStore {
public:
    TrustStore(TrustStore&& other) noexcept;
    TrustStore& operator=(TrustStore&& other) noexcept;
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;
    ~TrustStore();

    // Shared with every TLS context that trusts it (X509_STORE_up_ref to keep it).
    X509_STORE* store() const { return store_; }
    std::span<X509* const> anchors() const { return anchors_; }

private:
    friend std::expected<TrustStore, ClientError> build_trust_store(std::span<const Der>,
                                                                    const SystemRoots&);
    TrustStore();
    void release() noexcept;
    X509_STORE* store_ = nullptr;
    std::vector<X509*> anchors_;
};

// The extra roots in order (each must be a certificate the TLS layer accepts), then the built-in
// set, then the system roots that the TLS layer accepts. Fails with a `Builder` error when an
// extra root is refused, or when system roots were offered and every one was refused.
std::expected<TrustStore, ClientError> build_trust_store(std::span<const Der> extra_roots,
                                                         const SystemRoots& system_roots);

} // namespace kov
