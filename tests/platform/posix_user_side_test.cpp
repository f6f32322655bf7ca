// The Linux stand-ins for the user's side: locale from the environment, roaming folder from the
// XDG configuration folder, and no desktop for boxes.
#include "platform/known_folder.hpp"
#include "platform/message_box.hpp"
#include "platform/text.hpp"
#include "platform/user_locale.hpp"

#include <array>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// Sets an environment variable for one test, or removes it, and restores it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { saved_ ? setenv(name_, saved_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(PosixUserLocale, NamesTheEnvironmentsLocaleTheWindowsWay) {
    const std::pair<const char*, const char*> cases[] = {
        {"en_US.UTF-8", "en-US"}, {"de_DE.UTF-8@euro", "de-DE"},
        {"sr_RS@latin", "sr-RS"}, {"C", ""},
        {"C.UTF-8", ""},          {"POSIX", ""},
    };
    const ScopedVariable messages("LC_MESSAGES", nullptr);
    const ScopedVariable lang("LANG", "fr_FR.UTF-8");
    for (const auto& [environment, expected] : cases) {
        SCOPED_TRACE(environment);
        const ScopedVariable all("LC_ALL", environment);
        std::array<char16_t, platform::LOCALE_NAME_UNITS> buffer{};
        const int written = platform::user_default_locale_name(buffer);
        ASSERT_EQ(written, static_cast<int>(std::string_view(expected).size() + 1));
        EXPECT_EQ(platform::utf16_to_utf8({buffer.data(), std::size_t(written - 1)}), expected);
        EXPECT_EQ(buffer[std::size_t(written - 1)], u'\0');
    }
    const ScopedVariable all("LC_ALL", nullptr);
    std::array<char16_t, platform::LOCALE_NAME_UNITS> buffer{};
    ASSERT_EQ(platform::user_default_locale_name(buffer), 6);
    EXPECT_EQ(platform::utf16_to_utf8({buffer.data(), 5}), "fr-FR");

    const ScopedVariable too_long("LC_ALL", std::string(85, 'a').c_str());
    EXPECT_EQ(platform::user_default_locale_name(buffer), 0);
}

TEST(PosixRoamingFolder, IsTheXdgConfigurationFolder) {
    const ScopedVariable home("HOME", "/home/someone");
    {
        const ScopedVariable xdg("XDG_CONFIG_HOME", "/elsewhere/config");
        EXPECT_EQ(platform::roaming_app_data_folder(), std::filesystem::path("/elsewhere/config"));
    }
    {
        const ScopedVariable relative("XDG_CONFIG_HOME", "relative");
        EXPECT_EQ(platform::roaming_app_data_folder(),
                  std::filesystem::path("/home/someone/.config"));
    }
    const ScopedVariable xdg("XDG_CONFIG_HOME", nullptr);
    const ScopedVariable no_home("HOME", nullptr);
    EXPECT_FALSE(platform::roaming_app_data_folder());
}

TEST(PosixMessageBox, AnswersAsABoxThatCannotBeShown) {
    EXPECT_EQ(platform::show_message_box(u"Proceed?", u"Kovane Console",
                                         platform::BOX_YES_NO | platform::BOX_ICON_WARNING),
              0);
}

} // namespace
