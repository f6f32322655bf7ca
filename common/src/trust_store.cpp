#include "kov/trust_store.hpp"

#include "kov/pem.hpp"
#include "kov/webpki_roots.hpp"
#include "platform/mapped_file.hpp"
#include "platform/root_store.hpp"
#include "platform/text.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <set>
#include <utility>

namespace kov {
namespace {

namespace fs = std::filesystem;

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The names OpenSSL's c_rehash gives: eight hexadecimal digits, a dot and one decimal digit.
bool is_hashed_name(std::string_view name) {
    return name.size() == 10 && std::all_of(name.begin(), name.begin() + 8, is_hex_digit) &&
           name[8] == '.' && name[9] >= '0' && name[9] <= '9';
}

std::string quoted(const fs::path& path) {
    return "\"" + platform::path_text(path) + "\"";
}

// Adds the certificates of one PEM file, or an error text.
void read_pem_file(const fs::path& path, std::vector<Der>& out, std::vector<std::string>& errors) {
    auto file = platform::ReadOnlyFile::open(path);
    if (!file) {
        errors.push_back("cannot open " + quoted(path) + ": " + platform::describe(file.error()));
        return;
    }
    auto mapping = platform::FileMapping::map(*file);
    if (!mapping) {
        errors.push_back("cannot read " + quoted(path) + ": " +
                         platform::describe(mapping.error()));
        return;
    }
    const auto bytes = mapping->bytes();
    auto certificates = read_pem_certificates(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!certificates) {
        errors.push_back(std::string(certificates.error().message) + " in " + quoted(path));
        return;
    }
    for (auto& certificate : *certificates) {
        out.push_back(std::move(certificate));
    }
}

void read_hashed_folder(const fs::path& folder, std::vector<Der>& out,
                        std::vector<std::string>& errors) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        errors.push_back("cannot list " + quoted(folder) + ": " + error.message());
        return;
    }
    std::vector<fs::path> names;
    for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
        const fs::path& path = entries->path();
        // The hashed names are usually links to the certificate files: follow them.
        if (is_hashed_name(platform::path_text(path.filename())) &&
            fs::is_regular_file(path, error)) {
            names.push_back(path);
        }
    }
    if (error) {
        errors.push_back("cannot list " + quoted(folder) + ": " + error.message());
    }
    // The listing order is the file system's; sorting makes the order the same everywhere.
    std::sort(names.begin(), names.end());
    for (const fs::path& path : names) {
        read_pem_file(path, out, errors);
    }
}

void remove_duplicates(std::vector<Der>& certificates) {
    std::set<Der> seen;
    std::vector<Der> unique;
    for (auto& certificate : certificates) {
        if (seen.insert(certificate).second) {
            unique.push_back(std::move(certificate));
        }
    }
    certificates = std::move(unique);
}

// The TLS layer's reason for the last failure on this thread, and an empty queue after it.
std::string tls_error(std::string_view fallback) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) {
        return std::string(fallback);
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

struct Parsed {
    X509* certificate = nullptr;
    std::string error;
};

// One whole DER certificate: nothing may follow it.
Parsed parse_certificate(std::span<const unsigned char> der) {
    ERR_clear_error();
    const unsigned char* at = der.data();
    X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(der.size()));
    if (certificate == nullptr) {
        return {nullptr, tls_error("not a certificate")};
    }
    if (at != der.data() + der.size()) {
        X509_free(certificate);
        return {nullptr, "trailing data after the certificate"};
    }
    return {certificate, {}};
}

} // namespace

