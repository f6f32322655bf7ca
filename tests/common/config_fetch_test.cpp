// The configuration step against a loopback configuration service that records every request
// head, with the user's side faked: the boxes answer what each test sets, the roaming folder is
// a fresh temporary folder, the locale query answers what each test sets.
#include "config_service.hpp"
#include "kov/config_fetch.hpp"
#include "platform_fakes.hpp"
#include "temp_folder.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using Kind = kov::ConfigFetchOutcome::Kind;
using test::Answer;

constexpr std::uint32_t ERROR_BOX = 0x30;    // MB_OK | MB_ICONWARNING
constexpr std::uint32_t QUESTION_BOX = 0x34; // MB_YESNO | MB_ICONWARNING
constexpr int IDYES = 6;
constexpr int IDNO = 7;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::map<std::string, Answer>& service_answers() {
    static const std::map<std::string, Answer> answers = {
        {"/config", {200, R"({"config":"{\"channel\":\"stable\"}"})"}},
        {"/escapes", {200, R"({"config":"line\nnext \u00fc \"q\" \ud83d\ude00"})"}},
        {"/empty-config", {200, R"({"config":""})"}},
        {"/question", {200, R"({"prompt":"Install the beta?","config":"beta"})"}},
        {"/empty-question", {200, R"({"prompt":"","config":"c"})"}},
        {"/null-question", {200, R"({"prompt":null,"config":"c"})"}},
        {"/nul-question", {200, R"({"prompt":"shown\u0000hidden","config":"c"})"}},
        {"/error", {200, R"({"error":"Service unavailable\nTry later \u2603"})"}},
        {"/empty-error", {200, R"({"error":""})"}},
        {"/nul-error", {200, R"({"error":"shown\u0000hidden"})"}},
        {"/error-500", {500, R"({"error":"down"})"}},
        {"/config-500", {500, R"({"config":"from a 500"})"}},
        {"/not-json", {200, "<html>"}},
    };
    return answers;
}

kov::HttpClient test_client() {
    kov::ClientOptions options;
    options.time_limit = std::chrono::seconds(10);
    options.environment = [](std::string_view) { return std::optional<std::string>{}; };
    options.internet_settings = [] { return std::optional<kov::InternetSettings>{}; };
    auto client = kov::make_http_client(std::nullopt, options);
    if (!client) {
        ADD_FAILURE() << kov::debug_form(client.error());
        std::abort();
    }
    return std::move(*client);
}

class FetchConfig : public ::testing::Test {
protected:
    static void SetUpTestSuite() { service_ = new test::ConfigService(service_answers()); }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }

    void SetUp() override {
        test::fakes::roaming_folder = roaming_.path();
        test::fakes::locale_answer = {u"en-US", 6};
        test::fakes::locale_queries.clear();
        test::fakes::boxes.clear();
        test::fakes::box_answers.clear();
        seen_before_ = service_->requests().size();
    }

    std::string url(std::string_view path) const { return service_->origin() + std::string(path); }

    kov::ConfigFetchOutcome fetch(bool silent_mode, std::string_view path) {
        return kov::fetch_installer_config(silent_mode, url(path), client_);
    }

    // The requests that arrived during this test.
    std::vector<test::ReceivedRequest> received() const {
        auto all = service_->requests();
        return {all.begin() + static_cast<std::ptrdiff_t>(seen_before_), all.end()};
    }

    fs::path product_folder() const { return roaming_.path() / "kovane-console"; }
    fs::path config_file() const { return product_folder() / "installer_config.json"; }
    bool roaming_is_empty() const { return fs::is_empty(roaming_.path()); }

    static test::ConfigService* service_;
    kov::HttpClient client_ = test_client();
    test::TempFolder roaming_;
    std::size_t seen_before_ = 0;
};

test::ConfigService* FetchConfig::service_ = nullptr;

