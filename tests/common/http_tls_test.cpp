// The HTTP client's TLS settings and trust set against loopback TLS servers.
#include "http_test_support.hpp"
#include "temp_folder.hpp"
#include "test_certificates.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <span>

namespace {

using namespace kov_test;
using kov::ClientErrorKind;
using kov_test::ChainCertificate;
using kov_test::ChainCertificateOptions;

// A TLS server with its own CA, made for one test.
struct TlsServer {
    explicit TlsServer(std::vector<std::string> arguments,
                       const std::string& script = "http_test_server.py")
        : process(script, with_folder(script, std::move(arguments), folder)) {}

    static std::vector<std::string> with_folder(const std::string& script,
                                                std::vector<std::string> arguments,
                                                const test::TempFolder& folder) {
        arguments.insert(arguments.begin(), {script == "h2_server.py" ? "--dir" : "--tls-dir",
                                             folder.path().string()});
        return arguments;
    }

    test::TempFolder folder;
    ServerProcess process;
};

kov::HttpClient client_trusting(const std::string& ca, std::chrono::nanoseconds limit = 5s) {
    ClientSetup setup;
    setup.ca = ca;
    setup.limit = limit;
    return make_client(setup);
}

TEST(HttpTlsTest, SpeaksTls13And12OnlyWithTheListedSuites) {
    struct Case {
        std::vector<std::string> server;
        bool served;
    };
    const Case cases[] = {
        {{}, true},
        {{"--tls-min", "1.3"}, true},
        {{"--tls-max", "1.2"}, true},
        {{"--tls-max", "1.2", "--tls-ciphers", "ECDHE-ECDSA-CHACHA20-POLY1305"}, true},
        {{"--tls-max", "1.2", "--key-type", "rsa", "--tls-ciphers", "ECDHE-RSA-AES128-GCM-SHA256"},
         true},
        {{"--tls-min", "1.1", "--tls-max", "1.1"}, false},
        // Suites outside the list: CBC, and RSA key exchange without forward secrecy.
        {{"--tls-max", "1.2", "--tls-ciphers", "ECDHE-ECDSA-AES128-SHA256"}, false},
        {{"--tls-max", "1.2", "--key-type", "rsa", "--tls-ciphers", "AES256-GCM-SHA384"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.server));
        TlsServer server(c.server);
        const auto client = client_trusting(server.process.ca_pem());
        const std::string address = server.process.url("/echo");
        const auto body = fetch(client, address);
        if (c.served) {
            ASSERT_TRUE(body) << kov::debug_form(body.error());
            EXPECT_EQ(lines_of(*body).at(0), "GET /echo HTTP/1.1");
        } else {
            ASSERT_FALSE(body);
            EXPECT_EQ(body.error().kind, ClientErrorKind::Request);
            EXPECT_EQ(body.error().url, address);
            EXPECT_FALSE(body.error().cause.empty());
        }
    }
}

TEST(HttpTlsTest, SendsTheHostNameAndChecksItAgainstTheCertificate) {
    // The certificate names 127.0.0.1 only.
    TlsServer server({"--tls-hosts", "127.0.0.1"});
    const auto client = client_trusting(server.process.ca_pem());
    const auto by_address = fetch(client, server.process.url("/echo"));
    ASSERT_TRUE(by_address) << kov::debug_form(by_address.error());
    EXPECT_TRUE(headers_named(*by_address, "sni").empty()) << "no name to send for an address";

    const auto by_name = fetch(client, server.process.url("/echo", "localhost"));
    ASSERT_FALSE(by_name);
    EXPECT_EQ(by_name.error().kind, ClientErrorKind::Request);

    TlsServer named({"--tls-hosts", "localhost"});
    const auto sni =
        fetch(client_trusting(named.process.ca_pem()), named.process.url("/echo", "localhost"));
    ASSERT_TRUE(sni) << kov::debug_form(sni.error());
    EXPECT_EQ(headers_named(*sni, "sni"), std::vector<std::string>{"localhost"});
}

TEST(HttpTlsTest, TrustsTheExtraRootsAndTheSystemRootsOnly) {
    TlsServer server({});
    TlsServer other({});
    const std::string address = server.process.url("/echo");
    EXPECT_TRUE(fetch(client_trusting(server.process.ca_pem()), address));
    EXPECT_FALSE(fetch(client_trusting(other.process.ca_pem()), address));
    EXPECT_FALSE(fetch(make_client(), address)) << "trusted without any root";

    // A system root, through SSL_CERT_FILE.
    ClientSetup system;
    system.env = {
        {"SSL_CERT_FILE", server.folder.file("roots.pem", server.process.ca_pem()).string()}};
    const auto by_system_root = fetch(make_client(system), address);
    EXPECT_TRUE(by_system_root) << kov::debug_form(by_system_root.error());
}

TEST(HttpTlsTest, AnExtraRootThatIsNotSelfSignedIsAnAnchorOfItsOwn) {
    // The server sends its leaf and the intermediate; the client trusts the intermediate alone.
    TlsServer server({"--intermediate"});
    const auto body = fetch(client_trusting(server.process.ca_pem()), server.process.url("/echo"));
    EXPECT_TRUE(body) << kov::debug_form(body.error());
}

// A TLS server that presents a chain the test made: the server certificate first, then what it
// sends along.
struct ChainServer {
    explicit ChainServer(const std::vector<const ChainCertificate*>& chain) {
        std::string pem;
        for (const ChainCertificate* certificate : chain) {
            pem += certificate->pem();
        }
        const auto chain_file = folder.file("chain.pem", pem);
        const auto key_file = folder.file("key.pem", chain.front()->key_pem());
        process.emplace("http_test_server.py",
                        std::vector<std::string>{"--tls-dir", folder.path().string(), "--tls-chain",
                                                 chain_file.string(), "--tls-key",
                                                 key_file.string()});
    }

