// The HTTP client's TLS settings and trust set against loopback TLS servers.
#include "http_test_support.hpp"
#include "temp_folder.hpp"

#include <gtest/gtest.h>

namespace {

using namespace kov_test;
using kov::ClientErrorKind;

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
