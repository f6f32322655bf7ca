// The HTTP client against a loopback server: requests, bodies, limits and misbehaving servers.
#include "http_test_support.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace {

using namespace kov_test;
using kov::ClientErrorKind;

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new ServerProcess("http_test_server.py"); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static std::string url(const std::string& path) { return server_->url(path); }
    static ServerProcess* server_;
};
ServerProcess* HttpClientTest::server_ = nullptr;

std::string pattern(std::size_t n) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>(i % 256);
    }
    return out;
}

TEST_F(HttpClientTest, ReadsBodyWithAndWithoutAnnouncedLength) {
    const auto client = make_client();
    for (const bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "with length");
        auto response =
            client.get(url(std::string("/bytes?n=300000") + (chunked ? "&chunked=1" : ""))).send();
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        EXPECT_EQ(response->status(), 200);
        EXPECT_EQ(response->content_length(),
                  chunked ? std::nullopt : std::optional<std::uint64_t>(300000));
        const auto body = read_all(*response, 7000);
        ASSERT_TRUE(body) << kov::debug_form(body.error());
        EXPECT_EQ(*body, pattern(300000));
        // The end stays the end.
        std::byte one[1];
        EXPECT_EQ(response->read(one), 0u);
    }
}

TEST_F(HttpClientTest, ReadToEndGathersTheWholeBody) {
    const auto client = make_client();
    auto response = client.get(url("/bytes?n=1000000&chunked=1")).send();
    ASSERT_TRUE(response);
    const auto body = response->read_to_end(std::chrono::steady_clock::now() + 5s);
    ASSERT_TRUE(body) << kov::debug_form(body.error());
    EXPECT_EQ(*body, pattern(1000000));
}

TEST_F(HttpClientTest, SendsDefaultAcceptOnlyWithoutOneOfItsOwnAndNoAgentOrEncoding) {
    const auto client = make_client();
    struct Case {
        std::optional<std::string> accept;
        std::vector<std::string> want;
    };
    for (const Case& c :
         {Case{std::nullopt, {"*/*"}}, Case{"application/json", {"application/json"}}}) {
        auto request = client.get(url("/echo"));
        if (c.accept) {
            request.header("Accept", *c.accept);
        }
        auto response = std::move(request).send();
        ASSERT_TRUE(response);
        const auto echo = response->read_to_end(std::chrono::steady_clock::now() + 5s);
        ASSERT_TRUE(echo);
        EXPECT_EQ(headers_named(*echo, "Accept"), c.want) << *echo;
        EXPECT_TRUE(headers_named(*echo, "User-Agent").empty()) << *echo;
        EXPECT_TRUE(headers_named(*echo, "Accept-Encoding").empty()) << *echo;
    }
}

TEST_F(HttpClientTest, StatusCheckRefusesFourHundredToFiveNinetyNine) {
    const auto client = make_client();
    for (const int code : {200, 204, 399, 400, 404, 500, 599, 600}) {
        SCOPED_TRACE(code);
        const std::string address = url("/status?code=" + std::to_string(code));
        auto response = client.get(address).send();
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        EXPECT_EQ(response->status(), code);
        const auto checked = response->check_status();
        if (code >= 400 && code <= 599) {
            ASSERT_FALSE(checked);
            EXPECT_EQ(checked.error().kind, ClientErrorKind::Status);
            EXPECT_EQ(checked.error().status, code);
            EXPECT_EQ(checked.error().url, address);
        } else {
            EXPECT_TRUE(checked);
        }
    }
}

