#include "kov/installer_tag.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace kov {

void PrintTo(const InstallerTag& tag, std::ostream* out) {
    const auto text = [](const std::optional<std::string>& value) {
        return value ? "\"" + *value + "\"" : std::string{"absent"};
    };
    *out << "{ca: " << text(tag.ca) << ", config_url: \"" << tag.config_url
         << "\", installer_url: " << text(tag.installer_url) << "}";
}

} // namespace kov

namespace {

using kov::InstallerTag;
using kov::JsonError;
using Outcome = std::expected<InstallerTag, JsonError>;

struct Case {
    std::string name;
    std::string text;
    Outcome want;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

Case ok(std::string name, std::string text, InstallerTag tag) {
    return {std::move(name), std::move(text), std::move(tag)};
}

Case fails(std::string name, std::string text, std::string message, std::size_t line,
           std::size_t column) {
    return {std::move(name), std::move(text),
            std::unexpected(JsonError{std::move(message), line, column})};
}

InstallerTag url_only(std::string config_url) {
    return {std::nullopt, std::move(config_url), {}};
}

std::string repeat(std::string_view part, std::size_t times) {
    std::string text;
    text.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

// An array of objects nested `depth` levels deep: [{"k":[{"k":...[]...}]}].
std::string nested(std::size_t depth) {
    return repeat(R"([{"k":)", depth) + "[]" + repeat("}]", depth);
}

std::string type_error(std::string_view found, std::string_view expected = "a string") {
    return "invalid type: " + std::string{found} + ", expected " + std::string{expected};
}

const std::string STRUCT = "struct InstallerTag";
const std::string CONTROL = "control character (\\u0000-\\u001F) found while parsing a string";
const std::string LONE = "lone leading surrogate in hex escape";
const std::string HEX_END = "unexpected end of hex escape";

std::vector<Case> cases() {
    const std::string max_double = "17976931348623157" + std::string(292, '0') + ".0";
    return {
        // Records.
        ok("ConfigUrlAlone", R"({"config_url":"http://127.0.0.1/c"})",
           url_only("http://127.0.0.1/c")),
        ok("NullOptionalsAreAbsent", R"({"ca":null,"config_url":"u","installer_url":null})",
           url_only("u")),
        ok("EmptyTextsArePresent", R"({"ca":"","config_url":"","installer_url":""})", {"", "", ""}),
        ok("AnyOrderAndWhitespace",
           " \t\r\n{ \"installer_url\" : \"i\" ,\r\n\"config_url\":\"c\",\t\"ca\":\"p\"\n} \t\r\n",
           {"p", "c", "i"}),
        ok("ArrayForm", R"([null,"u",null])", url_only("u")),
        ok("ArrayFormAllSet", "[ \"p\" ,\n\"c\" , \"i\" ]", {"p", "c", "i"}),
        ok("EscapedKeyNamesField", R"({"config\u005furl":"u"})", url_only("u")),
        ok("KeysDifferingInCaseOrBlanksAreIgnored",
           R"({"Config_url":"a","config_url ":"b","config_url":"c"})", url_only("c")),
        ok("IgnoredKeyRepeatedWithAnyValue",
           R"({"x":1.5e+3,"config_url":"u","x":)" + nested(3000) + R"(,"x":{"d":1,"d":2}})",
           url_only("u")),
        ok("IgnoredValuesOfEveryKind",
           R"({"x":[true,false,null,-0,-0.5E-2,0e7,"s\"\\\/\b\f\n\r\t\u00e9",{},[],)"
           R"({"a":{"b":[1,{"c":[]}]}}],"config_url":"u","y":{ "z" : [ ] }})",
           url_only("u")),
        ok("PemWithEscapedLineFeeds",
           R"({"ca":"-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n",)"
           R"("config_url":"u"})",
           {"-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n", "u", {}}),
        ok("EveryEscape", R"({"config_url":"\"\\\/\b\f\n\r\t\u0000\u00e9\u20AC\u0041"})",
           url_only(std::string{"\"\\/\b\f\n\r\t"} + '\0' + "\xC3\xA9\xE2\x82\xAC" + "A")),
        ok("SurrogatePair", R"({"config_url":"\uD83D\uDE00","ca":"\ud83d\uDe00"})",
           {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", {}}),
        ok("RawNonAsciiAndDelAreKept", "{\"config_url\":\"\xC3\xA9\x7F\xE2\x98\x83\"}",
           url_only("\xC3\xA9\x7F\xE2\x98\x83")),
        ok("LoneSurrogatesInIgnoredValues",
           R"({"x":["\uDE00","\uD83Dx","\uD83D\u0041",{"\uDE00":"\uD800"}],"config_url":"u"})",
           url_only("u")),
        ok("NumbersInIgnoredValuesAreNotSized",
           R"({"x":[1e400,-1e400,123456789012345678901234567890],"config_url":"u"})",
           url_only("u")),

        // The text as a whole.
        fails("EmptyText", "", "EOF while parsing a value", 1, 0),
        fails("BlanksOnly", "  \n \t", "EOF while parsing a value", 2, 2),
        fails("ByteOrderMark", "\xEF\xBB\xBF{\"config_url\":\"u\"}", "expected value", 1, 1),
        fails("FormFeedIsNoWhitespace", "\f{}", "expected value", 1, 1),
        fails("NoBreakSpaceIsNoWhitespace", "\xC2\xA0{}", "expected value", 1, 1),
        fails("StrayByte", "]", "expected value", 1, 1),
        fails("TrailingCharacters", R"({"config_url":"u"} x)", "trailing characters", 1, 20),
        fails("SecondValue", R"({"config_url":"u"}{})", "trailing characters", 1, 19),
        fails("TrailingOnLaterLine", "{\"config_url\":\"u\"}\r\n\n  #", "trailing characters", 3,
              3),

        // Type errors against the record.
        fails("NullText", "null", type_error("null", STRUCT), 1, 4),
        fails("BooleanText", " true", type_error("boolean `true`", STRUCT), 1, 5),
        fails("IntegerText", "5", type_error("integer `5`", STRUCT), 1, 1),
        fails("FloatText", "  12.5  ", type_error("floating point `12.5`", STRUCT), 1, 6),
        fails("StringText", R"("a\"b\\c\n")", type_error(R"(string "a\"b\\c\n")", STRUCT), 1, 11),
        fails("StringTextNotPrintable", R"("\u0001é\u200B\u0301 \u00A0\t")",
              type_error(R"(string "\u{1}é\u{200b}\u{301} \u{a0}\t")", STRUCT), 1, 31),
        fails("OutOfRangeText", "1e400", "number out of range", 1, 5),

        // Type errors against a field, with the descriptions of what was found.
        fails("ConfigUrlNull", R"({"config_url":null})", type_error("null"), 1, 18),
        fails("CaInteger", R"({"ca":5,"config_url":"u"})", type_error("integer `5`"), 1, 7),
        fails("InstallerUrlFalse", R"({"config_url":"u","installer_url":false})",
              type_error("boolean `false`"), 1, 39),
        fails("ConfigUrlTrue", R"({"config_url":true})", type_error("boolean `true`"), 1, 18),
        fails("LargestUnsigned", R"({"config_url":18446744073709551615})",
              type_error("integer `18446744073709551615`"), 1, 34),
        fails("BeyondUnsigned", R"({"config_url":18446744073709551616})",
              type_error("floating point `18446744073709552000.0`"), 1, 34),
        fails("SmallestSigned", R"({"config_url":-9223372036854775808})",
              type_error("integer `-9223372036854775808`"), 1, 34),
        fails("BelowSigned", R"({"config_url":-9223372036854775809})",
              type_error("floating point `-9223372036854776000.0`"), 1, 34),
        fails("MinusZero", R"({"config_url":-0})", type_error("floating point `-0.0`"), 1, 16),
        fails("Fraction", R"({"config_url":0.5})", type_error("floating point `0.5`"), 1, 17),
        fails("WholeFloat", R"({"config_url":5.0})", type_error("floating point `5.0`"), 1, 17),
        fails("ExponentMoved", R"({"config_url":123.456e1})",
              type_error("floating point `1234.56`"), 1, 23),
        fails("LargeFloatShortestDigits", R"({"config_url":1e23})",
              type_error("floating point `100000000000000000000000.0`"), 1, 18),
        fails("SmallFloatPlain", R"({"config_url":1E-7})", type_error("floating point `0.0000001`"),
              1, 18),
        fails("UnderflowIsZero", R"({"config_url":-1e-400})", type_error("floating point `-0.0`"),
              1, 21),
        fails("LargestDouble", R"({"config_url":1.7976931348623157e308})",
              type_error("floating point `" + max_double + "`"), 1, 36),
        fails("ArrayValue", R"({"config_url":[1]})", type_error("sequence"), 1, 14),
        fails("ObjectValue", R"({"ca":{"a":1},"config_url":"u"})", type_error("map"), 1, 6),
        fails("MissingValue", R"({"config_url":})", "expected value", 1, 15),
        fails("CapitalLiteral", R"({"ca":True})", "expected value", 1, 7),
        fails("ConfigUrlOutOfRange", R"({"config_url":1e400})", "number out of range", 1, 19),
        fails("CaOutOfRange", R"({"ca":-1e400,"config_url":"u"})", "number out of range", 1, 12),
        fails("CarriageReturnIsAByte", "{\"config_url\":\r5}", type_error("integer `5`"), 1, 16),
        fails("LaterLine", "{\n  \"config_url\": \"u\",\n  \"ca\": 7\n}", type_error("integer `7`"),
              3, 9),

        // The record's own rules.
        fails("EmptyObject", "{}", "missing field `config_url`", 1, 2),
        fails("OnlyCapitalisedKey", R"({"Config_url":"u"})", "missing field `config_url`", 1, 18),
        fails("DuplicateConfigUrl", R"({"config_url":"u","config_url":"u"})",
              "duplicate field `config_url`", 1, 30),
        fails("DuplicateCaAfterNull", R"({"ca":null,"ca":"p","config_url":"u"})",
              "duplicate field `ca`", 1, 15),
        fails("DuplicateBeforeItsValue", R"({"config_url":"u","config_url":5})",
              "duplicate field `config_url`", 1, 30),
        fails("DuplicateAfterBlanks", "{\"ca\":null,\"ca\"\n :1}", "duplicate field `ca`", 2, 1),
        fails("DuplicateThenClosingBrace", R"({"installer_url":"","installer_url" })",
              "duplicate field `installer_url`", 1, 37),
        fails("ArrayEmpty", "[]", "invalid length 0, expected struct InstallerTag with 3 elements",
              1, 2),
        fails("ArrayOfOne", R"(["u"])",
              "invalid length 1, expected struct InstallerTag with 3 elements", 1, 5),
        fails("ArrayOfTwo", R"([null,"u"])",
              "invalid length 2, expected struct InstallerTag with 3 elements", 1, 10),
        fails("ArrayOfFour", R"([null,"u",null,null])", "trailing characters", 1, 16),
        fails("ArrayByteAfterThird", R"([null,"u",null "x"])", "trailing characters", 1, 16),
        fails("ArrayCommaAfterThird", R"([null,"u",null, ])", "trailing comma", 1, 17),
        fails("ArrayCommaAfterThirdThenEnd", R"([null,"u",null,)", "trailing characters", 1, 15),
        fails("ArrayEndsAfterThird", R"([null,"u",null)", "EOF while parsing a list", 1, 14),
        fails("ArrayTrailingComma", R"([null,"u",])", "trailing comma", 1, 11),
        fails("ArrayEndsAfterComma", R"([null,)", "EOF while parsing a value", 1, 6),
        fails("ArrayEndsAfterElement", R"([null)", "EOF while parsing a list", 1, 5),
        fails("ArrayEnds", "[", "EOF while parsing a list", 1, 1),
        fails("ArrayMissingComma", R"([null "u"])", "expected `,` or `]`", 1, 7),
        fails("ArrayLeadingComma", "[,", "expected value", 1, 2),
        fails("ArrayConfigUrlNull", R"([null,null,null])", type_error("null"), 1, 10),
        fails("ArrayCaNumber", R"([1,"u",null])", type_error("integer `1`"), 1, 2),

        // Object syntax, the record's and a skipped one's.
        fails("ObjectEnds", "{", "EOF while parsing an object", 1, 1),
        fails("EndsAfterKey", R"({"config_url")", "EOF while parsing an object", 1, 13),
        fails("MissingColon", R"({"config_url" "u"})", "expected `:`", 1, 15),
        fails("EndsAfterColon", R"({"config_url":)", "EOF while parsing a value", 1, 14),
        fails("EndsAfterMember", R"({"config_url":"u")", "EOF while parsing an object", 1, 17),
        fails("EndsAfterComma", R"({"config_url":"u",)", "EOF while parsing a value", 1, 18),
        fails("MissingComma", R"({"config_url":"u" "ca":null})", "expected `,` or `}`", 1, 19),
        fails("LiteralRunsOn", R"({"ca":nullx,"config_url":"u"})", "expected `,` or `}`", 1, 11),
        fails("LeadingComma", R"({,"config_url":"u"})", "key must be a string", 1, 2),
        fails("NumberKey", "{1:2}", "key must be a string", 1, 2),
        fails("DoubleComma", R"({"config_url":"u",,})", "key must be a string", 1, 19),
        fails("TrailingComma", R"({"config_url":"u",})", "trailing comma", 1, 19),
        fails("SkippedObjectTrailingComma", R"({"x":{"a":1,},"config_url":"u"})",
              "key must be a string", 1, 13),
        fails("SkippedArrayTrailingComma", R"({"x":[1,],"config_url":"u"})", "expected value", 1,
              9),
        fails("SkippedObjectEnds", R"({"x":{)", "EOF while parsing an object", 1, 6),
        fails("SkippedEndsAfterKey", R"({"x":{"a")", "EOF while parsing an object", 1, 9),
        fails("SkippedEndsAfterColon", R"({"x":{"a":)", "EOF while parsing a value", 1, 10),
        fails("SkippedEndsAfterMember", R"({"x":{"a":1)", "EOF while parsing an object", 1, 11),
        fails("SkippedObjectEndsAfterComma", R"({"x":{"a":1,)", "EOF while parsing an object", 1,
              12),
        fails("SkippedMissingColon", R"({"x":{"a" 1}})", "expected `:`", 1, 11),
        fails("SkippedMissingComma", R"({"x":{"a":1 "b":2}})", "expected `,` or `}`", 1, 13),
        fails("SkippedNumberKey", R"({"x":{1:1}})", "key must be a string", 1, 7),
        fails("SkippedObjectClosedByBracket", R"({"x":{"a":1]})", "expected `,` or `}`", 1, 12),
        fails("SkippedArrayEnds", R"({"x":[)", "EOF while parsing a list", 1, 6),
        fails("SkippedEndsAfterElement", R"({"x":[1)", "EOF while parsing a list", 1, 7),
        fails("SkippedArrayEndsAfterComma", R"({"x":[1,)", "EOF while parsing a value", 1, 8),
        fails("SkippedArrayMissingComma", R"({"x":[1 2]})", "expected `,` or `]`", 1, 9),
        fails("SkippedArrayClosedByBrace", R"({"x":[1})", "expected `,` or `]`", 1, 8),
        fails("SkippedArrayOpenedThenBrace", R"({"x":[})", "expected value", 1, 7),
        fails("SkippedValueMissing", R"({"x":})", "expected value", 1, 6),
        fails("SkippedValueEnds", R"({"x":)", "EOF while parsing a value", 1, 5),

        // Strings.
        fails("RawLineFeedInCa", "{\"ca\":\"-----BEGIN\nX\"}", CONTROL, 2, 0),
        fails("RawTabInSkippedString", "{\"x\":\"a\tb\"}", CONTROL, 1, 8),
        fails("RawControlInKey", "{\"a\x01\":1}", CONTROL, 1, 4),
        fails("RawNulInConfigUrl", std::string{"{\"config_url\":\"a\0\"}", 19}, CONTROL, 1, 17),
        fails("StringEnds", R"({"config_url":"abc)", "EOF while parsing a string", 1, 18),
        fails("SkippedStringEnds", R"({"x":"abc)", "EOF while parsing a string", 1, 9),
        fails("EndsInEscape", R"({"config_url":"\)", "EOF while parsing a string", 1, 16),
        fails("InvalidEscape", R"({"config_url":"\x"})", "invalid escape", 1, 17),
        fails("SkippedInvalidEscape", R"({"x":"\q"})", "invalid escape", 1, 8),
        fails("NonHexDigit", R"({"config_url":"\u12G4"})", "invalid escape", 1, 20),
        fails("ShortHexBeforeQuote", R"({"config_url":"\u12"})", "invalid escape", 1, 20),
        fails("HexEnds", R"({"config_url":"\u12)", "EOF while parsing a string", 1, 19),
        fails("SkippedHexEnds", R"({"x":"\u00)", "EOF while parsing a string", 1, 10),
        fails("TrailingSurrogateAlone", R"({"config_url":"\uDE00"})", LONE, 1, 21),
        fails("LeadingSurrogateThenLetter", R"({"config_url":"\uD83Dx"})", HEX_END, 1, 22),
        fails("LeadingSurrogateThenQuote", R"({"ca":"\uD83D","config_url":"u"})", HEX_END, 1, 14),
        fails("LeadingSurrogateThenOtherEscape", R"({"config_url":"\uD83D\n"})", HEX_END, 1, 23),
        fails("LeadingSurrogateThenNonSurrogate", R"({"config_url":"\uD83D\u0041"})", LONE, 1, 27),
        fails("TwoLeadingSurrogates", R"({"installer_url":"\uD83D\uD83D"})", LONE, 1, 30),
        fails("EndsAfterLeadingSurrogate", R"({"config_url":"\uD83D)", "EOF while parsing a string",
              1, 21),
        fails("EndsInSecondEscape", R"({"config_url":"\uD83D\)", "EOF while parsing a string", 1,
              22),
        fails("IgnoredKeyTrailingSurrogate", R"({"\uDE00":1,"config_url":"u"})", LONE, 1, 8),
        fails("IgnoredKeyLeadingSurrogate", R"({"\uD83Dx":1,"config_url":"u"})", HEX_END, 1, 9),
        fails("SurrogateInStringText", R"("\uDE00")", LONE, 1, 7),

