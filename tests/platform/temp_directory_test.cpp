// The temporary directory owner: its name, its retries on a crowded folder, its deletion.
#include "platform/temp_directory.hpp"
#include "temp_folder.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

namespace fs = std::filesystem;

using test::TempFolder;

// Random sources are plain functions: these play back a script held in the test.
struct Script {
    std::vector<std::uint8_t> bytes; // played in a loop
    std::size_t next = 0;
    std::size_t draws = 0;
};
Script* script = nullptr;

std::expected<void, platform::SystemError> scripted(std::span<std::byte> out) {
    ++script->draws;
    for (std::byte& b : out) {
        b = std::byte{script->bytes[script->next++ % script->bytes.size()]};
    }
    return {};
}

std::expected<void, platform::SystemError> failing(std::span<std::byte>) {
    return std::unexpected(platform::SystemError{"random", 5, "no randomness"});
}

class TempDirectoryTest : public testing::Test {
protected:
    void play(std::vector<std::uint8_t> bytes) {
        played_ = Script{std::move(bytes)};
        script = &played_;
    }
    void TearDown() override { script = nullptr; }

    TempFolder folder_;
    Script played_;
};

bool is_name_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

TEST_F(TempDirectoryTest, NameIsDotTmpAndSixLettersOrDigits) {
    for (int i = 0; i < 20; ++i) {
        const auto directory =
            platform::TempDirectory::create_in(folder_.path(), platform::system_random);
        ASSERT_TRUE(directory) << platform::describe(directory.error());
        EXPECT_TRUE(fs::is_directory(directory->path()));
        EXPECT_EQ(directory->path().parent_path(), folder_.path());
        const std::string name = directory->path().filename().string();
        ASSERT_EQ(name.size(), 10u) << name;
        EXPECT_EQ(name.substr(0, 4), ".tmp");
        EXPECT_TRUE(std::all_of(name.begin() + 4, name.end(), is_name_character)) << name;
    }
}

TEST_F(TempDirectoryTest, EveryCharacterIsEquallyLikely) {
    // 62 characters: bytes 248 to 255 would favour the first eight, so they are drawn again.
    play({255, 248, 0, 25, 26, 51, 52, 61, 62, 247});
    const auto directory = platform::TempDirectory::create_in(folder_.path(), scripted);
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->path().filename(), ".tmpAZaz09");
}

TEST_F(TempDirectoryTest, NameThatExistsAsAnythingIsDrawnAgain) {
    fs::create_directory(folder_.path() / ".tmpAAAAAA");
    std::ofstream(folder_.path() / ".tmpBBBBBB") << "a file";
    // Each name takes one draw of 16 bytes: six A, then six B, then six C.
    std::vector<std::uint8_t> bytes(48);
    std::fill(bytes.begin(), bytes.begin() + 16, 0);
    std::fill(bytes.begin() + 16, bytes.begin() + 32, 1);
    std::fill(bytes.begin() + 32, bytes.end(), 2);
    play(bytes);
    const auto directory = platform::TempDirectory::create_in(folder_.path(), scripted);
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->path().filename(), ".tmpCCCCCC");
    EXPECT_EQ(played_.draws, 3u);
}

TEST_F(TempDirectoryTest, CrowdedFolderGivesUpAfterAllAttempts) {
    fs::create_directory(folder_.path() / ".tmpAAAAAA");
    play({0});
    const auto directory = platform::TempDirectory::create_in(folder_.path(), scripted);
    ASSERT_FALSE(directory);
    EXPECT_EQ(played_.draws, platform::TEMP_NAME_ATTEMPTS);
    EXPECT_FALSE(directory.error().system);
    EXPECT_EQ(directory.error().path, folder_.path());
    EXPECT_EQ(platform::describe(directory.error()),
              "too many temporary files exist at path \"" + folder_.path().string() + "\"");
}

