// The abnormal ends of storing the configuration and of the locale query, with the user's side
// faked. The earlier file and folders are checked after the child process has ended.
#include "kov/config_fetch.hpp"
#include "platform_fakes.hpp"
#include "temp_folder.hpp"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string report_from(std::string_view file, std::string_view detail) {
    return "^fatal error at common/src/" + std::string(file) +
           "\\.cpp:[0-9]+:[0-9]+: " + std::string(detail) + "\n$";
}

TEST(UserLocaleNameDeathTest, AQueryThatFailsEndsTheRun) {
    for (const int result : {0, -1}) {
        test::fakes::locale_answer = {u"en-US", result};
        EXPECT_DEATH((void)kov::user_locale_name(),
                     report_from("user_locale", "assertion failed: len > 0"));
    }
}

class StoreConfigDeathTest : public ::testing::Test {
protected:
    void SetUp() override { test::fakes::roaming_folder = roaming_.path(); }
    fs::path product_folder() const { return roaming_.path() / "kovane-console"; }
    fs::path config_file() const { return product_folder() / "installer_config.json"; }

    test::TempFolder roaming_;
};

TEST_F(StoreConfigDeathTest, AFailedKnownFolderQueryReportsItsHresultAndText) {
    test::fakes::roaming_folder = std::unexpected(platform::ComError{
        "SHGetKnownFolderPath", 0x80070002, "The system cannot find the file specified."});
    EXPECT_DEATH(kov::store_installer_config("{}"),
                 report_from("config_store", "SHGetKnownFolderPath failed: The system cannot find "
                                             "the file specified\\. \\(HRESULT 0x80070002\\)"));
}

TEST_F(StoreConfigDeathTest, AMissingRoamingFolderIsNotCreated) {
    test::fakes::roaming_folder = roaming_.path() / "missing";
    EXPECT_DEATH(kov::store_installer_config("{}"),
                 report_from("config_store", "mkdir failed: No such file or directory "
                                             "\\(os error 2\\)"));
    EXPECT_FALSE(fs::exists(roaming_.path() / "missing"));
}

TEST_F(StoreConfigDeathTest, AFileNamedLikeTheProductFolderMakesTheWriteFail) {
    std::ofstream(product_folder()) << "not a folder";
    EXPECT_DEATH(kov::store_installer_config("{}"),
                 report_from("config_store", "open failed: Not a directory \\(os error 20\\)"));
    EXPECT_EQ(contents(product_folder()), "not a folder");
}

TEST_F(StoreConfigDeathTest, AWriteThatFailsPartWayKeepsTheEarlierFile) {
    fs::create_directory(product_folder());
    const std::string earlier = "{\"channel\":\"earlier\"}";
    std::ofstream(config_file()) << earlier;
    const auto store_with_small_file_limit = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        kov::store_installer_config(std::string(10000, 'n'));
    };
    EXPECT_DEATH(store_with_small_file_limit(),
                 report_from("config_store", "write failed: File too large \\(os error 27\\)"));
    EXPECT_EQ(contents(config_file()), earlier);
    // The product folder holds nothing else: the half-written temporary file is gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(product_folder()), fs::directory_iterator()), 1);
}

} // namespace
