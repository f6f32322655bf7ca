// The setup file writer.
#include "platform/output_file.hpp"
#include "temp_folder.hpp"

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const std::byte> as_bytes(const std::string& text) {
    return std::as_bytes(std::span{text.data(), text.size()});
}

TEST(OutputFile, WritesEveryByteAndEmptiesAnEarlierFile) {
    const test::TempFolder folder;
    const fs::path path = folder.file("kovsetup.exe", std::string(100000, 'o'));
    std::string data;
    for (int i = 0; i < 3'000'000; ++i) {
        data += static_cast<char>(i * 7 % 251);
    }
    {
        auto file = platform::OutputFile::create(path);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->write_all(as_bytes("head")));
        EXPECT_TRUE(file->write_all({}));
        EXPECT_TRUE(file->write_all(as_bytes(data)));
    }
    EXPECT_EQ(contents(path), "head" + data);
}

TEST(OutputFile, CloseEndsTheWritingNow) {
    const test::TempFolder folder;
    const fs::path path = folder.path() / "kovsetup.exe";
    auto file = platform::OutputFile::create(path);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write_all(as_bytes("all of it")));
    file->close();
    EXPECT_EQ(contents(path), "all of it");
    // A closed file can be deleted even where open files cannot be.
    EXPECT_TRUE(fs::remove(path));
}

TEST(OutputFile, MissingFolderIsASystemError) {
    const test::TempFolder folder;
    const auto file = platform::OutputFile::create(folder.path() / "missing" / "kovsetup.exe");
    ASSERT_FALSE(file);
#ifdef _WIN32
    EXPECT_EQ(file.error().operation, "CreateFileW");
    EXPECT_EQ(file.error().code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
#else
    EXPECT_EQ(file.error().operation, "open");
    EXPECT_EQ(file.error().code, static_cast<std::uint32_t>(ENOENT));
#endif
    EXPECT_FALSE(file.error().message.empty());
}

#ifdef _WIN32
TEST(OutputFile, OthersMayReadWriteAndDeleteWhileItIsOpen) {
    const test::TempFolder folder;
    const fs::path path = folder.path() / "kovsetup.exe";
    auto file = platform::OutputFile::create(path);
    ASSERT_TRUE(file);
    const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(other);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}
#endif

} // namespace