TEST_F(TempDirectoryTest, OtherFailureEndsAtOnceWithTheDirectoryPath) {
    play({0});
    const fs::path missing = folder_.path() / "missing";
    const auto directory = platform::TempDirectory::create_in(missing, scripted);
    ASSERT_FALSE(directory);
    EXPECT_EQ(played_.draws, 1u);
    ASSERT_TRUE(directory.error().system);
    EXPECT_NE(directory.error().system->code, 0u);
    EXPECT_EQ(directory.error().path, missing / ".tmpAAAAAA");
    const std::string report = platform::describe(directory.error());
    EXPECT_NE(report.find(" failed: "), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with(" at path \"" + (missing / ".tmpAAAAAA").string() + "\""))
        << report;

    const auto no_random = platform::TempDirectory::create_in(folder_.path(), failing);
    ASSERT_FALSE(no_random);
    EXPECT_EQ(no_random.error().system->operation, "random");
}

TEST_F(TempDirectoryTest, ReleaseDeletesTheDirectoryWithItsContents) {
    std::optional<platform::TempDirectory> kept;
    {
        auto directory =
            platform::TempDirectory::create_in(folder_.path(), platform::system_random);
        ASSERT_TRUE(directory);
        std::ofstream(directory->path() / "kovsetup.exe") << "payload";
        fs::create_directories(directory->path() / "nested" / "deeper");
        std::ofstream(directory->path() / "nested" / "deeper" / "file") << "x";
        kept.emplace(std::move(*directory));
    }
    // The moved-from owner has deleted nothing.
    const fs::path path = kept->path();
    EXPECT_TRUE(fs::exists(path / "kovsetup.exe"));
    kept.reset();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(folder_.path()));
}

TEST_F(TempDirectoryTest, ReleaseDeletesReadOnlyFiles) {
    fs::path path;
    {
        auto directory =
            platform::TempDirectory::create_in(folder_.path(), platform::system_random);
        ASSERT_TRUE(directory);
        path = directory->path();
        fs::create_directory(path / "nested");
        for (const fs::path& file : {path / "kovsetup.exe", path / "nested" / "setup.log"}) {
            std::ofstream(file) << "x";
            fs::permissions(file, fs::perms::owner_read);
        }
    }
    EXPECT_FALSE(fs::exists(path));
}

// A link the setup program left behind goes, but what it points at is the user's and stays.
TEST_F(TempDirectoryTest, ReleaseDeletesLinksButNotWhatTheyPointAt) {
    const fs::path outside = folder_.path() / "outside";
    fs::create_directories(outside / "documents");
    std::ofstream(outside / "documents" / "letter.txt") << "keep me";
    std::ofstream(outside / "notes.txt") << "keep me too";
    fs::path path;
    {
        auto directory =
            platform::TempDirectory::create_in(folder_.path(), platform::system_random);
        ASSERT_TRUE(directory);
        path = directory->path();
        fs::create_directory(path / "nested");
        std::error_code error;
        fs::create_directory_symlink(outside / "documents", path / "nested" / "documents", error);
        if (error) {
            GTEST_SKIP() << "this system cannot make links: " << error.message();
        }
        fs::create_directory_symlink(outside, path / "outside", error);
        ASSERT_FALSE(error) << error.message();
        fs::create_symlink(outside / "notes.txt", path / "notes.txt", error);
        ASSERT_FALSE(error) << error.message();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_TRUE(fs::exists(outside / "documents" / "letter.txt"));
    EXPECT_TRUE(fs::exists(outside / "notes.txt"));
}

TEST_F(TempDirectoryTest, RelativeFolderIsTakenFromTheCurrentDirectory) {
    fs::create_directory(folder_.path() / "relative");
    const fs::path saved = fs::current_path();
    fs::current_path(folder_.path());
    {
        const auto directory =
            platform::TempDirectory::create_in("relative", platform::system_random);
        ASSERT_TRUE(directory);
        EXPECT_TRUE(directory->path().is_relative());
        EXPECT_TRUE(fs::is_directory(folder_.path() / directory->path()));
    }
    EXPECT_TRUE(fs::is_empty(folder_.path() / "relative"));
    fs::current_path(saved);
}

TEST(TempDirectory, DefaultIsInTheUsersTemporaryFolder) {
    const auto folder = platform::temporary_folder();
    ASSERT_TRUE(folder);
    const auto directory = platform::TempDirectory::create();
    ASSERT_TRUE(directory);
    // The folder comes with a trailing separator on Windows.
    EXPECT_EQ(directory->path().parent_path(), (*folder / "x").parent_path());
}

} // namespace
