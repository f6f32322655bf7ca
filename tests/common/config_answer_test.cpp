// Reading the configuration answer from a loopback service: the status decides nothing, the
// whole body is gathered under one deadline, and every failure is a `Decode` error.
#include "http_test_support.hpp"
#include "kov/config_response.hpp"

#include <gtest/gtest.h>
#include <ostream>

namespace kov {

// Test failures show the answer or the client error, not their bytes.
void PrintTo(const std::expected<InstallerConfigResponse, ClientError>& outcome,
             std::ostream* out) {
    if (!outcome) {
        *out << debug_form(outcome.error());
    } else if (const auto* success =
                   std::get_if<InstallerConfigResponse::Success>(&outcome->value)) {
        *out << "Success{prompt: "
             << (success->prompt ? testing::PrintToString(*success->prompt) : "absent")
             << ", config: " << testing::PrintToString(success->config) << "}";
    } else {
        *out << "Error{" << testing::PrintToString(std::get<1>(outcome->value).error) << "}";
    }
}

} // namespace kov

namespace {

using namespace kov_test;
using kov::ClientError;
using kov::ClientErrorKind;
using kov::InstallerConfigResponse;
using Outcome = std::expected<InstallerConfigResponse, ClientError>;

ClientError decode_error(std::string cause) {
    return ClientError{ClientErrorKind::Decode, std::nullopt, std::move(cause)};
}

class ConfigAnswerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new ServerProcess("config_answer_server.py"); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    // A client with the given limit that sees no environment at all.
    static kov::HttpClient client(std::chrono::nanoseconds limit) {
        ClientSetup setup;
        setup.limit = limit;
        setup.env = {};
        return make_client(setup);
    }

    static std::string url(const std::string& path) { return server_->url(path); }

    static Outcome fetch_answer(const kov::HttpClient& with, const std::string& path) {
        auto response = with.get(url(path)).send();
        if (!response) {
            ADD_FAILURE() << kov::debug_form(response.error());
            return std::unexpected(response.error());
        }
        return kov::read_config_response(std::move(*response));
    }

    static Outcome answer(std::uint16_t status, std::string_view body) {
        return fetch_answer(client(5s), "/answer?status=" + std::to_string(status) +
                                            "&body=" + percent_encoded(body));
    }

    static ServerProcess* server_;
};
ServerProcess* ConfigAnswerTest::server_ = nullptr;

TEST_F(ConfigAnswerTest, DecodesWhateverTheStatus) {
    const InstallerConfigResponse error{InstallerConfigResponse::Error{"Service down"}};
    const InstallerConfigResponse success{InstallerConfigResponse::Success{"Go on?", "c=1"}};
    const struct {
        std::uint16_t status;
        std::string body;
        InstallerConfigResponse want;
    } cases[] = {
        {500, R"({"error":"Service down"})", error},
        {200, R"({"error":"Service down"})", error},
        {404, R"({"error":"Service down"})", error},
        {200, R"({"prompt":"Go on?","config":"c=1"})", success},
        {503, R"({"prompt":"Go on?","config":"c=1"})", success},
    };
    for (const auto& c : cases) {
        const Outcome got = answer(c.status, c.body);
        ASSERT_TRUE(got.has_value()) << c.status << " " << kov::debug_form(got.error());
        EXPECT_EQ(*got, c.want) << c.status << " " << c.body;
    }
}

// The JSON failure, with its position where it has one, is the cause of a `Decode` error without
// address.
TEST_F(ConfigAnswerTest, ReportsJsonFailuresAsDecodeErrorsWithPosition) {
    const struct {
        std::uint16_t status;
        std::string body;
        std::string cause;
    } cases[] = {
        {204, "", "EOF while parsing a value at line 1 column 0"},
        {200, "", "EOF while parsing a value at line 1 column 0"},
        {200, R"({"config":"x"} y)", "trailing characters at line 1 column 16"},
        {500, "<html>\n</html>", "expected value at line 1 column 1"},
        // No position: the message alone.
        {200, R"({"config":7})",
         "data did not match any variant of untagged enum InstallerConfigResponse"},
    };
    for (const auto& c : cases) {
        const Outcome got = answer(c.status, c.body);
        ASSERT_FALSE(got.has_value()) << c.status << " " << c.body;
        EXPECT_EQ(got.error(), decode_error(c.cause)) << kov::debug_form(got.error());
    }
}

