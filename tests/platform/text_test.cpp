#include "platform/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Validation, FollowsTheStrictRules) {
    struct Case {
        std::string_view bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ASCII", true},
        {"\xC3\xA9", true},                  // U+00E9
        {"\xE2\x82\xAC", true},              // U+20AC
        {"\xF0\x9F\x98\x80", true},          // U+1F600
        {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
        {"\xEF\xBB\xBF", true},              // byte-order mark
        {std::string_view("a\0b", 3), true}, // U+0000 is a character
        {"\x80", false},
        {"\xC0\x80", false},         // overlong
        {"\xC1\xBF", false},         // overlong
        {"\xE0\x9F\xBF", false},     // overlong
        {"\xF0\x8F\xBF\xBF", false}, // overlong
        {"\xED\xA0\x80", false},     // encoded surrogate
        {"\xED\xBF\xBF", false},     // encoded surrogate
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xFF", false},
        {"\xE2\x82", false}, // cut
        {"\xC3", false},     // cut
        {"\xC3\x28", false}, // not a continuation
        // Runs of ASCII are taken eight bytes at a time: faults just after, inside and across
        // such runs.
        {"12345678\xC3\xA9"
         "abcdefgh",
         true},
        {"12345678\xC3", false},
        {"1234567\xC3\xA9"
         "abcdefgh\xF0\x9F\x98\x80",
         true},
        {"1234567\xC3"
         "abcdefgh",
         false},
        {"12345678abcdefgh\xED\xA0\x80", false},
        {"abcdefg\x80", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf16Conversion, RoundTripsAndReplacesUnpairedSurrogates) {
    EXPECT_EQ(platform::utf8_to_utf16("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00e9\U0001F600");
    EXPECT_EQ(platform::utf16_to_utf8(u"a\u00e9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
    const char16_t lone_lead[] = {u'x', 0xD83D, u'y', 0};
    EXPECT_EQ(platform::utf16_to_utf8(lone_lead), "x\xEF\xBF\xBDy");
    const char16_t lone_trail_at_end[] = {u'x', 0xDE00, 0};
    EXPECT_EQ(platform::utf16_to_utf8(lone_trail_at_end), "x\xEF\xBF\xBD");
    EXPECT_EQ(platform::utf8_to_utf16("\xFF"
                                      "a"),
              u"\uFFFDa");
}

} // namespace

// Paths named by UTF-8 text keep every character, whatever the process's code page or locale.
TEST(PathFromUtf8, KeepsNonAsciiNames) {
    const std::string name = "c\xC3\xA9rts/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x94\x91.pem";
    const std::filesystem::path path = platform::path_from_utf8(name);
    EXPECT_EQ(platform::path_text(path), name);
    EXPECT_EQ(platform::path_text(path.filename()), "\xF0\x9F\x94\x91.pem");
#ifdef _WIN32
    EXPECT_EQ(path.native(), L"c\u00E9rts/\u65E5\u672C/\U0001F511.pem");
#endif
}