TEST_F(FetchConfig, SendsAGetWithAcceptThenTheLocale) {
    test::fakes::locale_answer = {u"de-CH", 6};
    ASSERT_EQ(fetch(false, "/config").kind, Kind::Stored);
    const auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/config");
    EXPECT_EQ(request.values("Accept"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(request.values("Accept-Language"), std::vector<std::string>{"de-CH"});
    EXPECT_LT(request.position("Accept"), request.position("Accept-Language"));
    EXPECT_TRUE(request.values("Authorization").empty());
    EXPECT_TRUE(request.values("Content-Length").empty());
    EXPECT_TRUE(request.values("Transfer-Encoding").empty());
    EXPECT_EQ(test::fakes::locale_queries.size(), 1u);
}

TEST_F(FetchConfig, UserInformationGoesAsBasicAuthorizationBeforeTheStepsHeaders) {
    const std::string address = "http://us%20er:p%3Aw@" + service_->origin().substr(7) + "/config";
    ASSERT_EQ(kov::fetch_installer_config(false, address, client_).kind, Kind::Stored);
    const auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    // Base64 of "us er:p:w"
    EXPECT_EQ(requests[0].values("Authorization"), std::vector<std::string>{"Basic dXMgZXI6cDp3"});
    EXPECT_LT(requests[0].position("Authorization"), requests[0].position("Accept"));
    EXPECT_LT(requests[0].position("Accept"), requests[0].position("Accept-Language"));
}

TEST_F(FetchConfig, TheLocaleIsSentByteForByte) {
    test::fakes::locale_answer = {u"x-gr\u00FC\u00DF\tz", 9};
    ASSERT_EQ(fetch(false, "/config").kind, Kind::Stored);
    const auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].values("Accept-Language"),
              std::vector<std::string>{"x-gr\xC3\xBC\xC3\x9F\tz"});
}

TEST_F(FetchConfig, TheSilentPairIsAppendedToTheQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"/config", "/config?is_silent_mode_requested=true"},
        {"/config?", "/config?is_silent_mode_requested=true"},
        {"/config?a=1", "/config?a=1&is_silent_mode_requested=true"},
        {"/config?a=1&", "/config?a=1&&is_silent_mode_requested=true"},
        {"/config?is_silent_mode_requested=true",
         "/config?is_silent_mode_requested=true&is_silent_mode_requested=true"},
        {"/config#part", "/config?is_silent_mode_requested=true"},
        {"/config?a#part", "/config?a&is_silent_mode_requested=true"},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        const std::size_t before = received().size();
        ASSERT_EQ(fetch(true, path).kind, Kind::Stored);
        const auto requests = received();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().target, expected);
    }
}

TEST_F(FetchConfig, InteractiveRequestsGoToTheAddressAsParsed) {
    const std::pair<const char*, const char*> cases[] = {
        {"/config", "/config"},
        {"/config?", "/config?"},
        {"/config?a=1&", "/config?a=1&"},
        {"/config#part", "/config"},
        {"/config?is_silent_mode_requested=false", "/config?is_silent_mode_requested=false"},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        const std::size_t before = received().size();
        ASSERT_EQ(fetch(false, path).kind, Kind::Stored);
        const auto requests = received();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().target, expected);
    }
}

TEST_F(FetchConfig, StoresTheConfigurationByteForByteWithoutAQuestion) {
    struct Case {
        const char* path;
        std::string stored;
    };
    const Case cases[] = {
        {"/config", "{\"channel\":\"stable\"}"},
        {"/escapes", "line\nnext \xC3\xBC \"q\" \xF0\x9F\x98\x80"},
        {"/empty-config", ""},
        {"/null-question", "c"},
        {"/config-500", "from a 500"},
    };
    for (const Case& c : cases) {
        for (const bool silent : {false, true}) {
            SCOPED_TRACE(std::string(c.path) + (silent ? " silent" : " interactive"));
            test::fakes::boxes.clear();
            const auto outcome = fetch(silent, c.path);
            EXPECT_EQ(outcome.kind, Kind::Stored);
            EXPECT_TRUE(outcome.error_text.empty());
            EXPECT_TRUE(test::fakes::boxes.empty());
            EXPECT_EQ(contents(config_file()), c.stored);
        }
    }
}

TEST_F(FetchConfig, AQuestionIsAskedInBothModesAndOnlyYesStores) {
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "interactive");
        // Any answer but Yes declines, 0 (no box could be shown) included.
        for (const int answer : {0, 1, 2, IDNO}) {
            fs::remove_all(product_folder());
            test::fakes::boxes.clear();
            test::fakes::box_answers = {answer};
            EXPECT_EQ(fetch(silent, "/question").kind, Kind::Declined) << answer;
            ASSERT_EQ(test::fakes::boxes.size(), 1u);
            EXPECT_EQ(test::fakes::boxes[0].text, u"Install the beta?");
            EXPECT_EQ(test::fakes::boxes[0].caption, u"Kovane Console");
            EXPECT_EQ(test::fakes::boxes[0].style, QUESTION_BOX);
            EXPECT_TRUE(roaming_is_empty());
        }
        test::fakes::boxes.clear();
        test::fakes::box_answers = {IDYES};
        EXPECT_EQ(fetch(silent, "/question").kind, Kind::Stored);
        EXPECT_EQ(test::fakes::boxes.size(), 1u);
        EXPECT_EQ(contents(config_file()), "beta");
    }
}