std::optional<std::string> process_environment(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::expected<SystemRoots, platform::SystemError> read_system_roots(const EnvironmentLookup& env) {
    SystemRoots roots;
    const auto file = env("SSL_CERT_FILE");
    const auto folder = env("SSL_CERT_DIR");
    if (file || folder) {
        if (file) {
            read_pem_file(platform::path_from_utf8(*file), roots.certificates, roots.errors);
        }
        if (folder) {
            read_hashed_folder(platform::path_from_utf8(*folder), roots.certificates, roots.errors);
        }
        remove_duplicates(roots.certificates);
        return roots;
    }
    auto store = platform::read_user_root_store();
    if (!store) {
        return std::unexpected(std::move(store.error()));
    }
    if (*store) {
        roots.certificates = std::move(**store);
    }
    return roots;
}

TrustStore::TrustStore() : store_(X509_STORE_new()) {}

TrustStore::TrustStore(TrustStore&& other) noexcept
    : store_(std::exchange(other.store_, nullptr)), extra_(std::move(other.extra_)),
      built_in_(std::move(other.built_in_)), system_(std::move(other.system_)),
      later_system_(std::move(other.later_system_)), complete_(other.complete_) {}

TrustStore& TrustStore::operator=(TrustStore&& other) noexcept {
    if (this != &other) {
        release();
        store_ = std::exchange(other.store_, nullptr);
        extra_ = std::move(other.extra_);
        built_in_ = std::move(other.built_in_);
        system_ = std::move(other.system_);
        later_system_ = std::move(other.later_system_);
        complete_ = other.complete_;
    }
    return *this;
}

TrustStore::~TrustStore() {
    release();
}

void TrustStore::release() noexcept {
    for (auto* list : {&extra_, &built_in_, &system_}) {
        for (X509* anchor : *list) {
            X509_free(anchor);
        }
        list->clear();
    }
    later_system_.clear();
    X509_STORE_free(store_);
    store_ = nullptr;
}

namespace {

// Takes ownership of `certificate`; false when the store will not hold it.
bool add_to(X509_STORE* store, X509* certificate, std::vector<X509*>& anchors) {
    if (X509_STORE_add_cert(store, certificate) != 1) {
        X509_free(certificate);
        return false;
    }
    anchors.push_back(certificate);
    return true;
}

// One system root, skipped when the TLS layer refuses it.
bool add_system_root(X509_STORE* store, const Der& der, std::vector<X509*>& anchors) {
    Parsed parsed = parse_certificate(der);
    if (parsed.certificate != nullptr && add_to(store, parsed.certificate, anchors)) {
        return true;
    }
    ERR_clear_error();
    return false;
}

} // namespace

void TrustStore::complete() const {
    if (complete_) {
        return;
    }
    complete_ = true;
    // The built-in set is known to decode: a test holds every anchor of it.
    for (const BuiltInAnchor& anchor : webpki_roots()) {
        Parsed parsed = parse_certificate(anchor.der);
        if (parsed.certificate == nullptr || !add_to(store_, parsed.certificate, built_in_)) {
            ERR_clear_error();
        }
    }
    for (const Der& der : later_system_) {
        add_system_root(store_, der, system_);
    }
    later_system_.clear();
    later_system_.shrink_to_fit();
}

X509_STORE* TrustStore::store() const {
    complete();
    return store_;
}

std::vector<X509*> TrustStore::anchors() const {
    complete();
    std::vector<X509*> all = extra_;
    all.insert(all.end(), built_in_.begin(), built_in_.end());
    all.insert(all.end(), system_.begin(), system_.end());
    return all;
}

std::expected<TrustStore, ClientError> build_trust_store(std::span<const Der> extra_roots,
                                                         SystemRoots system_roots) {
    TrustStore trust;
    if (trust.store_ == nullptr) {
        return std::unexpected(ClientError{ClientErrorKind::Builder, {}, tls_error("no store")});
    }
    const auto refusal = [](std::string cause) {
        return std::unexpected(ClientError{ClientErrorKind::Builder, {}, std::move(cause)});
    };

    for (const Der& der : extra_roots) {
        Parsed parsed = parse_certificate(der);
        if (parsed.certificate == nullptr) {
            return refusal(std::move(parsed.error));
        }
        if (!add_to(trust.store_, parsed.certificate, trust.extra_)) {
            return refusal(tls_error("the certificate store refused a certificate"));
        }
    }
    // The build fails only when every system root is refused: once one is accepted, the others
    // can wait until the store is needed.
    auto& offered = system_roots.certificates;
    auto next = offered.begin();
    bool accepted = false;
    while (next != offered.end() && !accepted) {
        accepted = add_system_root(trust.store_, *next++, trust.system_);
    }
    if (!accepted && !offered.empty()) {
        if (system_roots.errors.empty()) {
            return refusal("zero valid certificates found in native root store");
        }
        std::string cause;
        for (const std::string& error : system_roots.errors) {
            cause += error;
            cause += '\n';
        }
        return refusal(std::move(cause));
    }
    trust.later_system_.assign(std::make_move_iterator(next),
                               std::make_move_iterator(offered.end()));
    return trust;
}

} // namespace kov
