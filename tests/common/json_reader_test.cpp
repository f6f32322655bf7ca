#include "kov/json_reader.hpp"

#include <gtest/gtest.h>

namespace {

using kov::JsonError;

TEST(DebugForm, QuotesTheMessageAsTheReportShowsIt) {
    const struct {
        std::string message;
        std::string report;
    } cases[] = {
        {"missing field `config_url`", R"("missing field `config_url`")"},
        {"control character (\\u0000-\\u001F) found",
         R"("control character (\\u0000-\\u001F) found")"},
        {std::string{"q\" \\ \t\r\n"} + '\0', R"("q\" \\ \t\r\n\0")"},
        {"\x01\x1F\x7F", R"("\u{1}\u{1f}\u{7f}")"},
        // Printable non-ASCII stays as it is, a blank too.
        {"gr\xC3\xBC\xC3\x9F\x65 \xE2\x98\x83 \xF0\x9F\x98\x80",
         "\"gr\xC3\xBC\xC3\x9F\x65 \xE2\x98\x83 \xF0\x9F\x98\x80\""},
        // No-break space, zero-width space, line separator, combining acute, byte-order mark,
        // private use, unassigned, a tag character.
        {"\xC2\xA0\xE2\x80\x8B\xE2\x80\xA8\xCC\x81\xEF\xBB\xBF\xEE\x80\x80\xCD\xB8\xF3\xA0\x80\x81",
         R"("\u{a0}\u{200b}\u{2028}\u{301}\u{feff}\u{e000}\u{378}\u{e0001}")"},
        {"a\xFF", R"("a\u{fffd}")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kov::debug_form(JsonError{c.message, 12, 0}),
                  "Error(" + c.report + ", line: 12, column: 0)")
            << c.report;
    }
}

// The configuration answer's strings must be UTF-8; its check runs on the decoded value and
// reports the point after the closing quote.
TEST(CursorReadString, ChecksUtf8WhenAsked) {
    const struct {
        std::string text; // after the opening quote
        bool valid;
    } cases[] = {
        {"caf\xC3\xA9\"", true},       {"\\u00e9\\uD83D\\uDE00\"", true}, {"caf\xC3\"", false},
        {"\xC3\\n\xA9\"", false},      {"\xED\xA0\x80\"", false},         {"\xC0\xAF\"", false},
        {"\xF4\x90\x80\x80\"", false},
    };
    for (const auto& c : cases) {
        kov::json::Cursor trusted{c.text};
        std::string value;
        EXPECT_TRUE(trusted.read_string(value).has_value());

        kov::json::Cursor checked{c.text};
        value.clear();
        const auto result = checked.read_string(value, kov::json::Utf8::Check);
        EXPECT_EQ(result.has_value(), c.valid) << testing::PrintToString(c.text);
        if (!result) {
            EXPECT_EQ(result.error().what, kov::json::Syntax::InvalidUnicodeCodePoint);
            EXPECT_EQ(result.error().offset, c.text.size());
        }
    }
}

} // namespace
