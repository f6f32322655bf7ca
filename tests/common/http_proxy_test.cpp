// The HTTP client through loopback proxies: tunnels for https, forwarding for http.
#include "http_test_support.hpp"
#include "temp_folder.hpp"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace kov_test;
using kov::ClientErrorKind;

// A proxy for one test, with the request heads it received.
struct Proxy {
    explicit Proxy(std::vector<std::string> arguments = {})
        : log(folder.path() / "heads.log"), process("proxy_server.py", with_log(arguments, log)) {}

    static std::vector<std::string> with_log(std::vector<std::string> arguments,
                                             const std::filesystem::path& log) {
        arguments.insert(arguments.begin(), {"--log", log.string()});
        return arguments;
    }
    std::string heads() const {
        std::ifstream file(log);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // "http://[user-info@]127.0.0.1:PORT"
    std::string address(const std::string& user_info = "") const {
        return "http://" + user_info + "127.0.0.1:" + std::to_string(process.port());
    }

    test::TempFolder folder;
    std::filesystem::path log;
    ServerProcess process;
};

class HttpProxyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        plain_ = new ServerProcess("http_test_server.py");
        tls_folder_ = new test::TempFolder;
        secure_ =
            new ServerProcess("http_test_server.py", {"--tls-dir", tls_folder_->path().string()});
    }
    static void TearDownTestSuite() {
        delete plain_;
        delete secure_;
        delete tls_folder_;
    }
    static kov::HttpClient client_with(std::map<std::string, std::string> env) {
        ClientSetup setup;
        env.emplace("SSL_CERT_FILE", "");
        setup.env = std::move(env);
        setup.ca = secure_->ca_pem();
        setup.limit = 3s;
        return make_client(setup);
    }
    static ServerProcess* plain_;
    static ServerProcess* secure_;
    static test::TempFolder* tls_folder_;
};
ServerProcess* HttpProxyTest::plain_ = nullptr;
ServerProcess* HttpProxyTest::secure_ = nullptr;
test::TempFolder* HttpProxyTest::tls_folder_ = nullptr;

TEST_F(HttpProxyTest, HttpsGoesThroughATunnelWithBasicCredentials) {
    Proxy proxy({"--auth", "user:pa ss"});
    const auto client = client_with({{"HTTPS_PROXY", proxy.address("user:pa%20ss@")}});
    const auto echo = fetch(client, secure_->url("/echo"));
    ASSERT_TRUE(echo) << kov::debug_form(echo.error());
    // The origin sees neither the proxy's credentials nor anything of the tunnel.
    EXPECT_EQ(lines_of(*echo).at(0), "GET /echo HTTP/1.1");
    EXPECT_TRUE(headers_named(*echo, "Proxy-Authorization").empty());

    const std::string host = "127.0.0.1:" + std::to_string(secure_->port());
    const auto heads = proxy.heads();
    EXPECT_EQ(lines_of(heads).at(0), "CONNECT " + host + " HTTP/1.1");
    EXPECT_EQ(headers_named(heads, "Host"), std::vector<std::string>{host});
    EXPECT_EQ(headers_named(heads, "Proxy-Authorization"),
              std::vector<std::string>{"Basic dXNlcjpwYSBzcw=="}); // user:pa ss
    EXPECT_TRUE(headers_named(heads, "Proxy-Connection").empty()) << heads;
}

TEST_F(HttpProxyTest, HttpGoesToTheProxyWithItsCredentialsUnlessTheRequestHasSome) {
    Proxy proxy;
    const auto client = client_with({{"HTTP_PROXY", proxy.address("user:secret@")}});
    const std::string address = plain_->url("/echo");
    struct Case {
        std::optional<std::string> own;
        std::string want;
    };
    for (const Case& c :
         {Case{std::nullopt, "Basic dXNlcjpzZWNyZXQ="}, Case{"Basic b3du", "Basic b3du"}}) {
        auto request = client.get(address);
        if (c.own) {
            request.header("Proxy-Authorization", *c.own);
        }
        auto response = std::move(request).send();
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        const auto seen = response->read_to_end(std::chrono::steady_clock::now() + 3s);
        ASSERT_TRUE(seen);
        EXPECT_EQ(lines_of(*seen).at(0), "GET " + address + " HTTP/1.1");
        EXPECT_EQ(headers_named(*seen, "Proxy-Authorization"), std::vector<std::string>{c.want});
        EXPECT_TRUE(headers_named(*seen, "Proxy-Connection").empty()) << *seen;
    }
}