        // Numbers and literals.
        fails("SkippedLeadingZero", R"({"x":01})", "invalid number", 1, 7),
        fails("SkippedBareMinus", R"({"x":-})", "invalid number", 1, 7),
        fails("SkippedPointWithoutDigit", R"({"x":1.})", "invalid number", 1, 8),
        fails("SkippedPointThenExponent", R"({"x":1.e5})", "invalid number", 1, 8),
        fails("SkippedExponentWithoutDigit", R"({"x":1e+})", "invalid number", 1, 9),
        fails("SkippedEndsAfterPoint", R"({"x":1.)", "invalid number", 1, 7),
        fails("SkippedEndsAfterMinus", R"({"x":-)", "invalid number", 1, 6),
        fails("SkippedEndsAfterExponent", R"({"x":1e)", "invalid number", 1, 7),
        fails("SkippedLeadingPoint", R"({"x":.5})", "expected value", 1, 6),
        fails("SkippedLeadingPlus", R"({"x":+1})", "expected value", 1, 6),
        fails("LeadingZero", R"({"config_url":01})", "invalid number", 1, 16),
        fails("PointThenLetter", R"({"config_url":1.x})", "invalid number", 1, 17),
        fails("MinusThenLetter", R"({"config_url":-x})", "invalid number", 1, 16),
        fails("EndsAfterMinus", R"({"config_url":-)", "EOF while parsing a value", 1, 15),
        fails("EndsAfterPoint", R"({"config_url":1.)", "EOF while parsing a value", 1, 16),
        fails("EndsAfterExponentSign", R"({"config_url":1e-)", "EOF while parsing a value", 1, 17),
        fails("MisspeltNull", R"({"config_url":nul})", "expected ident", 1, 18),
        fails("MisspeltOptionalNull", R"({"ca":nulL,"config_url":"u"})", "expected ident", 1, 10),
        fails("EndsInNull", R"({"config_url":nul)", "EOF while parsing a value", 1, 17),
        fails("SkippedMisspeltTrue", R"({"x":tru})", "expected ident", 1, 9),
        fails("SkippedEndsInFalse", R"({"x":fals)", "EOF while parsing a value", 1, 9),
        fails("TextEndsInNull", "nul", "EOF while parsing a value", 1, 3),
        fails("TextMisspeltNull", "nulx", "expected ident", 1, 4),
    };
}

