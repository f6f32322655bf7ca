#include "kov/pem.hpp"
#include "kov/trust_store.hpp"
#include "kov/webpki_roots.hpp"
#include "temp_folder.hpp"
#include "test_certificates.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <openssl/x509.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kov::Der;
using kov_test::make_certificate;
using kov_test::to_pem;

Der der_of(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    Der out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::vector<Der> anchors_of(const kov::TrustStore& trust) {
    std::vector<Der> out;
    for (X509* anchor : trust.anchors()) {
        out.push_back(der_of(anchor));
    }
    return out;
}

std::vector<Der> built_in() {
    std::vector<Der> out;
    for (const auto& anchor : kov::webpki_roots()) {
        out.emplace_back(anchor.der.begin(), anchor.der.end());
    }
    return out;
}

template <class... Parts>
std::vector<Der> concat(const Parts&... parts) {
    std::vector<Der> out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}

// A fixed environment: exactly the variables given are set.
kov::EnvironmentLookup environment(std::map<std::string, std::string> variables) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(std::string(name));
        if (found == variables.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

using test::TempFolder;

TEST(BuiltInAnchors, AreMozillasRootsAndAllAccepted) {
    const auto roots = kov::webpki_roots();
    EXPECT_GT(roots.size(), 100u);
    const auto trust = kov::build_trust_store({}, {});
    ASSERT_TRUE(trust) << trust.error().cause;
    EXPECT_EQ(anchors_of(*trust), built_in());
}

TEST(TrustStore, ExtraRootsFirstThenBuiltInThenSystemRoots) {
    const Der first = make_certificate(kov_test::named("first extra"));
    const Der second = make_certificate(kov_test::named("second extra"));
    const Der system = make_certificate(kov_test::named("system"));
    const std::vector<Der> extra{first, second};
    const auto trust = kov::build_trust_store(extra, {{system}, {}});
    ASSERT_TRUE(trust) << trust.error().cause;
    EXPECT_EQ(anchors_of(*trust), concat(extra, built_in(), std::vector<Der>{system}));
}

TEST(TrustStore, StoreHoldsEveryAnchorAndVerifiesAgainstThem) {
    const Der extra = make_certificate(kov_test::named("verified"));
    const std::vector<Der> extras{extra};
    const auto trust = kov::build_trust_store(extras, {});
    ASSERT_TRUE(trust);
    int certificates = 0;
    bool found = false;
    const auto* objects = X509_STORE_get0_objects(trust->store());
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        X509* stored = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
        if (stored != nullptr) {
            ++certificates;
            found = found || der_of(stored) == extra;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(static_cast<std::size_t>(certificates), built_in().size() + 1);

    // The extra root chains to itself through the store; an unknown root does not.
    const auto verifies = [&](const Der& der) {
        const unsigned char* at = der.data();
        X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(der.size()));
        X509_STORE_CTX* context = X509_STORE_CTX_new();
        X509_STORE_CTX_init(context, trust->store(), certificate, nullptr);
        const bool ok = X509_verify_cert(context) == 1;
        X509_STORE_CTX_free(context);
        X509_free(certificate);
        return ok;
    };
    EXPECT_TRUE(verifies(extra));
    EXPECT_FALSE(verifies(make_certificate(kov_test::named("unknown"))));
}

struct RefusedExtra {
    const char* name;
    Der der;
};

void PrintTo(const RefusedExtra& c, std::ostream* os) {
    *os << c.name;
}

class ExtraRootRefused : public testing::TestWithParam<RefusedExtra> {};

TEST_P(ExtraRootRefused, FailsTheBuildWithTheTlsLayersError) {
    // A good root before it and a refused system root after it change nothing.
    const std::vector<Der> extra{make_certificate(), GetParam().der};
    const auto trust = kov::build_trust_store(extra, {{Der{1, 2, 3}}, {}});
    ASSERT_FALSE(trust);
    EXPECT_EQ(trust.error().kind, kov::ClientErrorKind::Builder);
    EXPECT_FALSE(trust.error().url);
    EXPECT_FALSE(trust.error().cause.empty());
    EXPECT_NE(trust.error().cause, "zero valid certificates found in native root store");
}

Der with_trailing_byte() {
    Der der = make_certificate();
    der.push_back(0);
    return der;
}

Der truncated() {
    Der der = make_certificate();
    der.resize(der.size() / 2);
    return der;
}

INSTANTIATE_TEST_SUITE_P(Ders, ExtraRootRefused,
                         testing::Values(RefusedExtra{"Empty", {}},
                                         RefusedExtra{"NotDer", {'h', 'e', 'l', 'l', 'o'}},
                                         RefusedExtra{"Truncated", truncated()},
                                         RefusedExtra{"TrailingByte", with_trailing_byte()}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TrustStore, EmptyPemSectionIsRefusedAtTheBuild) {
    const auto extra =
        kov::read_pem_certificates("-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
    ASSERT_TRUE(extra);
    const auto trust = kov::build_trust_store(*extra, {});
    ASSERT_FALSE(trust);
    EXPECT_EQ(trust.error().kind, kov::ClientErrorKind::Builder);
}

TEST(TrustStore, SystemRootsRefusedAreSkippedWhileOneIsAccepted) {
    const Der good = make_certificate();
    const auto trust = kov::build_trust_store({}, {{Der{1}, good, Der{}}, {"some error"}});
    ASSERT_TRUE(trust) << trust.error().cause;
    EXPECT_EQ(anchors_of(*trust), concat(built_in(), std::vector<Der>{good}));
}

TEST(TrustStore, NoSystemRootsIsNoFailure) {
    const auto trust = kov::build_trust_store({}, {{}, {"cannot open \"x\""}});
    ASSERT_TRUE(trust);
    EXPECT_EQ(anchors_of(*trust).size(), built_in().size());
}

TEST(TrustStore, AllSystemRootsRefused) {
    const auto without_errors = kov::build_trust_store({}, {{Der{1}, Der{2}}, {}});
    ASSERT_FALSE(without_errors);
    EXPECT_EQ(without_errors.error().kind, kov::ClientErrorKind::Builder);
    EXPECT_EQ(without_errors.error().cause, "zero valid certificates found in native root store");

    const auto with_errors = kov::build_trust_store({}, {{Der{1}}, {"first", "second"}});
    ASSERT_FALSE(with_errors);
    EXPECT_EQ(with_errors.error().cause, "first\nsecond\n");
}

TEST(SystemRoots, CertFileReplacesTheStore) {
    const TempFolder folder;
    const Der a = make_certificate(kov_test::named("a"));
    const Der b = make_certificate(kov_test::named("b"));
    const fs::path bundle = folder.file("bundle.pem", "prose\n" + to_pem(a) + to_pem(b));
    const auto roots = kov::read_system_roots(environment({{"SSL_CERT_FILE", bundle.string()}}));
    ASSERT_TRUE(roots);
    EXPECT_EQ(roots->certificates, (std::vector<Der>{a, b}));
    EXPECT_TRUE(roots->errors.empty());
}

TEST(SystemRoots, EmptyVariablesStillReplaceTheStore) {
    for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
        const auto roots = kov::read_system_roots(environment({{name, ""}}));
        ASSERT_TRUE(roots) << name;
        EXPECT_TRUE(roots->certificates.empty()) << name;
        // and building on them succeeds: nothing was refused
        EXPECT_TRUE(kov::build_trust_store({}, *roots)) << name;
    }
}

TEST(SystemRoots, CertDirTakesOnlyHashedNames) {
    const TempFolder folder;
    const Der lower = make_certificate(kov_test::named("lower"));
    const Der upper = make_certificate(kov_test::named("upper"));
    const Der linked = make_certificate(kov_test::named("linked"));
    folder.file("0123abcd.0", to_pem(lower));
    folder.file("89ABCDEF.9", to_pem(upper));
    for (const char* name : {"0123abcd.10", "0123abc.0", "0123abcg.0", "0123abcd.a", "0123abcd_0",
                             "x0123abcd.0", "cert.pem"}) {
        folder.file(name, to_pem(make_certificate(kov_test::named(name))));
    }
    fs::create_directory(folder.path() / "00000000.1");
    // A hashed name that links to a certificate file counts, as c_rehash makes them.
    fs::create_symlink(folder.file("linked.pem", to_pem(linked)), folder.path() / "aaaaaaaa.0");
    const std::vector<Der> taken{lower, upper, linked}; // in the order of the names

    const auto roots =
        kov::read_system_roots(environment({{"SSL_CERT_DIR", folder.path().string()}}));
    ASSERT_TRUE(roots);
    EXPECT_EQ(roots->certificates, taken);
    EXPECT_TRUE(roots->errors.empty());
}

TEST(SystemRoots, FileAndDirTogetherWithoutDuplicates) {
    const TempFolder folder;
    const Der shared = make_certificate(kov_test::named("shared"));
    const Der own = make_certificate(kov_test::named("own"));
    const fs::path bundle = folder.file("bundle.pem", to_pem(shared) + to_pem(shared));
    folder.file("11111111.0", to_pem(own) + to_pem(shared));
    const auto roots = kov::read_system_roots(environment(
        {{"SSL_CERT_FILE", bundle.string()}, {"SSL_CERT_DIR", folder.path().string()}}));
    ASSERT_TRUE(roots);
    EXPECT_EQ(roots->certificates, (std::vector<Der>{shared, own}));
}

TEST(SystemRoots, UnreadablePlacesAndFaultyPemBecomeErrorTexts) {
    const TempFolder folder;
    const Der good = make_certificate();
    folder.file("22222222.0", "-----BEGIN CERTIFICATE----\nYWJj\n-----END CERTIFICATE-----\n");
    folder.file("33333333.0", to_pem(good));
    const auto roots = kov::read_system_roots(
        environment({{"SSL_CERT_FILE", (folder.path() / "missing.pem").string()},
                     {"SSL_CERT_DIR", folder.path().string()}}));
    ASSERT_TRUE(roots);
    EXPECT_EQ(roots->certificates, (std::vector<Der>{good}));
    ASSERT_EQ(roots->errors.size(), 2u);
    EXPECT_NE(roots->errors[0].find("missing.pem"), std::string::npos) << roots->errors[0];
    EXPECT_NE(roots->errors[1].find("22222222.0"), std::string::npos) << roots->errors[1];

    const auto no_folder =
        kov::read_system_roots(environment({{"SSL_CERT_DIR", (folder.path() / "none").string()}}));
    ASSERT_TRUE(no_folder);
    EXPECT_TRUE(no_folder->certificates.empty());
    EXPECT_EQ(no_folder->errors.size(), 1u);
}

TEST(SystemRoots, ErrorTextsReportedWhenEveryRootIsRefused) {
    const TempFolder folder;
    // An empty section reads fine and is refused by the TLS layer.
    const fs::path bundle =
        folder.file("bundle.pem", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
    const auto roots = kov::read_system_roots(environment(
        {{"SSL_CERT_FILE", bundle.string()}, {"SSL_CERT_DIR", (folder.path() / "none").string()}}));
    ASSERT_TRUE(roots);
    ASSERT_EQ(roots->errors.size(), 1u);
    const auto trust = kov::build_trust_store({}, *roots);
    ASSERT_FALSE(trust);
    EXPECT_EQ(trust.error().cause, roots->errors[0] + "\n");
}

TEST(SystemRoots, WithoutVariablesTheDistributionBundleStandsIn) {
    const fs::path bundle = "/etc/ssl/certs/ca-certificates.crt";
    if (!fs::exists(bundle)) {
        GTEST_SKIP() << "no distribution bundle on this machine";
    }
    const auto roots = kov::read_system_roots(environment({}));
    ASSERT_TRUE(roots);
    EXPECT_FALSE(roots->certificates.empty());
    EXPECT_TRUE(roots->errors.empty());
    const auto trust = kov::build_trust_store({}, *roots);
    ASSERT_TRUE(trust) << trust.error().cause;
    EXPECT_GT(trust->anchors().size(), built_in().size());
}

TEST(ProcessEnvironment, TellsEmptyFromUnset) {
    ASSERT_EQ(::setenv("SSL_CERT_FILE", "", 1), 0);
    ASSERT_EQ(::unsetenv("SSL_CERT_DIR"), 0);
    EXPECT_EQ(kov::process_environment("SSL_CERT_FILE"), std::optional<std::string>(""));
    EXPECT_EQ(kov::process_environment("SSL_CERT_DIR"), std::nullopt);
    const auto roots = kov::read_system_roots(kov::process_environment);
    ASSERT_TRUE(roots);
    EXPECT_TRUE(roots->certificates.empty());
}

} // namespace