// Every piece arrives well within the limit, but the body as a whole does not: the deadline
// is not renewed by arriving data.
TEST_F(ConfigAnswerTest, CutsOffASlowBodyAtTheDeadline) {
    const auto limited = client(600ms);
    const Outcome slow = fetch_answer(limited, "/trickle?pieces=40&ms=50");
    ASSERT_FALSE(slow.has_value());
    EXPECT_EQ(slow.error(), decode_error(std::string{kov::TIMED_OUT}));

    // The same kind of body, complete within the limit, is read; the abandoned one does not
    // stand in its way.
    const Outcome quick = fetch_answer(limited, "/trickle?pieces=16&ms=10");
    ASSERT_TRUE(quick.has_value()) << kov::debug_form(quick.error());
    EXPECT_EQ(*quick, (InstallerConfigResponse{
                          InstallerConfigResponse::Success{std::nullopt, std::string(3, 'x')}}));
}

// A body that keeps coming as fast as it is read: the whole-body deadline is kept within the
// slack of one wait, however much has been gathered by then.
TEST_F(ConfigAnswerTest, KeepsTheDeadlineWhileTheBodyKeepsComing) {
    using std::chrono::steady_clock;
    constexpr auto limit = 3s;
    const auto with = client(limit);
    auto response = with.get(url("/endless")).send();
    ASSERT_TRUE(response) << kov::debug_form(response.error());
    const auto start = steady_clock::now();
    const Outcome got = kov::read_config_response(std::move(*response));
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(got, std::unexpected(decode_error(std::string{kov::TIMED_OUT})));
    EXPECT_GE(took, limit);
    EXPECT_LT(took, limit + 200ms) << std::chrono::duration<double>(took).count() << " s";
}

TEST_F(ConfigAnswerTest, CarriesTheTransferFailureOfTheClient) {
    const auto with = client(5s);
    auto response = with.get(url("/short")).send();
    ASSERT_TRUE(response) << kov::debug_form(response.error());
    const auto direct = response->read_to_end(std::chrono::steady_clock::now() + 5s);
    ASSERT_FALSE(direct.has_value());
    ASSERT_NE(direct.error().cause, kov::TIMED_OUT);

    const Outcome got = fetch_answer(with, "/short");
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error(), decode_error(direct.error().cause));
}

// With the deadline already past, a body that is complete when the send returns (head and body
// sent in one write) is taken without reading the clock and decoded, failure and all, while a
// body still arriving is cut off.
TEST_F(ConfigAnswerTest, DecodesABodyAtHandEvenPastTheDeadline) {
    const auto with = client(5s);
    const struct {
        std::string path;
        Outcome want;
    } cases[] = {
        {"/answer?status=200&body=" + percent_encoded(R"({"config":"c=1"})"),
         InstallerConfigResponse{InstallerConfigResponse::Success{std::nullopt, "c=1"}}},
        {"/answer?status=200&body=" + percent_encoded(R"({"config":"x"} y)"),
         std::unexpected(decode_error("trailing characters at line 1 column 16"))},
        {"/trickle?pieces=40&ms=50", std::unexpected(decode_error(std::string{kov::TIMED_OUT}))},
    };
    for (const auto& c : cases) {
        auto response = with.get(url(c.path)).send();
        ASSERT_TRUE(response) << kov::debug_form(response.error());
        const auto past = std::chrono::steady_clock::now() - 1s;
        EXPECT_EQ(kov::read_config_response(std::move(*response), past), c.want) << c.path;
    }
}

} // namespace