TEST_F(FetchConfig, ADeclinedQuestionKeepsTheEarlierFile) {
    fs::create_directory(product_folder());
    std::ofstream(config_file()) << "earlier";
    test::fakes::box_answers = {IDNO};
    EXPECT_EQ(fetch(true, "/question").kind, Kind::Declined);
    EXPECT_EQ(contents(config_file()), "earlier");
}

TEST_F(FetchConfig, QuestionTextsReachTheBoxAsTheyAre) {
    test::fakes::box_answers = {IDYES, IDYES};
    EXPECT_EQ(fetch(false, "/empty-question").kind, Kind::Stored);
    EXPECT_EQ(fetch(false, "/nul-question").kind, Kind::Stored);
    ASSERT_EQ(test::fakes::boxes.size(), 2u);
    EXPECT_EQ(test::fakes::boxes[0].text, u"");
    EXPECT_FALSE(test::fakes::boxes[0].text_was_null);
    EXPECT_EQ(test::fakes::boxes[1].text, u"shown");
}

TEST_F(FetchConfig, AnErrorIsShownInInteractiveModeOnlyAndKeptWhole) {
    struct Case {
        const char* path;
        std::string error;
        std::u16string shown;
    };
    const Case cases[] = {
        {"/error", "Service unavailable\nTry later \xE2\x98\x83",
         u"Service unavailable\nTry later \u2603"},
        {"/empty-error", "", u""},
        {"/nul-error", std::string("shown\0hidden", 12), u"shown"},
        {"/error-500", "down", u"down"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        test::fakes::boxes.clear();
        test::fakes::box_answers = {1};
        const auto interactive = fetch(false, c.path);
        EXPECT_EQ(interactive.kind, Kind::ServerError);
        EXPECT_EQ(interactive.error_text, c.error);
        ASSERT_EQ(test::fakes::boxes.size(), 1u);
        EXPECT_EQ(test::fakes::boxes[0].text, c.shown);
        EXPECT_FALSE(test::fakes::boxes[0].text_was_null);
        EXPECT_EQ(test::fakes::boxes[0].caption, u"Kovane Console");
        EXPECT_EQ(test::fakes::boxes[0].style, ERROR_BOX);

        test::fakes::boxes.clear();
        const auto silent = fetch(true, c.path);
        EXPECT_EQ(silent.kind, Kind::ServerError);
        EXPECT_EQ(silent.error_text, c.error);
        EXPECT_TRUE(test::fakes::boxes.empty());
    }
    EXPECT_TRUE(roaming_is_empty());
}

// Each dying statement builds its own client: the child of the fork has none of the parent's
// threads.
class FetchConfigDeathTest : public FetchConfig {
protected:
    static void fetch_alone(bool silent_mode, const std::string& address) {
        const kov::HttpClient client = test_client();
        (void)kov::fetch_installer_config(silent_mode, address, client);
    }
};

TEST_F(FetchConfigDeathTest, TheLocaleIsReadBeforeAnyFaultIsReported) {
    // A failing locale query ends the run before the send, even for an address that is refused.
    test::fakes::locale_answer = {u"", 0};
    EXPECT_DEATH(fetch_alone(false, "not a url"),
                 "^fatal error at common/src/user_locale\\.cpp:[0-9]+:[0-9]+: assertion failed: "
                 "len > 0\n$");
    EXPECT_DEATH(fetch_alone(false, url("/config")), "assertion failed: len > 0");
    EXPECT_TRUE(received().empty());
}

TEST_F(FetchConfigDeathTest, FaultsSurfaceAtTheSendAndNothingIsShownOrWritten) {
    EXPECT_DEATH(fetch_alone(false, "not a url"),
                 "^fatal error at common/src/config_fetch\\.cpp:[0-9]+:[0-9]+: ClientError \\{ "
                 "kind: Builder");
    // A line feed in the locale cannot go into a header.
    test::fakes::locale_answer = {u"en\nUS", 6};
    EXPECT_DEATH(fetch_alone(false, url("/config")),
                 "^fatal error at common/src/config_fetch\\.cpp:"
                 "[0-9]+:[0-9]+: ClientError \\{ kind: Builder");
    EXPECT_TRUE(received().empty());
    EXPECT_TRUE(roaming_is_empty());
}

TEST_F(FetchConfigDeathTest, AnAnswerThatDoesNotDecodeEndsTheRun) {
    test::fakes::box_answers = {IDYES};
    EXPECT_DEATH(fetch_alone(false, url("/not-json")),
                 "^fatal error at common/src/config_fetch\\.cpp:[0-9]+:[0-9]+: ClientError \\{ "
                 "kind: Decode.*expected value");
    EXPECT_TRUE(roaming_is_empty());
}

} // namespace
