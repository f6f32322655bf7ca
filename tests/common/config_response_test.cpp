#include "kov/config_response.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace kov {

void PrintTo(const InstallerConfigResponse& response, std::ostream* out) {
    if (const auto* success = std::get_if<InstallerConfigResponse::Success>(&response.value)) {
        *out << "Success{prompt: "
             << (success->prompt ? testing::PrintToString(*success->prompt) : "absent")
             << ", config: " << testing::PrintToString(success->config) << "}";
    } else {
        *out << "Error{" << testing::PrintToString(std::get<1>(response.value).error) << "}";
    }
}

} // namespace kov

namespace {

using kov::InstallerConfigResponse;
using kov::JsonError;
using Outcome = std::expected<InstallerConfigResponse, JsonError>;
using Success = InstallerConfigResponse::Success;
using Error = InstallerConfigResponse::Error;

struct Case {
    std::string name;
    std::string body;
    Outcome want;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

Case success(std::string name, std::string body, std::optional<std::string> prompt,
             std::string config) {
    return {std::move(name), std::move(body),
            InstallerConfigResponse{Success{std::move(prompt), std::move(config)}}};
}

Case error(std::string name, std::string body, std::string text) {
    return {std::move(name), std::move(body), InstallerConfigResponse{Error{std::move(text)}}};
}

Case fails(std::string name, std::string body, std::string message, std::size_t line,
           std::size_t column) {
    return {std::move(name), std::move(body),
            std::unexpected(JsonError{std::move(message), line, column})};
}

Case no_match(std::string name, std::string body) {
    return fails(std::move(name), std::move(body), std::string{kov::NO_VARIANT_MATCHED}, 0, 0);
}

std::string repeat(std::string_view part, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

// A `Success` whose ignored member "deep" makes `levels` arrays and objects in all, the
// outermost object included.
std::string nested_answer(std::size_t levels) {
    return R"({"config":"c","deep":)" + repeat("[", levels - 1) + repeat("]", levels - 1) + "}";
}

constexpr std::size_t NESTED_PREFIX = std::string_view{R"({"config":"c","deep":)"}.size();

std::vector<Case> cases() {
    using namespace std::string_literals;
    return {
        // The two forms, and which wins.
        success("ConfigAlone", R"({"config":"c"})", std::nullopt, "c"),
        success("PromptNullIsAbsent", R"({"prompt":null,"config":"c"})", std::nullopt, "c"),
        success("PromptEmptyIsPresent", R"({"prompt":"","config":"c"})", "", "c"),
        success("PromptAfterConfig", R"({"config":"c","prompt":"Go on?"})", "Go on?", "c"),
        success("ConfigEmpty", R"({"config":""})", std::nullopt, ""),
        success("BothFormsIsSuccess", R"({"error":"e","config":"c"})", std::nullopt, "c"),
        error("ErrorAlone", R"({"error":"Service down"})", "Service down"),
        error("ConfigObjectWithError", R"({"config":{},"error":"e"})", "e"),
        error("ConfigNumberWithError", R"({"config":7,"error":"e"})", "e"),
        error("ConfigNullWithError", R"({"config":null,"error":"e"})", "e"),
        error("PromptNumberWithError", R"({"prompt":1,"config":"c","error":"e"})", "e"),
        error("RepeatedConfigWithError", R"({"config":"a","config":"b","error":"e"})", "e"),
        no_match("ConfigObject", R"({"config":{}})"),
        no_match("ConfigNumber", R"({"config":7})"),
        no_match("ConfigNull", R"({"config":null})"),
        no_match("ConfigArray", R"({"config":["c"]})"),
        no_match("PromptFalse", R"({"prompt":false,"config":"c"})"),
        no_match("RepeatedConfig", R"({"config":"a","config":"b"})"),
        no_match("RepeatedPromptNullFirst", R"({"prompt":null,"prompt":"q","config":"c"})"),
        no_match("RepeatedError", R"({"error":"a","error":"b"})"),
        no_match("ErrorNull", R"({"error":null})"),
        no_match("KeysDifferInCase", R"({"Config":"c","ERROR":"e","Prompt":"p"})"),
        no_match("ArrayOfPromptAndConfig", R"(["Go on?","c"])"),
        no_match("ArrayOfOneObject", R"([{"config":"c"}])"),
        no_match("BareString", R"("c")"),
        no_match("Number", "12"),
        no_match("True", "true"),
        no_match("False", "false"),
        no_match("Null", "null"),
        no_match("EmptyObject", "{}"),
        success("IgnoresOtherMembersOfAnyKind",
                R"({"a":[1,{"b":null}],"n":-1.5e3,"a":"x","config":"c","z":{"deep":[[]]},)"
                R"("t":true,"f":false,"o":{},"a":18446744073709551616,"prompt":"p"})",
                "p", "c"),
        // Keys and texts are compared and returned unescaped.
        success("EscapedKey", R"({"con\u0066ig":"c","\u0070rompt":"p"})", "p", "c"),
        error("EscapedErrorKey", R"({"\u0065rror":"e"})", "e"),
        success("EscapedTexts", R"({"config":"a\"b\\c\/d\b\f\n\r\t\u00e9\uD83D\uDE00"})",
                std::nullopt, "a\"b\\c/d\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80"),
        success("EscapedNul", R"({"config":"a\u0000b"})", std::nullopt, "a\0b"s),
        success("Utf8Texts", "{\"prompt\":\"Weiter? \xE2\x9C\x93\",\"config\":\"caf\xC3\xA9\"}",
                "Weiter? \xE2\x9C\x93", "caf\xC3\xA9"),
        // What may follow the value.
        success("TrailingWhitespace", "{\"config\":\"c\"} \n\t\r\n", std::nullopt, "c"),
        success("LeadingWhitespace", " \r\n\t{\"config\":\"c\"}", std::nullopt, "c"),
        fails("TrailingLetter", R"({"config":"x"} y)", "trailing characters", 1, 16),
        fails("TrailingOnLaterLine", "{\n  \"config\": \"c\"\n}\n x", "trailing characters", 4, 2),
        fails("SecondValue", R"({"error":"e"}{})", "trailing characters", 1, 14),
        fails("TrailingNul", "{\"config\":\"c\"}\0"s, "trailing characters", 1, 15),
        no_match("NoMatchBeforeStrayBytes", R"({"x":1} junk)"),
        // Bodies that are not JSON at all.
        fails("Empty", "", "EOF while parsing a value", 1, 0),
        fails("WhitespaceOnly", "  \n ", "EOF while parsing a value", 2, 1),
        fails("Utf8ByteOrderMark", "\xEF\xBB\xBF{\"config\":\"c\"}", "expected value", 1, 1),
        fails("Utf16LeByteOrderMark", "\xFF\xFE{\0\"\0c\0\"\0:\0\"\0c\0\"\0}\0"s, "expected value",
              1, 1),
        fails("Utf16BeByteOrderMark", "\xFE\xFF\0{"s, "expected value", 1, 1),
        fails("HtmlPage", "<!DOCTYPE html><html></html>", "expected value", 1, 1),
        // Strict syntax, inside ignored members too.
        fails("EndsInList", R"({"config":"c","x":[1)", "EOF while parsing a list", 1, 20),
        fails("EndsInObject", R"({"config":"c")", "EOF while parsing an object", 1, 13),
        fails("EndsInString", R"({"config":"c)", "EOF while parsing a string", 1, 12),
        fails("EndsInHexEscape", R"({"config":"\u00)", "EOF while parsing a string", 1, 15),
        fails("EndsAfterComma", R"({"config":"c",)", "EOF while parsing a value", 1, 14),
        fails("EndsAfterColon", R"({"config":"c","x":)", "EOF while parsing a value", 1, 18),
        fails("EndsInNull", R"({"config":"c","x":nu)", "EOF while parsing a value", 1, 20),
        fails("NoColon", R"({"config" "c"})", "expected `:`", 1, 11),
        fails("NoCommaInList", R"({"x":[1 2]})", "expected `,` or `]`", 1, 9),
        fails("NoCommaInObject", R"({"config":"c" "x":1})", "expected `,` or `}`", 1, 15),
        fails("MisspeltTrue", R"({"x":trux})", "expected ident", 1, 9),
        fails("UnknownEscape", R"({"config":"\x"})", "invalid escape", 1, 13),
        fails("NonHexEscape", R"({"config":"\u00zz"})", "invalid escape", 1, 16),
        fails("LeadingZero", R"({"x":01})", "invalid number", 1, 7),
        fails("MinusAlone", R"({"x":-})", "invalid number", 1, 7),
        fails("PointWithoutDigits", R"({"x":1.})", "invalid number", 1, 8),
        fails("ExponentWithoutDigits", R"({"x":1e})", "invalid number", 1, 8),
        fails("OutOfRangeInIgnoredMember", R"({"config":"c","n":1e400})", "number out of range", 1,
              23),
        fails("NegativeOutOfRange", R"({"config":"c","n":[-1.5e309]})", "number out of range", 1,
              27),
        success("UnderflowIsZero", R"({"config":"c","n":1e-400})", std::nullopt, "c"),
        fails("InvalidUtf8InConfig", "{\"config\":\"\xC3\"}", "invalid unicode code point", 1, 13),
        fails("InvalidUtf8InIgnoredMember", "{\"config\":\"c\",\"x\":\"\xFF\"}",
              "invalid unicode code point", 1, 21),
        fails("InvalidUtf8InKey", "{\"\xFF\":1,\"config\":\"c\"}", "invalid unicode code point", 1,
              4),
        fails("EncodedSurrogate", "{\"config\":\"\xED\xA0\x80\"}", "invalid unicode code point", 1,
              15),
        fails("OverlongSlash", "{\"config\":\"\xC0\xAF\"}", "invalid unicode code point", 1, 14),
        fails("InvalidUtf8AfterEscape", "{\"config\":\"\\u00e9\xE9\"}",
              "invalid unicode code point", 1, 19),
        fails("RawTab", "{\"config\":\"a\tb\"}",
              "control character (\\u0000-\\u001F) found while parsing a string", 1, 13),
        fails("RawNul", "{\"config\":\"c\",\"\0\":1}"s,
              "control character (\\u0000-\\u001F) found while parsing a string", 1, 16),
        fails("KeyNotString", R"({1:2})", "key must be a string", 1, 2),
        fails("LoneTrailingSurrogate", R"({"config":"\uDC00"})",
              "lone leading surrogate in hex escape", 1, 17),
        fails("HighSurrogateThenNonSurrogate", R"({"config":"\uD800\u0041"})",
              "lone leading surrogate in hex escape", 1, 23),
        fails("HighSurrogateAlone", R"({"config":"\uD800x"})", "unexpected end of hex escape", 1,
              18),
        // The first fault in reading order wins, even in a string whose later escape is bad.
        fails("SurrogateFaultBeforeBadEscape", R"({"config":"\uDC00\q"})",
              "lone leading surrogate in hex escape", 1, 17),
        fails("TrailingCommaInObject", R"({"config":"c",})", "trailing comma", 1, 15),
        fails("TrailingCommaInList", R"({"config":"c","x":[1,]})", "trailing comma", 1, 22),
        fails("TopLevelTrailingComma", "[1,]", "trailing comma", 1, 4),
        // Nesting: 127 levels are read, the 128th bracket is refused where it stands.
        success("Nested127Levels", nested_answer(127), std::nullopt, "c"),
        fails("Nested128Levels", nested_answer(128), "recursion limit exceeded", 1,
              NESTED_PREFIX + 127),
        fails("Nested128Objects",
              R"({"config":"c","d":)" + repeat(R"({"":)", 127) + "1" + repeat("}", 128),
              "recursion limit exceeded", 1, 18 + 4 * 126 + 1),
    };
}

class DecodeConfigResponse : public testing::TestWithParam<Case> {};

TEST_P(DecodeConfigResponse, GivesAnswerOrErrorWithPosition) {
    const Case& c = GetParam();
    // An exactly sized copy, so that the sanitizer build sees any read past the body.
    const std::vector<char> exact(c.body.begin(), c.body.end());
    const Outcome got = kov::decode_config_response({exact.data(), exact.size()});
    if (c.want) {
        ASSERT_TRUE(got.has_value()) << kov::debug_form(got.error());
        EXPECT_EQ(*got, *c.want);
    } else {
        ASSERT_FALSE(got.has_value()) << testing::PrintToString(*got);
        EXPECT_EQ(kov::debug_form(got.error()), kov::debug_form(c.want.error()));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeConfigResponse, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Large texts take the roads that small ones do not: a config used in place beyond the short
// string form, one decoded into storage of its own, and many small decoded strings.
TEST(DecodeConfigResponseLarge, KeepsLargeTextsWhole) {
    std::string plain;
    for (std::size_t i = 0; plain.size() < (std::size_t{3} << 20); ++i) {
        plain += "line " + std::to_string(i) + " caf\xC3\xA9 ";
    }
    std::string escaped_body = R"({"prompt":"p","config":")";
    std::string escaped_want;
    for (std::size_t i = 0; escaped_want.size() < 100'000; ++i) {
        escaped_body += R"({\"k\":)" + std::to_string(i) + R"(}\n)";
        escaped_want += "{\"k\":" + std::to_string(i) + "}\n";
    }
    escaped_body += R"("})";
    std::string many_body = R"({"x":[)";
    for (int i = 0; i < 20'000; ++i) {
        many_body += R"("\u00e9)" + std::to_string(i) + R"(",)";
    }
    many_body += R"(0],"config":"c\n"})";

    const Outcome in_place = kov::decode_config_response(R"({"config":")" + plain + R"("})");
    ASSERT_TRUE(in_place.has_value()) << kov::debug_form(in_place.error());
    EXPECT_EQ(*in_place, (InstallerConfigResponse{Success{std::nullopt, plain}}));

    const Outcome decoded = kov::decode_config_response(escaped_body);
    ASSERT_TRUE(decoded.has_value()) << kov::debug_form(decoded.error());
    EXPECT_EQ(*decoded, (InstallerConfigResponse{Success{"p", escaped_want}}));

    const Outcome many = kov::decode_config_response(many_body);
    ASSERT_TRUE(many.has_value()) << kov::debug_form(many.error());
    EXPECT_EQ(*many, (InstallerConfigResponse{Success{std::nullopt, "c\n"}}));

    // A fault near the end of a large text is placed by its offset there.
    const std::string cut = R"({"config":")" + plain + "\xFF\"}";
    const Outcome invalid = kov::decode_config_response(cut);
    ASSERT_FALSE(invalid.has_value());
    EXPECT_EQ(invalid.error(), (JsonError{"invalid unicode code point", 1, cut.size() - 1}));
}

} // namespace