class DecodeInstallerTag : public testing::TestWithParam<Case> {};

TEST_P(DecodeInstallerTag, GivesRecordOrErrorWithPosition) {
    const Case& c = GetParam();
    // An exactly sized copy, so that the sanitizer build sees any read past the text.
    const std::vector<char> exact(c.text.begin(), c.text.end());
    const Outcome got = kov::decode_installer_tag({exact.data(), exact.size()});
    if (c.want) {
        ASSERT_TRUE(got.has_value()) << kov::debug_form(got.error());
        EXPECT_EQ(*got, *c.want);
    } else {
        ASSERT_FALSE(got.has_value()) << testing::PrintToString(*got);
        EXPECT_EQ(kov::debug_form(got.error()), kov::debug_form(c.want.error()));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeInstallerTag, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Far deeper than any call stack could recurse: the skipper keeps its brackets on a stack of
// its own. Arrays and objects alternate so that both kinds are pushed and popped.
TEST(DecodeInstallerTagDeep, SkipsValueNestedFiveMillionLevels) {
    constexpr std::size_t depth = 5'000'000;
    const std::string open = repeat(R"([{"":)", depth / 2);
    const std::string close = repeat("}]", depth / 2);
    const std::string tag = R"({"config_url":"u","x":)" + open + "7" + close + "}";
    const Outcome decoded = kov::decode_installer_tag(tag);
    ASSERT_TRUE(decoded.has_value()) << kov::debug_form(decoded.error());
    EXPECT_EQ(*decoded, url_only("u"));

    // The outermost bracket missing: the text ends inside that array.
    const std::string prefix = R"({"config_url":"u","x":)" + open + "7";
    const std::string unclosed = prefix + close.substr(0, close.size() - 1);
    const Outcome cut = kov::decode_installer_tag(unclosed);
    ASSERT_FALSE(cut.has_value());
    EXPECT_EQ(cut.error(), (JsonError{"EOF while parsing a list", 1, unclosed.size()}));

    // The innermost closing brace missing: the bracket of the level around it stands there.
    const Outcome crossed = kov::decode_installer_tag(prefix + close.substr(1) + "}");
    ASSERT_FALSE(crossed.has_value());
    EXPECT_EQ(crossed.error(), (JsonError{"expected `,` or `}`", 1, prefix.size() + 1}));
}

} // namespace
