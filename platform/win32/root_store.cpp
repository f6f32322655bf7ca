#include "root_store.hpp"

#include <cstring>

namespace platform {
namespace win32 {
namespace {

constexpr const char* server_authentication = "1.3.6.1.5.5.7.3.1";

// Whether the certificate may authenticate a server. No usage list with CRYPT_E_NOT_FOUND means
// every use; an empty list without that error means none.
std::expected<bool, SystemError> allows_server_authentication(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size)) {
        return std::unexpected(last_system_error("CertGetEnhancedKeyUsage"));
    }
    std::vector<unsigned char> buffer(size);
    auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
    SetLastError(0);
    if (!CertGetEnhancedKeyUsage(certificate, 0, usage, &size)) {
        return std::unexpected(last_system_error("CertGetEnhancedKeyUsage"));
    }
    if (usage->cUsageIdentifier == 0) {
        return GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    }
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], server_authentication) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::expected<std::vector<EncodedCertificate>, SystemError> take_server_roots(HCERTSTORE store) {
    std::vector<EncodedCertificate> taken;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        const auto usable = allows_server_authentication(certificate);
        if (!usable) {
            CertFreeCertificateContext(certificate);
            return std::unexpected(usable.error());
        }
        if (*usable && CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0) {
            taken.emplace_back(certificate->pbCertEncoded,
                               certificate->pbCertEncoded + certificate->cbCertEncoded);
        }
    }
    return taken;
}

} // namespace win32

std::expected<std::optional<std::vector<EncodedCertificate>>, SystemError> read_user_root_store() {
    const HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (store == nullptr) {
        return std::optional<std::vector<EncodedCertificate>>{};
    }
    auto taken = win32::take_server_roots(store);
    CertCloseStore(store, 0);
    if (!taken) {
        return std::unexpected(taken.error());
    }
    return std::optional{std::move(*taken)};
}

} // namespace platform
