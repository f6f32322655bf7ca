#include "kov/installer_tag.hpp"

#include <gtest/gtest.h>

namespace {

// The report names the decoder's own place, then the error with its message quoted.
std::string report(std::string_view detail) {
    return "^fatal error at common/src/installer_tag\\.cpp:[0-9]+:[0-9]+: " + std::string{detail} +
           "\n$";
}

TEST(ParseInstallerTagDeathTest, TextThatDoesNotDecodeEndsTheRun) {
    EXPECT_DEATH((void)kov::parse_installer_tag("{}"),
                 report("Error\\(\"missing field `config_url`\", line: 1, column: 2\\)"));
    // Quotes and backslashes of the message are escaped once more in the report.
    EXPECT_DEATH((void)kov::parse_installer_tag(R"("q\"")"),
                 report(R"(Error\("invalid type: string \\"q\\\\\\"\\", expected struct )"
                        R"(InstallerTag", line: 1, column: 5\))"));
    EXPECT_EQ(kov::parse_installer_tag(R"({"config_url":"u"})"),
              (kov::InstallerTag{std::nullopt, "u", std::nullopt}));
}

} // namespace
