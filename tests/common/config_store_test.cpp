// Storing the configuration and reading the locale name, with the user's side faked: the roaming
// folder is a fresh temporary folder, the locale query answers what each test sets.
#include "kov/config_fetch.hpp"
#include "platform_fakes.hpp"
#include "temp_folder.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StoreConfig : public ::testing::Test {
protected:
    void SetUp() override {
        test::fakes::roaming_folder = roaming_.path();
        test::fakes::known_folder_queries = 0;
    }
    fs::path product_folder() const { return roaming_.path() / "kovane-console"; }
    fs::path config_file() const { return product_folder() / "installer_config.json"; }

    test::TempFolder roaming_;
};

TEST_F(StoreConfig, WritesTheTextByteForByteIntoTheProductFolder) {
    const std::vector<std::string> configs = {
        "",                                     // an empty file
        "{\"channel\":\"stable\"}",             // as it came
        "line one\nline two\r\n\t\"quoted\"\\", // escapes already resolved
        "gr\xC3\xBC\xC3\x9F"
        "e \xE2\x98\x83 \xF0\x9F\x98\x80", // UTF-8, no byte-order mark
        std::string("before\0after", 12),  // a NUL stays
    };
    for (const std::string& config : configs) {
        SCOPED_TRACE(config);
        kov::store_installer_config(config);
        EXPECT_EQ(contents(config_file()), config);
        EXPECT_EQ(fs::file_size(config_file()), config.size());
    }
    EXPECT_EQ(test::fakes::known_folder_queries, static_cast<int>(configs.size()));
    // Only the file: no temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(product_folder()), fs::directory_iterator()), 1);
}

TEST_F(StoreConfig, UsesAnExistingProductFolderAsItIs) {
    fs::create_directory(product_folder());
    std::ofstream(product_folder() / "other.txt") << "someone else's";
    std::ofstream(config_file()) << std::string(1000, 'o');
    kov::store_installer_config("{}");
    EXPECT_EQ(contents(config_file()), "{}");
    EXPECT_EQ(contents(product_folder() / "other.txt"), "someone else's");
}

TEST_F(StoreConfig, ConstantsNameThePlace) {
    EXPECT_EQ(kov::PRODUCT_FOLDER_NAME, "kovane-console");
    EXPECT_EQ(kov::CONFIG_FILE_NAME, "installer_config.json");
}

struct LocaleCase {
    const char* name;
    std::u16string units;
    int result;
    std::string expected;
};

TEST(UserLocaleName, TakesTheUnitsBeforeTheTerminatorAsUtf8) {
    const LocaleCase cases[] = {
        {"plain", u"en-US", 6, "en-US"},
        {"script", u"sr-Latn-RS", 11, "sr-Latn-RS"},
        {"invariant", u"", 1, ""},
        {"non-ASCII", u"x-gr\u00FC\u00DF", 7, "x-gr\xC3\xBC\xC3\x9F"},
        {"pair", u"x-\U0001F600", 5, "x-\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::u16string{u'a', char16_t(0xD800), u'b'}, 4,
         "a\xEF\xBF\xBD"
         "b"},
        {"lone low surrogate", std::u16string{char16_t(0xDC00), u'z'}, 3, "\xEF\xBF\xBDz"},
        {"count shorter than the text", u"en-US", 3, "en"},
        {"count past the terminator", u"de", 5, std::string("de\0\0", 4)},
        {"full buffer", std::u16string(84, u'a'), 85, std::string(84, 'a')},
    };
    for (const LocaleCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::fakes::locale_answer = {c.units, c.result};
        test::fakes::locale_queries.clear();
        EXPECT_EQ(kov::user_locale_name(), c.expected);
        ASSERT_EQ(test::fakes::locale_queries.size(), 1u);
        EXPECT_EQ(test::fakes::locale_queries[0].buffer_size, 85u);
        EXPECT_TRUE(test::fakes::locale_queries[0].buffer_was_zeroed);
    }
}

} // namespace
