#include "kov/fail_fast.hpp"

#include <gtest/gtest.h>

namespace {

std::string at_this_file(int line, std::string_view detail) {
    return "^fatal error at tests/common/fail_fast_test\\.cpp:" + std::to_string(line) +
           ":[0-9]+: " + std::string{detail} + "\n$";
}

TEST(FailFastDeathTest, ReportsWhereAndWhatThenAborts) {
    EXPECT_DEATH(kov::fail_fast("something broke"), at_this_file(__LINE__, "something broke"));
}

TEST(FailFastDeathTest, ReportsSystemErrorsWithCodeAndMessage) {
    const platform::SystemError error{"CreateFileW", 32, "The file is in use."};
    const std::string expected =
        at_this_file(__LINE__ + 1, "CreateFileW failed: The file is in use\\. \\(os error 32\\)");
    EXPECT_DEATH(kov::fail_fast(error), expected);
}

TEST(FailFastDeathTest, TakeOrFailReportsTheCallersPlace) {
    std::expected<int, platform::SystemError> failed =
        std::unexpected(platform::SystemError{"open", 2, "No such file"});
    const std::string expected =
        at_this_file(__LINE__ + 1, "open failed: No such file \\(os error 2\\)");
    EXPECT_DEATH((void)kov::take_or_fail(std::move(failed)), expected);
    EXPECT_EQ(kov::take_or_fail(std::expected<int, platform::SystemError>{7}), 7);
}

} // namespace
