#include "kov/json_document.hpp"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

using kov::json::Document;
using kov::json::Kind;
using kov::json::Number;
using kov::json::Value;

Document parsed(std::string_view text) {
    kov::json::Result<Document> document = Document::parse(text);
    EXPECT_TRUE(document.has_value())
        << kov::debug_form(kov::json::to_error(text, document.error()));
    return std::move(*document);
}

TEST(JsonDocument, KeepsEveryMemberInOrderWithRepeatedKeys) {
    const std::string text = R"({"a":1,"a":[true,null,false],"b":"x\u00e9","a":{},"":{"a":[]}})";
    const Document document = parsed(text);
    const Value root = document.root();
    ASSERT_EQ(root.kind(), Kind::Object);

    std::vector<std::string_view> keys;
    std::vector<Kind> kinds;
    for (const kov::json::Member member : root.members()) {
        keys.push_back(member.key);
        kinds.push_back(member.value.kind());
    }
    EXPECT_EQ(keys, (std::vector<std::string_view>{"a", "a", "b", "a", ""}));
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Number, Kind::Array, Kind::String, Kind::Object,
                                        Kind::Object}));

    auto member = root.members().begin();
    ++member;
    std::vector<Kind> elements;
    std::vector<bool> truths;
    for (const Value element : (*member).value.elements()) {
        elements.push_back(element.kind());
        truths.push_back(element.kind() == Kind::Boolean && element.boolean());
    }
    EXPECT_EQ(elements, (std::vector<Kind>{Kind::Boolean, Kind::Null, Kind::Boolean}));
    EXPECT_EQ(truths, (std::vector<bool>{true, false, false}));
    ++member;
    EXPECT_EQ((*member).value.string(), "x\xC3\xA9");
    ++member;
    EXPECT_TRUE((*member).value.members().begin() == (*member).value.members().end());
    ++member;
    const kov::json::Member inner = *(*member).value.members().begin();
    EXPECT_EQ(inner.key, "a");
    EXPECT_EQ(inner.value.kind(), Kind::Array);
    ++member;
    EXPECT_TRUE(member == root.members().end());
}

// Integers keep 64 bits where they fit, whether the tree holds them in one word or two;
// beyond 64 bits, and minus zero, they are doubles.
TEST(JsonDocument, KeepsNumbersWithTheirKind) {
    const struct {
        const char* text;
        Number::Kind kind;
        std::uint64_t u;
        std::int64_t i;
        double f;
    } cases[] = {
        {"0", Number::Kind::Unsigned, 0, 0, 0},
        {"576460752303423487", Number::Kind::Unsigned, 576460752303423487, 0, 0},
        {"576460752303423488", Number::Kind::Unsigned, 576460752303423488, 0, 0},
        {"18446744073709551615", Number::Kind::Unsigned, 18446744073709551615u, 0, 0},
        {"-1", Number::Kind::Signed, 0, -1, 0},
        {"-576460752303423488", Number::Kind::Signed, 0, -576460752303423488, 0},
        {"-576460752303423489", Number::Kind::Signed, 0, -576460752303423489, 0},
        {"-9223372036854775808", Number::Kind::Signed, 0, INT64_MIN, 0},
        {"-9223372036854775809", Number::Kind::Float, 0, 0, -9223372036854775808.0},
        {"18446744073709551616", Number::Kind::Float, 0, 0, 18446744073709551616.0},
        {"123456789012345678901234567890", Number::Kind::Float, 0, 0, 1.2345678901234568e29},
        {"-0", Number::Kind::Float, 0, 0, -0.0},
        {"2.5e-3", Number::Kind::Float, 0, 0, 0.0025},
        {"1e308", Number::Kind::Float, 0, 0, 1e308},
    };
    for (const auto& c : cases) {
        const std::string text = std::string{"["} + c.text + "]";
        const Document document = parsed(text);
        const Value number = *document.root().elements().begin();
        ASSERT_EQ(number.kind(), Kind::Number) << c.text;
        const Number got = number.number();
        ASSERT_EQ(got.kind, c.kind) << c.text;
        switch (c.kind) {
        case Number::Kind::Unsigned:
            EXPECT_EQ(got.u, c.u) << c.text;
            break;
        case Number::Kind::Signed:
            EXPECT_EQ(got.i, c.i) << c.text;
            break;
        case Number::Kind::Float:
            EXPECT_EQ(got.f, c.f) << c.text;
            EXPECT_EQ(std::signbit(got.f), std::signbit(c.f)) << c.text;
            break;
        }
    }
}

TEST(JsonDocument, StopsAfterTheFirstValue) {
    const std::string text = " \n{\"a\":[1,2]}  x";
    EXPECT_EQ(parsed(text).end(), 13u);
    EXPECT_EQ(parsed("12 ").end(), 2u);
    EXPECT_EQ(parsed("\"s\"\"t\"").end(), 3u);
}

// 127 levels deep and back out: every container's jump lands on its next sibling.
TEST(JsonDocument, NavigatesTheDeepestNesting) {
    std::string text;
    for (int level = 0; level < 126; ++level) {
        text += level % 2 == 0 ? "[" : R"({"k":)";
    }
    text += "[\"in\"]";
    for (int level = 125; level >= 0; --level) {
        text += level % 2 == 0 ? ",7]" : R"(,"after":8})";
    }
    const Document document = parsed(text);
    Value value = document.root();
    for (int level = 0; level < 126; ++level) {
        if (level % 2 == 0) {
            ASSERT_EQ(value.kind(), Kind::Array);
            auto element = value.elements().begin();
            const Value first = *element;
            ++element;
            ASSERT_EQ((*element).number().u, 7u) << level;
            value = first;
        } else {
            ASSERT_EQ(value.kind(), Kind::Object);
            auto member = value.members().begin();
            const Value first = (*member).value;
            ++member;
            ASSERT_EQ((*member).key, "after") << level;
            ASSERT_EQ((*member).value.number().u, 8u) << level;
            value = first;
        }
    }
    ASSERT_EQ(value.kind(), Kind::Array);
    EXPECT_EQ((*value.elements().begin()).string(), "in");
}

// Strings of every storage: short and long in place, short decoded, long decoded on their own.
TEST(JsonDocument, TakesStringsOfEveryStorage) {
    const std::string long_plain(2 << 20, 'p');
    std::string long_escaped_text;
    std::string long_escaped;
    while (long_escaped.size() < 10'000) {
        long_escaped_text += R"(ab\"\n)";
        long_escaped += "ab\"\n";
    }
    const std::string text =
        R"(["short",")" + long_plain + R"(","d\u00e9c",")" + long_escaped_text + R"("])";
    Document document = parsed(text);
    std::vector<Value> values;
    for (const Value value : document.root().elements()) {
        values.push_back(value);
    }
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].string(), "short");
    EXPECT_EQ(values[1].string(), long_plain);
    EXPECT_EQ(values[2].string(), "d\xC3\xA9\x63");
    EXPECT_EQ(values[3].string(), long_escaped);
    EXPECT_EQ(document.take_string(values[1]), long_plain);
    EXPECT_EQ(document.take_string(values[3]), long_escaped);
}

} // namespace