    test::TempFolder folder;
    std::optional<ServerProcess> process;
};

std::string pem_of(const std::vector<const ChainCertificate*>& certificates) {
    std::string pem;
    for (const ChainCertificate* certificate : certificates) {
        pem += certificate->pem();
    }
    return pem;
}

ChainCertificateOptions with(ChainCertificateOptions options,
                             const std::function<void(ChainCertificateOptions&)>& change) {
    change(options);
    return options;
}

ChainCertificateOptions expired(ChainCertificateOptions options) {
    return with(std::move(options), [](auto& o) {
        o.valid_from_days = -20;
        o.valid_until_days = -10;
    });
}

constexpr const char* LOOPBACK_NAMES = "IP:127.0.0.1,DNS:localhost";

struct TrustCase {
    const char* name;
    std::vector<const ChainCertificate*> served;
    std::vector<const ChainCertificate*> ca;
    bool trusted;
};

// Each server chain fetched by a client that trusts the case's extra roots.
void expect_trust(std::span<const TrustCase> cases) {
    for (const TrustCase& c : cases) {
        SCOPED_TRACE(c.name);
        ChainServer server(c.served);
        const std::string address = server.process->url("/echo");
        const auto body = fetch(client_trusting(pem_of(c.ca)), address);
        if (body.has_value() != c.trusted) {
            ADD_FAILURE() << (body ? "trusted" : kov::debug_form(body.error()));
        } else if (body) {
            EXPECT_EQ(lines_of(*body).at(0), "GET /echo HTTP/1.1");
        } else {
            EXPECT_EQ(body.error().kind, ClientErrorKind::Request);
            EXPECT_EQ(body.error().url, address);
            EXPECT_FALSE(body.error().cause.empty());
        }
    }
}

ChainCertificate leaf_of(const ChainCertificate& issuer) {
    return ChainCertificate::make(server_options("127.0.0.1", LOOPBACK_NAMES), &issuer);
}

// A trust anchor is its subject, public key and name constraints: its own dates, CA bit, key
// usages and path length do not count.
TEST(HttpTlsTest, AnAnchorIsItsNameAndKey) {
    const auto root = ChainCertificate::make(root_options("Root"));
    const auto expired_root = ChainCertificate::make(expired(root_options("Expired Root")));
    const auto future_root = ChainCertificate::make(
        with(root_options("Future Root"), [](auto& o) { o.valid_from_days = 10; }));
    const auto not_ca_root = ChainCertificate::make(with(
        root_options("CA:FALSE Root"), [](auto& o) { o.basic_constraints = "critical,CA:FALSE"; }));
    const auto bare_root = ChainCertificate::make(with(root_options("Bare Root"), [](auto& o) {
        o.basic_constraints.reset();
        o.key_usage.reset();
    }));
    const auto no_cert_sign_root =
        ChainCertificate::make(with(root_options("No keyCertSign Root"),
                                    [](auto& o) { o.key_usage = "critical,digitalSignature"; }));
    const auto client_only_root = ChainCertificate::make(with(
        root_options("clientAuth Root"), [](auto& o) { o.extended_key_usage = "clientAuth"; }));
    const auto path_zero_root =
        ChainCertificate::make(with(root_options("pathlen:0 Root"), [](auto& o) {
            o.basic_constraints = "critical,CA:TRUE,pathlen:0";
        }));
    const auto below_path_zero =
        ChainCertificate::make(intermediate_options("Below pathlen:0"), &path_zero_root);
    const auto expired_intermediate =
        ChainCertificate::make(expired(intermediate_options("Expired Intermediate")), &root);
    const auto leaf = leaf_of(root);
    const auto leaf_of_expired = leaf_of(expired_root);
    const auto leaf_of_future = leaf_of(future_root);
    const auto leaf_of_not_ca = leaf_of(not_ca_root);
    const auto leaf_of_bare = leaf_of(bare_root);
    const auto leaf_of_no_cert_sign = leaf_of(no_cert_sign_root);
    const auto leaf_of_client_only = leaf_of(client_only_root);
    const auto leaf_below_path_zero = leaf_of(below_path_zero);
    const auto leaf_of_expired_intermediate = leaf_of(expired_intermediate);
    const TrustCase cases[] = {
        {"root", {&leaf}, {&root}, true},
        {"expired root", {&leaf_of_expired}, {&expired_root}, true},
        {"root not yet valid", {&leaf_of_future}, {&future_root}, true},
        {"CA:FALSE root", {&leaf_of_not_ca}, {&not_ca_root}, true},
        {"root without basic constraints and key usage", {&leaf_of_bare}, {&bare_root}, true},
        {"root without keyCertSign", {&leaf_of_no_cert_sign}, {&no_cert_sign_root}, true},
        {"root for clientAuth only", {&leaf_of_client_only}, {&client_only_root}, true},
        {"root's path length", {&leaf_below_path_zero, &below_path_zero}, {&path_zero_root}, true},
        {"expired intermediate as anchor",
         {&leaf_of_expired_intermediate},
         {&expired_intermediate},
         true},
        // Sent by the server, the same intermediate is checked in full.
        {"expired intermediate sent",
         {&leaf_of_expired_intermediate, &expired_intermediate},
         {&root},
         false},
    };
    expect_trust(cases);
}

// Everything below the anchor is checked in full: dates, CA bit, key usage, extended key usage;
// and the anchor's name constraints hold.
TEST(HttpTlsTest, TheChainBelowTheAnchorIsCheckedInFull) {
    const auto root = ChainCertificate::make(root_options("Root"));
    const auto intermediate = ChainCertificate::make(intermediate_options("Intermediate"), &root);
    const auto not_ca_intermediate =
        ChainCertificate::make(with(intermediate_options("CA:FALSE Intermediate"),
                                    [](auto& o) { o.basic_constraints = "critical,CA:FALSE"; }),
                               &root);
    const auto no_cert_sign_intermediate =
        ChainCertificate::make(with(intermediate_options("No keyCertSign Intermediate"),
                                    [](auto& o) { o.key_usage = "critical,digitalSignature"; }),
                               &root);
    const auto client_only_intermediate =
        ChainCertificate::make(with(intermediate_options("clientAuth Intermediate"),
                                    [](auto& o) { o.extended_key_usage = "clientAuth"; }),
                               &root);
    const auto expired_leaf =
        ChainCertificate::make(expired(server_options("127.0.0.1", LOOPBACK_NAMES)), &root);
    const auto client_only_leaf =
        ChainCertificate::make(with(server_options("127.0.0.1", LOOPBACK_NAMES),
                                    [](auto& o) { o.extended_key_usage = "clientAuth"; }),
                               &root);
    const auto permitting_root =
        ChainCertificate::make(with(expired(root_options("Permitting Root")), [](auto& o) {
            o.name_constraints = "critical,permitted;IP:127.0.0.1/255.255.255.255,"
                                 "permitted;DNS:localhost";
        }));
    const auto excluding_root =
        ChainCertificate::make(with(expired(root_options("Excluding Root")), [](auto& o) {
            o.name_constraints = "critical,excluded;IP:127.0.0.0/255.0.0.0";
        }));
    const auto leaf_of_intermediate = leaf_of(intermediate);
    const auto leaf_of_not_ca = leaf_of(not_ca_intermediate);
    const auto leaf_of_no_cert_sign = leaf_of(no_cert_sign_intermediate);
    const auto leaf_of_client_only = leaf_of(client_only_intermediate);
    const auto leaf_of_permitting = leaf_of(permitting_root);
    const auto leaf_of_excluding = leaf_of(excluding_root);
    const TrustCase cases[] = {
        {"intermediate", {&leaf_of_intermediate, &intermediate}, {&root}, true},
        {"CA:FALSE intermediate", {&leaf_of_not_ca, &not_ca_intermediate}, {&root}, false},
        {"intermediate without keyCertSign",
         {&leaf_of_no_cert_sign, &no_cert_sign_intermediate},
         {&root},
         false},
        {"intermediate for clientAuth only",
         {&leaf_of_client_only, &client_only_intermediate},
         {&root},
         false},
        {"expired server certificate", {&expired_leaf}, {&root}, false},
        {"server certificate for clientAuth only", {&client_only_leaf}, {&root}, false},
        {"name constraints permit", {&leaf_of_permitting}, {&permitting_root}, true},
        {"name constraints exclude", {&leaf_of_excluding}, {&excluding_root}, false},
    };
    expect_trust(cases);
}

// A certificate of the trust set vouches for what it issued: a server certificate that is not
// self-signed is no anchor of its own, a self-signed one issued itself and is checked in full.
TEST(HttpTlsTest, AnAnchorMustIssueTheChain) {
    const auto root = ChainCertificate::make(root_options("Root"));
    const auto leaf = leaf_of(root);
    const auto self_signed = ChainCertificate::make(server_options("127.0.0.1", LOOPBACK_NAMES));
    const auto expired_self_signed =
        ChainCertificate::make(expired(server_options("127.0.0.1", LOOPBACK_NAMES)));
    const TrustCase cases[] = {
        {"server certificate as extra root", {&leaf}, {&leaf}, false},
        {"server certificate and its root", {&leaf}, {&leaf, &root}, true},
        {"self-signed server certificate", {&self_signed}, {&self_signed}, true},
        {"expired self-signed server certificate",
         {&expired_self_signed},
         {&expired_self_signed},
         false},
    };
    expect_trust(cases);
}

// The system roots are anchors by the same rules: an expired one still vouches for a chain.
TEST(HttpTlsTest, AnExpiredSystemRootIsAnAnchor) {
    const auto root = ChainCertificate::make(expired(root_options("Expired System Root")));
    const auto leaf = ChainCertificate::make(server_options("127.0.0.1", LOOPBACK_NAMES), &root);
    ChainServer server({&leaf});
    ClientSetup system;
    system.env = {{"SSL_CERT_FILE", server.folder.file("roots.pem", root.pem()).string()}};
    const auto body = fetch(make_client(system), server.process->url("/echo"));
    EXPECT_TRUE(body) << kov::debug_form(body.error());
}

// Only subjectAltName DNS and IP entries name the server, never the common name: a certificate
// without such entries fails like one for another host, over an address and over a name.
TEST(HttpTlsTest, TheCommonNameNeverNamesTheServer) {
    const auto root = ChainCertificate::make(root_options("Root"));
    // The cause of a refusal: ours where the HTTP library would fall back to the common name,
    // else the library's own.
    constexpr const char* no_names = "hostname mismatch";
    constexpr const char* other_names = "no alternative certificate subject name matches";
    struct Case {
        const char* common_name;
        std::optional<std::string> alt_names;
        const char* host;
        const char* refusal;
    };
    const Case cases[] = {
        {"127.0.0.1", std::nullopt, "127.0.0.1", no_names},
        {"localhost", std::nullopt, "localhost", no_names},
        {"127.0.0.1", "email:server@example.test", "127.0.0.1", no_names},
        {"localhost", "URI:https://localhost/", "localhost", no_names},
        {"localhost", "IP:127.0.0.1", "localhost", other_names},
        {"127.0.0.1", "DNS:localhost", "127.0.0.1", other_names},
        {"another name", "IP:127.0.0.1", "127.0.0.1", nullptr},
        {"another name", "DNS:localhost", "localhost", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.common_name) + " " + c.alt_names.value_or("-") + " " + c.host);
        const auto leaf = ChainCertificate::make(server_options(c.common_name, c.alt_names), &root);
        ChainServer server({&leaf});
        const std::string address = server.process->url("/echo", c.host);
        const auto body = fetch(client_trusting(root.pem()), address);
        if (body.has_value() != (c.refusal == nullptr)) {
            ADD_FAILURE() << (body ? "trusted" : kov::debug_form(body.error()));
        } else if (!body) {
            EXPECT_EQ(body.error().kind, ClientErrorKind::Request);
            EXPECT_EQ(body.error().url, address);
            EXPECT_NE(body.error().cause.find(c.refusal), std::string::npos) << body.error().cause;
        }
    }
}

