// libFuzzer target for the PEM reader and the trust-set build over arbitrary text, given both as
// the tag's `ca` text and as the SSL_CERT_FILE bundle. No crash, no leak, and:
// - the bundle read as SSL_CERT_FILE yields the text's certificates without duplicates and no
//   error, or, when the text is not valid PEM, no certificate and one error naming the fault;
// - a trust set built with the text's certificates as extra roots either refuses the build or
//   holds them first, in order, byte for byte, followed by the built-in anchors;
// - a trust set built with the bundle as the system roots, one of which the TLS layer reads,
//   is not refused and holds the built-in anchors and at least one, at most all, of them.
#include "kov/pem.hpp"
#include "kov/trust_store.hpp"
#include "kov/webpki_roots.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <openssl/x509.h>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void broken(const char* what, std::size_t size) {
    std::fprintf(stderr, "invariant broken: %s (text of %zu bytes)\n", what, size);
    std::abort();
}

// One bundle file for the whole run, rewritten for every input.
const std::string& bundle_path() {
    static const std::string path = [] {
        char name[] = "/tmp/kov-pem-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        close(fd);
        std::atexit([] { unlink(bundle_path().c_str()); });
        return std::string{name};
    }();
    return path;
}

void write_bundle(std::string_view text) {
    std::FILE* file = std::fopen(bundle_path().c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
        std::perror("writing the bundle");
        std::abort();
    }
}

std::vector<unsigned char> der_of(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length < 0) {
        return {};
    }
    std::vector<unsigned char> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text{reinterpret_cast<const char*>(data), size};
    const auto certificates = kov::read_pem_certificates(text);

    write_bundle(text);
    const auto roots = kov::read_system_roots([](std::string_view name) {
        return name == "SSL_CERT_FILE" ? std::optional<std::string>{bundle_path()} : std::nullopt;
    });
    if (!roots) {
        broken("reading a bundle file failed", size);
    }
    if (certificates) {
        std::vector<kov::Der> unique;
        std::set<kov::Der> seen;
        for (const kov::Der& certificate : *certificates) {
            if (seen.insert(certificate).second) {
                unique.push_back(certificate);
            }
        }
        if (roots->certificates != unique || !roots->errors.empty()) {
            broken("bundle file read differently from the text", size);
        }
    } else if (!roots->certificates.empty() || roots->errors.size() != 1 ||
               roots->errors.front().find(kov::PemError::message) == std::string::npos) {
        broken("faulty bundle file not reported as such", size);
    }

    const std::size_t built_in = kov::webpki_roots().size();
    if (certificates && !certificates->empty()) {
        const auto trust = kov::build_trust_store(*certificates, {});
        if (trust) {
            const auto anchors = trust->anchors();
            if (anchors.size() != certificates->size() + built_in) {
                broken("extra roots missing from the trust set", size);
            }
            for (std::size_t i = 0; i < certificates->size(); ++i) {
                if (der_of(anchors[i]) != (*certificates)[i]) {
                    broken("extra root changed on the way into the trust set", size);
                }
            }
        } else if (trust.error().kind != kov::ClientErrorKind::Builder) {
            broken("refusal of an extra root is not a builder error", size);
        }
    }
    // The built-in anchors are read before the system roots, which makes the build slow: it
    // runs only when a system root could be accepted.
    const auto parses = [](const kov::Der& der) {
        const unsigned char* at = der.data();
        X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(der.size()));
        const bool whole = certificate != nullptr && at == der.data() + der.size();
        X509_free(certificate);
        return whole;
    };
    if (std::any_of(roots->certificates.begin(), roots->certificates.end(), parses)) {
        const auto trust = kov::build_trust_store({}, *roots);
        if (!trust || (trust->anchors().size() < built_in + 1 ||
                       trust->anchors().size() > built_in + roots->certificates.size())) {
            broken("system roots counted wrongly", size);
        }
    }
    return 0;
}
