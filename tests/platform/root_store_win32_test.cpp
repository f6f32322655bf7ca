// The user's root store through crypt32, run under Wine.
#include "root_store.hpp"
#include "test_certificates.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <openssl/x509.h>

namespace {

using Der = std::vector<unsigned char>;

enum class Property { None, EmptyUsage, ServerAuth, ClientAuth };

struct Case {
    const char* name;
    kov_test::CertificateOptions options;
    Property property;
    bool taken;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

kov_test::CertificateOptions options(std::optional<std::string> usage, long from = -1,
                                     long until = 30) {
    kov_test::CertificateOptions o;
    o.extended_key_usage = std::move(usage);
    o.valid_from_days = from;
    o.valid_until_days = until;
    return o;
}

bool set_usage_property(PCCERT_CONTEXT certificate, Property property) {
    char server[] = "1.3.6.1.5.5.7.3.1";
    char client[] = "1.3.6.1.5.5.7.3.2";
    LPSTR identifier = property == Property::ServerAuth ? server : client;
    CERT_ENHKEY_USAGE usage{};
    if (property != Property::EmptyUsage) {
        usage.cUsageIdentifier = 1;
        usage.rgpszUsageIdentifier = &identifier;
    }
    return CertSetEnhancedKeyUsage(certificate, &usage) != 0;
}

class RootStoreFilter : public testing::TestWithParam<Case> {};

TEST_P(RootStoreFilter, TakesServerRootsValidNow) {
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(store, nullptr);
    const Der other = kov_test::make_certificate(); // a plain root beside it, always taken
    const Der der = kov_test::make_certificate(GetParam().options);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, other.data(),
                                                 static_cast<DWORD>(other.size()),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_ALWAYS, &added));
    if (GetParam().property != Property::None) {
        ASSERT_TRUE(set_usage_property(added, GetParam().property));
    }
    CertFreeCertificateContext(added);

    const auto taken = platform::win32::take_server_roots(store);
    CertCloseStore(store, 0);
    ASSERT_TRUE(taken) << platform::describe(taken.error());
    // The store's enumeration order is its own.
    std::vector<Der> expected{other};
    if (GetParam().taken) {
        expected.push_back(der);
    }
    std::vector<Der> got = *taken;
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, RootStoreFilter,
    testing::Values(Case{"NoUsageList", options(std::nullopt), Property::None, true},
                    Case{"ServerAuth", options("serverAuth"), Property::None, true},
                    Case{"ServerAndClientAuth", options("clientAuth,serverAuth"), Property::None,
                         true},
                    Case{"ClientAuthOnly", options("clientAuth"), Property::None, false},
                    Case{"Expired", options(std::nullopt, -10, -1), Property::None, false},
                    Case{"NotYetValid", options(std::nullopt, 1, 10), Property::None, false},
                    Case{"EmptyUsageProperty", options(std::nullopt), Property::EmptyUsage, false},
                    Case{"ServerAuthProperty", options(std::nullopt), Property::ServerAuth, true},
                    Case{"ClientAuthProperty", options(std::nullopt), Property::ClientAuth, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UserRootStore, OpensAndGivesOnlyCertificatesValidNow) {
    const auto roots = platform::read_user_root_store();
    ASSERT_TRUE(roots) << platform::describe(roots.error());
    ASSERT_TRUE(*roots) << "the current user's ROOT store did not open";
    for (const Der& der : **roots) {
        const unsigned char* at = der.data();
        X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(der.size()));
        ASSERT_NE(certificate, nullptr);
        EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(certificate)), 0);
        EXPECT_GT(X509_cmp_current_time(X509_get0_notAfter(certificate)), 0);
        X509_free(certificate);
    }
}

} // namespace
