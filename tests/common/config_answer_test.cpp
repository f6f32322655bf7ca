// Reading the configuration answer from a loopback service: the status decides nothing, the
// whole body is gathered under one deadline, and every failure is a `Decode` error.
#include "http_test_support.hpp"
#include "kov/config_response.hpp"

#include <gtest/gtest.h>

namespace {

using namespace kov_test;
using kov::ClientError;
using kov::ClientErrorKind;
using kov::InstallerConfigResponse;
using Outcome = std::expected<InstallerConfigResponse, ClientError>;

std::string percent_encoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out;
}

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

// The JSON failure, with its position, is the cause of a `Decode` error without address.
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
        {200, R"({"config":7})",
         "data did not match any variant of untagged enum InstallerConfigResponse at line 0 "
         "column 0"},
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

// Decoding is not timed: a body gathered in time is decoded even when its decoding ends past
// the deadline. The limit is set to two thirds of the time this body takes to decode here, and
// the case is skipped when gathering the body takes more than half of that limit, as it does
// where decoding is fast (the sanitizer build is slow enough to show the rule).
TEST_F(ConfigAnswerTest, DecodesABodyGatheredInTimeEvenPastTheDeadline) {
    using Clock = std::chrono::steady_clock;
    const std::string path = "/ignored?mib=16";
    const auto generous = client(60s);
    ASSERT_TRUE(generous.get(url("/prepare?mib=16")).send());

    auto sample = generous.get(url(path)).send();
    ASSERT_TRUE(sample) << kov::debug_form(sample.error());
    const auto gather_start = Clock::now();
    const auto body = sample->read_to_end(gather_start + 60s);
    const auto gathering = Clock::now() - gather_start;
    ASSERT_TRUE(body) << kov::debug_form(body.error());
    const auto decode_start = Clock::now();
    ASSERT_TRUE(kov::decode_config_response(*body));
    const auto decoding = Clock::now() - decode_start;

    const auto limit = decoding * 2 / 3;
    if (limit < 2 * gathering) {
        GTEST_SKIP() << "gathering is too slow next to decoding here to show the rule ("
                     << std::chrono::duration_cast<std::chrono::milliseconds>(gathering).count()
                     << " ms gathering, "
                     << std::chrono::duration_cast<std::chrono::milliseconds>(decoding).count()
                     << " ms decoding)";
    }
    auto response = client(limit).get(url(path)).send();
    ASSERT_TRUE(response) << kov::debug_form(response.error());
    const auto start = Clock::now();
    const Outcome got = kov::read_config_response(std::move(*response));
    const auto elapsed = Clock::now() - start;
    ASSERT_TRUE(got.has_value()) << kov::debug_form(got.error());
    EXPECT_EQ(*got,
              (InstallerConfigResponse{InstallerConfigResponse::Success{std::nullopt, "big"}}));
    if (elapsed <= limit) {
        GTEST_SKIP() << "decoding ended within the limit this time";
    }
}

} // namespace
