#include "silent_switch.hpp"

#include <gtest/gtest.h>

namespace {

using Arguments = std::vector<std::u16string>;

struct SplitCase {
    const char* name;
    std::u16string_view line;
    Arguments expected;
};

class SplitCommandLine : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, SplitsLikeWindows) {
    EXPECT_EQ(kov::split_command_line(GetParam().line, u"C:\\own\\path.exe"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLine,
    testing::Values(
        SplitCase{"EmptyLineGivesOwnPath", u"", {u"C:\\own\\path.exe"}},
        SplitCase{"ProgramOnly", u"prog.exe", {u"prog.exe"}},
        SplitCase{"BlanksAfterProgram", u"prog.exe \t ", {u"prog.exe"}},
        SplitCase{"QuotedProgramWithBlank",
                  u"\"C:\\My Apps\\prog.exe\" a",
                  {u"C:\\My Apps\\prog.exe", u"a"}},
        SplitCase{
            "ProgramBackslashesAreLiteral", u"C:\\dir\\\"x y\\\"\\ z", {u"C:\\dir\\x y\\\\", u"z"}},
        SplitCase{"TextGluedToQuotedProgramBelongsToIt", u"\"C:\\p.exe\"/S", {u"C:\\p.exe/S"}},
        SplitCase{"LeadingBlankGivesEmptyProgram", u" /S", {u"", u"/S"}},
        SplitCase{"TabsSeparate", u"p\ta\t\tb", {u"p", u"a", u"b"}},
        SplitCase{"BackslashesWithoutQuoteAreLiteral", u"p a\\\\b\\", {u"p", u"a\\\\b\\"}},
        SplitCase{"TwoBackslashesAndQuote", u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
        SplitCase{"ThreeBackslashesAndQuote", u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
        SplitCase{"OneBackslashAndQuote", u"p \\\"a b", {u"p", u"\"a", u"b"}},
        SplitCase{"DoubledQuoteInsideQuotes", u"p \"a\"\"b\" c", {u"p", u"a\"b", u"c"}},
        SplitCase{"QuoteEndsQuotingBeforeOtherCharacter", u"p \"a\"b c", {u"p", u"ab", u"c"}},
        SplitCase{"EmptyQuotedArgumentInTheMiddle", u"p \"\" x", {u"p", u"", u"x"}},
        SplitCase{"ClosingPairAtTheEndGivesEmptyArgument", u"p \"\"", {u"p", u""}},
        SplitCase{"QuoteAtTheEndLeavesQuotingOn", u"p \"a b\"", {u"p", u"a b"}},
        SplitCase{"UnclosedQuoteKeepsBlanks", u"p \"a b ", {u"p", u"a b "}},
        SplitCase{"TrailingBackslashesBeforeEnd", u"p a\\\\", {u"p", u"a\\\\"}},
        SplitCase{"NonAsciiUnitsAreLiteral", u"p \u00e9\U0001F600", {u"p", u"\u00e9\U0001F600"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string{info.param.name}; });

struct SwitchCase {
    std::u16string_view line;
    bool silent;
};

class SilentSwitch : public testing::TestWithParam<SwitchCase> {};

TEST_P(SilentSwitch, MatchesOnlyExactSlashS) {
    EXPECT_EQ(kov::silent_switch_in(GetParam().line, u"C:\\p.exe"), GetParam().silent);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SilentSwitch,
    testing::Values(SwitchCase{u"", false}, SwitchCase{u"p.exe", false},
                    SwitchCase{u"p.exe /S", true}, SwitchCase{u"p.exe /x /S y", true},
                    SwitchCase{u"p.exe /s", false}, SwitchCase{u"p.exe -S", false},
                    SwitchCase{u"p.exe /S=1", false}, SwitchCase{u"p.exe /SILENT", false},
                    SwitchCase{u"p.exe S", false}, SwitchCase{u"p.exe \"/S\"", true},
                    SwitchCase{u"p.exe \"/S \"", false}, SwitchCase{u"/S", false},
                    SwitchCase{u"\"/S\"", false}, SwitchCase{u" /S", true},
                    SwitchCase{u"\"C:\\p.exe\"/S", false}, SwitchCase{u"p.exe \"\" /S", true},
                    SwitchCase{u"p.exe /S /S", true}, SwitchCase{u"p.exe \\\"/S", false}));

} // namespace