TEST_F(HttpClientTest, AddressFaultsSurfaceAtTheSend) {
    const auto client = make_client();
    struct Case {
        std::string address;
        std::optional<std::string> url; // in the error
        std::optional<std::string> cause;
    };
    const Case cases[] = {
        {"not an address", std::nullopt, std::nullopt},
        {"http://127.0.0.1:99999/", std::nullopt, std::nullopt},
        {"mailto:someone@example.com", "mailto:someone@example.com", "URL scheme is not allowed"},
        {"file:///etc/hosts", "file:///etc/hosts", "URL scheme is not allowed"},
        // The scheme is checked at the send, after the pair has been added.
        {"ftp://127.0.0.1/x", "ftp://127.0.0.1/x?k=v", "URL scheme is not allowed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        // Later additions to a failed request change nothing.
        auto response =
            std::move(client.get(c.address).header("Accept", "x").append_query_pair("k", "v"))
                .send();
        ASSERT_FALSE(response);
        EXPECT_EQ(response.error().kind, ClientErrorKind::Builder);
        EXPECT_EQ(response.error().url, c.url);
        EXPECT_FALSE(response.error().cause.empty());
        if (c.cause) {
            EXPECT_EQ(response.error().cause, *c.cause);
        }
    }
}

TEST_F(HttpClientTest, HeaderValuesAreCheckedByteForByte) {
    const auto client = make_client();
    struct Case {
        std::string value;
        bool valid;
    };
    const Case cases[] = {
        {"en-US", true},         {"tab\there", true},
        {"caf\xC3\xA9", true},   {"", true},
        {"bell\x07", false},     {"del\x7F", false},
        {"line\r\nX: y", false}, {std::string("nul\0x", 5), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        auto response =
            std::move(client.get(url("/echo")).header("Accept-Language", c.value)).send();
        if (!c.valid) {
            ASSERT_FALSE(response);
            EXPECT_EQ(response.error().kind, ClientErrorKind::Builder);
            continue;
        }
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        const auto echo = response->read_to_end(std::chrono::steady_clock::now() + 5s);
        ASSERT_TRUE(echo);
        EXPECT_EQ(headers_named(*echo, "Accept-Language"), std::vector<std::string>{c.value});
    }
}

TEST_F(HttpClientTest, QueryPairIsAppendedAfterTheQueryAndBeforeTheFragment) {
    const auto client = make_client();
    struct Case {
        std::string path;
        bool silent;
        std::string target; // as the server receives it
    };
    const std::string pair = "is_silent_mode_requested=true";
    const Case cases[] = {
        {"/echo", true, "/echo?" + pair},
        {"/echo?a=1", true, "/echo?a=1&" + pair},
        {"/echo?", true, "/echo?" + pair},
        {"/echo?a&", true, "/echo?a&&" + pair},
        {"/echo#part", true, "/echo?" + pair},
        {"/echo?" + pair, true, "/echo?" + pair + "&" + pair},
        {"/echo?", false, "/echo?"},
        {"/echo?a=1#part", false, "/echo?a=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto request = client.get(url(c.path));
        if (c.silent) {
            request.append_query_pair("is_silent_mode_requested", "true");
        }
        const auto echo = [&] {
            auto response = std::move(request).send();
            EXPECT_TRUE(response);
            return response->read_to_end(std::chrono::steady_clock::now() + 5s).value_or("");
        }();
        EXPECT_EQ(lines_of(echo).at(0), "GET " + c.target + " HTTP/1.1");
    }
    // Key and value are form-urlencoded.
    auto response =
        std::move(client.get(url("/echo")).append_query_pair("a b&c", "\xC3\xA9/~")).send();
    ASSERT_TRUE(response);
    const auto echo = response->read_to_end(std::chrono::steady_clock::now() + 5s);
    EXPECT_EQ(lines_of(*echo).at(0), "GET /echo?a+b%26c=%C3%A9%2F%7E HTTP/1.1");
}

TEST_F(HttpClientTest, UserInformationBecomesBasicCredentialsBeforeOtherHeaders) {
    const auto client = make_client();
    struct Case {
        std::string user_info;
        std::optional<std::string> authorization;
    };
    const Case cases[] = {
        {"user:pa%20ss@", "Basic dXNlcjpwYSBzcw=="}, // user:pa ss
        {"user@", "Basic dXNlcjo="},                 // user:
        {":secret@", "Basic OnNlY3JldA=="},          // :secret
        {"@", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user_info);
        const std::string address =
            "http://" + c.user_info + "127.0.0.1:" + std::to_string(server_->port()) + "/echo";
        auto response = std::move(client.get(address).header("Accept", "application/json")).send();
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        EXPECT_EQ(response->url().find('@'), std::string::npos) << response->url();
        const auto echo = response->read_to_end(std::chrono::steady_clock::now() + 5s);
        const auto lines = lines_of(*echo);
        if (!c.authorization) {
            EXPECT_TRUE(headers_named(*echo, "Authorization").empty());
            continue;
        }
        EXPECT_EQ(headers_named(*echo, "Authorization"),
                  std::vector<std::string>{*c.authorization});
        const auto at = [&](const std::string& prefix) {
            return std::find_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.starts_with(prefix); });
        };
        EXPECT_LT(at("Authorization:"), at("Accept:"));
    }
}

TEST_F(HttpClientTest, IdleConnectionIsReused) {
    const auto client = make_client();
    const auto first = fetch(client, url("/connection"));
    const auto second = fetch(client, url("/connection"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, *second);
    // Another client has connections of its own.
    const auto other = fetch(make_client(), url("/connection"));
    ASSERT_TRUE(other);
    EXPECT_NE(*other, *first);
}

TEST_F(HttpClientTest, ReleasingAResponseMidBodyLeavesTheClientUsable) {
    const auto client = make_client();
    {
        auto response = client.get(url("/bytes?n=5000000")).send();
        ASSERT_TRUE(response);
        std::vector<std::byte> buffer(1000);
        ASSERT_TRUE(response->read(buffer));
    }
    const auto echo = fetch(client, url("/echo"));
    ASSERT_TRUE(echo);
    EXPECT_EQ(lines_of(*echo).at(0), "GET /echo HTTP/1.1");
}

TEST_F(HttpClientTest, HeadAfterTheLimitFailsTheSend) {
    const auto client = make_client(1s);
    const std::string late = url("/slow-head?ms=1500");
    const auto response = client.get(late).send();
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error(),
              (kov::ClientError{ClientErrorKind::Request, late, "operation timed out"}));
    // The limit covers the redirects too; its failure names the address asked for.
    const std::string redirected = url("/location?code=302&to=%2Fslow-head%3Fms%3D1500");
    const auto after_redirect = client.get(redirected).send();
    ASSERT_FALSE(after_redirect);
    EXPECT_EQ(after_redirect.error(),
              (kov::ClientError{ClientErrorKind::Request, redirected, "operation timed out"}));
    const auto in_time = fetch(client, url("/slow-head?ms=300"));
    ASSERT_TRUE(in_time);
    EXPECT_EQ(*in_time, "late head");
}

TEST_F(HttpClientTest, EachReadHasItsOwnLimit) {
    const auto client = make_client(1s);
    // Pieces 300 ms apart take longer than the limit in all, but no single read waits that long.
    auto slow = client.get(url("/trickle?pieces=6&ms=300")).send();
    ASSERT_TRUE(slow);
    EXPECT_EQ(read_all(*slow), "xxxxxx");

    // A pause longer than the limit fails the read in progress.
    auto paused = client.get(url("/pause?ms=1500")).send();
    ASSERT_TRUE(paused);
    std::vector<std::byte> buffer(100);
    const auto first = paused->read(buffer);
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), *first), "firs");
    const auto second = paused->read(buffer);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(),
              (kov::ClientError{ClientErrorKind::Decode, std::nullopt, "operation timed out"}));
}