TEST(HttpTlsTest, EmptyCertificateSectionFailsTheBuild) {
    kov::ClientOptions options;
    options.environment = environment();
    const auto client =
        kov::make_http_client("-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n", options);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error().kind, ClientErrorKind::Builder);
    EXPECT_FALSE(client.error().cause.empty());

    const auto bad_pem = kov::make_http_client("-----BEGIN CERTIFICATE----\n", options);
    ASSERT_FALSE(bad_pem);
    EXPECT_EQ(bad_pem.error(), (kov::ClientError{ClientErrorKind::Builder, std::nullopt,
                                                 "invalid certificate encoding"}));
}

TEST(HttpTlsTest, SpeaksHttp2WhenTheServerSelectsIt) {
    // nghttpd speaks nothing but HTTP/2.
    TlsServer server({}, "h2_server.py");
    const auto client = client_trusting(server.process.ca_pem());
    const auto hello = fetch(client, server.process.url("/hello.txt"));
    ASSERT_TRUE(hello) << kov::debug_form(hello.error());
    EXPECT_EQ(*hello, "hello over h2\n");

    // A body bigger than what is kept unread: the stream is paused and resumed.
    auto big = client.get(server.process.url("/big.bin")).send();
    ASSERT_TRUE(big) << kov::debug_form(big.error());
    EXPECT_EQ(big->content_length(), 3u * 1024 * 1024);
    const auto body = read_all(*big, 1000);
    ASSERT_TRUE(body) << kov::debug_form(body.error());
    ASSERT_EQ(body->size(), 3u * 1024 * 1024);
    for (std::size_t i = 0; i < body->size(); i += 4099) {
        ASSERT_EQ(static_cast<unsigned char>((*body)[i]), i % 256) << i;
    }
}

} // namespace
