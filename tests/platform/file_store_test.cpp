// The file services the configuration store builds on, on the real file system.
#include "platform/file_store.hpp"
#include "temp_folder.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;

using test::TempFolder;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::span<const std::byte> bytes_of(const std::string& text) {
    return std::as_bytes(std::span{text});
}

TEST(ReplaceFile, WritesExactlyTheBytesAndLeavesNothingBeside) {
    const std::vector<std::string> cases = {
        "",
        "{\"channel\":\"stable\"}",
        std::string("a\0b\r\n\xEF\xBB\xBF", 7),
        "gr\xC3\xBC\xC3\x9F"
        "e \xE2\x98\x83",
        std::string(200000, 'x'),
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        const TempFolder folder;
        const fs::path target = folder.path() / "installer_config.json";
        ASSERT_TRUE(platform::replace_file(target, bytes_of(bytes)));
        EXPECT_EQ(contents(target), bytes);
        EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
    }
}

TEST(ReplaceFile, ReplacesAnEarlierFileWhole) {
    const TempFolder folder;
    const fs::path target = folder.file("installer_config.json", std::string(5000, 'o'));
    ASSERT_TRUE(platform::replace_file(target, bytes_of("new")));
    EXPECT_EQ(contents(target), "new");
    ASSERT_TRUE(platform::replace_file(target, bytes_of("")));
    EXPECT_EQ(contents(target), "");
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
}

TEST(ReplaceFile, FailsWithoutTouchingAnythingWhenItCannotBePlaced) {
    const TempFolder folder;
    // No folder to write in.
    const auto missing =
        platform::replace_file(folder.path() / "missing" / "f.json", bytes_of("x"));
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().message.empty());
    EXPECT_TRUE(names_in(folder.path()).empty());

    // A file where the folder should be.
    folder.file("kovane-console", "a file");
    const auto blocked =
        platform::replace_file(folder.path() / "kovane-console" / "f.json", bytes_of("x"));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(contents(folder.path() / "kovane-console"), "a file");

    // A folder in the file's place: it is not replaced.
    fs::create_directory(folder.path() / "installer_config.json");
    folder.file("installer_config.json/inside", "kept");
    const auto folder_there =
        platform::replace_file(folder.path() / "installer_config.json", bytes_of("x"));
    ASSERT_FALSE(folder_there);
    EXPECT_EQ(contents(folder.path() / "installer_config.json" / "inside"), "kept");
    EXPECT_EQ(names_in(folder.path()),
              (std::vector<std::string>{"installer_config.json", "kovane-console"}));
}

#ifdef _WIN32
TEST(ReplaceFile, KeepsTheEarlierFileWhenTheReplacementIsRefused) {
    const TempFolder folder;
    const fs::path target = folder.file("installer_config.json", "earlier");
    // Held open without FILE_SHARE_DELETE, the file cannot be replaced.
    const HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const auto refused = platform::replace_file(target, bytes_of("new content"));
    CloseHandle(holder);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().operation, "MoveFileExW");
    EXPECT_EQ(contents(target), "earlier");
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
}
#else
// Lowers the largest file this process may write, and puts it back afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        // Past the limit a write fails with EFBIG instead of raising SIGXFSZ.
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_handler_);
    }

private:
    rlimit saved_{};
    void (*previous_handler_)(int) = nullptr;
};

TEST(ReplaceFile, KeepsTheEarlierFileWhenTheWriteFailsPartWay) {
    const TempFolder folder;
    const std::string earlier(3000, 'e');
    const fs::path target = folder.file("installer_config.json", earlier);
    std::expected<void, platform::SystemError> result;
    {
        const FileSizeLimit limit(4096);
        result = platform::replace_file(target, bytes_of(std::string(10000, 'n')));
    }
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().operation, "write");
    EXPECT_EQ(result.error().code, static_cast<std::uint32_t>(EFBIG));
    EXPECT_EQ(contents(target), earlier);
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
}
#endif

TEST(Folders, AttributesAreReadThroughWhateverTheNameIs) {
    const TempFolder folder;
    EXPECT_TRUE(platform::query_attributes(folder.path()));
    EXPECT_TRUE(platform::query_attributes(folder.file("plain", "x")));
    const auto missing = platform::query_attributes(folder.path() / "missing");
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().message.empty());
#ifndef _WIN32
    // Links are followed: one that leads nowhere cannot be queried.
    fs::create_symlink(folder.path() / "nowhere", folder.path() / "dangling");
    EXPECT_FALSE(platform::query_attributes(folder.path() / "dangling"));
    fs::create_directory_symlink(folder.path(), folder.path() / "to-self");
    EXPECT_TRUE(platform::query_attributes(folder.path() / "to-self"));
#endif
}

TEST(Folders, CreatesOneLevelOnly) {
    const TempFolder folder;
    ASSERT_TRUE(platform::create_folder(folder.path() / "one"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "one"));
    EXPECT_FALSE(platform::create_folder(folder.path() / "one"));
    const auto deep = platform::create_folder(folder.path() / "two" / "three");
    ASSERT_FALSE(deep);
    EXPECT_FALSE(deep.error().message.empty());
    EXPECT_FALSE(fs::exists(folder.path() / "two"));
}

} // namespace