TEST_F(HttpProxyTest, NoProxyHostsAndUnlistedSchemesGoDirect) {
    Proxy proxy;
    const std::map<std::string, std::string> env = {{"HTTP_PROXY", proxy.address()},
                                                    {"NO_PROXY", "127.0.0.1"}};
    const auto echo = fetch(client_with(env), plain_->url("/echo"));
    ASSERT_TRUE(echo) << kov::debug_form(echo.error());
    EXPECT_EQ(lines_of(*echo).at(0), "GET /echo HTTP/1.1");

    const auto secure =
        fetch(client_with({{"HTTP_PROXY", proxy.address()}}), secure_->url("/echo"));
    ASSERT_TRUE(secure) << kov::debug_form(secure.error());
    EXPECT_TRUE(proxy.heads().empty()) << proxy.heads();
}

TEST_F(HttpProxyTest, TheProcessEnvironmentIsReadOnlyThroughTheClientsLookup) {
    Proxy proxy;
    // curl would take these itself if it were let.
    setenv("http_proxy", "http://127.0.0.1:9", 1);
    setenv("NO_PROXY", "*", 1);
    const auto direct = fetch(client_with({}), plain_->url("/echo"));
    const auto proxied =
        fetch(client_with({{"HTTP_PROXY", proxy.address()}}), plain_->url("/echo"));
    unsetenv("http_proxy");
    unsetenv("NO_PROXY");
    ASSERT_TRUE(direct) << kov::debug_form(direct.error());
    EXPECT_EQ(lines_of(*direct).at(0), "GET /echo HTTP/1.1");
    ASSERT_TRUE(proxied) << kov::debug_form(proxied.error());
    EXPECT_EQ(lines_of(*proxied).at(0), "GET " + plain_->url("/echo") + " HTTP/1.1");
}

TEST_F(HttpProxyTest, ProxyValuesAreTakenWhenTheyParseAsAddresses) {
    Proxy proxy;
    const std::string port = std::to_string(proxy.process.port());
    const std::string address = plain_->url("/echo");
    const auto through_proxy = [&](const kov::HttpClient& client) {
        const auto seen = fetch(client, address);
        ASSERT_TRUE(seen) << kov::debug_form(seen.error());
        EXPECT_EQ(lines_of(*seen).at(0), "GET " + address + " HTTP/1.1");
    };
    // A trailing blank, as the parser removes it from every address.
    through_proxy(client_with({{"ALL_PROXY", "127.0.0.1:" + port + " "}}));
    // A zone is no part of an IPv6 address by the URL rules: the value cannot be used, and the
    // next variable is.
    through_proxy(client_with(
        {{"HTTP_PROXY", "http://[fe80::1%25lo]:" + port}, {"http_proxy", proxy.address()}}));
    // The Internet Settings' server with a trailing blank.
    kov::ClientOptions options;
    options.time_limit = 3s;
    options.environment = environment({{"SSL_CERT_FILE", ""}});
    options.internet_settings = [&port] {
        return std::optional(kov::InternetSettings{1u, "127.0.0.1:" + port + " "});
    };
    auto client = kov::make_http_client(std::nullopt, options);
    ASSERT_TRUE(client) << kov::debug_form(client.error());
    through_proxy(*client);
    EXPECT_EQ(headers_named(proxy.heads(), "Host").size(), 3u) << proxy.heads();
}

TEST_F(HttpProxyTest, TunnelFailuresHaveTheirOwnCauses) {
    struct Case {
        std::vector<std::string> proxy;
        std::string cause;
    };
    const Case cases[] = {
        {{"--mode", "refuse"}, "unsuccessful tunnel"},
        {{"--auth", "user:secret"}, "proxy authentication required"},
        {{"--mode", "huge"}, "proxy headers too long for tunnel"},
        {{"--mode", "eof"}, "unexpected eof while tunneling"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        Proxy proxy(c.proxy);
        const std::string address = secure_->url("/echo");
        const auto response = client_with({{"HTTPS_PROXY", proxy.address()}}).get(address).send();
        ASSERT_FALSE(response);
        EXPECT_EQ(response.error(), (kov::ClientError{ClientErrorKind::Request, address, c.cause}));
    }
}

} // namespace