TEST_F(HttpClientTest, ReadToEndKeepsOneDeadline) {
    const auto client = make_client();
    // Data keeps coming, but not all of it before the deadline.
    auto slow = client.get(url("/trickle?pieces=10&ms=200")).send();
    ASSERT_TRUE(slow);
    const auto body = slow->read_to_end(std::chrono::steady_clock::now() + 1s);
    ASSERT_FALSE(body);
    EXPECT_EQ(body.error(),
              (kov::ClientError{ClientErrorKind::Decode, std::nullopt, "operation timed out"}));

    // A body at hand is taken even when the deadline has passed.
    auto ready = client.get(url("/echo")).send();
    ASSERT_TRUE(ready);
    const auto echo = ready->read_to_end(std::chrono::steady_clock::now() - 1s);
    ASSERT_TRUE(echo) << kov::debug_form(echo.error());
    EXPECT_EQ(lines_of(*echo).at(0), "GET /echo HTTP/1.1");
}

TEST_F(HttpClientTest, MisbehavingServersEndWithTheProperError) {
    const auto client = make_client(2s);
    struct Case {
        std::string path;
        ClientErrorKind kind;
        bool at_send;
        std::optional<std::string> cause;
    };
    const Case cases[] = {
        {"/malformed", ClientErrorKind::Request, true, std::nullopt},
        {"/close", ClientErrorKind::Request, true, std::nullopt},
        {"/silent", ClientErrorKind::Request, true, "operation timed out"},
        {"/endless-headers", ClientErrorKind::Request, true, "message head is too large"},
        {"/long-header", ClientErrorKind::Request, true, "message head is too large"},
        {"/short", ClientErrorKind::Body, false, std::nullopt},
        {"/reset", ClientErrorKind::Body, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto response = client.get(url(c.path)).send();
        std::optional<kov::ClientError> error;
        if (!response) {
            error = response.error();
        } else if (auto body = read_all(*response); !body) {
            error = body.error();
        }
        ASSERT_TRUE(error) << "no failure";
        EXPECT_EQ(!response, c.at_send);
        EXPECT_EQ(error->kind, c.kind) << kov::debug_form(*error);
        EXPECT_FALSE(error->cause.empty());
        if (c.cause) {
            EXPECT_EQ(error->cause, *c.cause);
        }
        if (c.at_send) {
            EXPECT_EQ(error->url, url(c.path));
        }
    }
}

// The deadline is not renewed while data keeps coming: a body far too large to arrive in time,
// sent as fast as loopback allows, is cut off.
TEST_F(HttpClientTest, ReadToEndCutsOffABodyThatKeepsComing) {
    const auto client = make_client();
    auto response = client.get(url("/bytes?n=100000000")).send();
    ASSERT_TRUE(response) << kov::debug_form(response.error());
    const auto body = response->read_to_end(std::chrono::steady_clock::now() + 20ms);
    ASSERT_FALSE(body.has_value()) << body->size() << " bytes read";
    EXPECT_EQ(body.error(), (kov::ClientError{ClientErrorKind::Decode, std::nullopt,
                                              std::string(kov::TIMED_OUT)}));
}

// The setup program is started while the download's connection is kept for reuse: a child
// process must not get it.
TEST_F(HttpClientTest, ConnectionsAreNotHandedToChildProcesses) {
    const auto client = make_client();
    auto response = client.get(url("/bytes?n=10")).send();
    ASSERT_TRUE(response) << kov::debug_form(response.error());
    int connections = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        // Network connections only: curl's own wake-up pair is a local one.
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
            (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)) {
            continue;
        }
        ++connections;
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
    }
    EXPECT_EQ(connections, 1);
}

} // namespace
