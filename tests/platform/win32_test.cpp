// The Windows implementation of the platform layer, run under Wine.
#include "platform/mapped_file.hpp"
#include "platform/process.hpp"
#include "platform/remove_tree.hpp"
#include "platform/standard_error.hpp"
#include "temp_folder.hpp"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>
#include <windows.h>

namespace {

namespace fs = std::filesystem;

using test::TempFolder;

// Points standard error somewhere else for one test and puts it back afterwards.
class StandardErrorRedirect {
public:
    explicit StandardErrorRedirect(HANDLE handle) : saved_(GetStdHandle(STD_ERROR_HANDLE)) {
        SetStdHandle(STD_ERROR_HANDLE, handle);
    }
    ~StandardErrorRedirect() { SetStdHandle(STD_ERROR_HANDLE, saved_); }

private:
    HANDLE saved_;
};

TEST(OwnExecutablePath, NamesThisProgram) {
    const auto path = platform::own_executable_path();
    ASSERT_TRUE(path);
    EXPECT_EQ(path->filename(), "platform_win32_test.exe");
    EXPECT_TRUE(path->is_absolute());
}

TEST(CommandLine, IsTheSystemsLine) {
    EXPECT_EQ(platform::command_line(),
              std::u16string(reinterpret_cast<const char16_t*>(GetCommandLineW())));
}

TEST(ReadOnlyFile, AdmitsOtherReadersButNoWriters) {
    const TempFolder folder;
    const fs::path path = folder.file("a.bin", "abc");
    auto file = platform::ReadOnlyFile::open(path);
    ASSERT_TRUE(file);
    const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    const HANDLE writer =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(ReadOnlyFile, ReportsCodeAndMessage) {
    const TempFolder folder;
    const auto missing = platform::ReadOnlyFile::open(folder.path() / "missing.bin");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().operation, "CreateFileW");
    EXPECT_EQ(missing.error().code, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(missing.error().message.empty());
    EXPECT_NE(missing.error().message.back(), '\n');

    // Someone else holds it open for writing: FILE_SHARE_READ cannot be granted.
    const fs::path busy = folder.file("busy.bin", "x");
    const HANDLE writer =
        CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const auto refused = platform::ReadOnlyFile::open(busy);
    CloseHandle(writer);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
}

TEST(FileMapping, MapsTheWholeFileAndAnEmptyOneAsEmpty) {
    const TempFolder folder;
    const std::string contents(100000, 'k');
    auto file = platform::ReadOnlyFile::open(folder.file("big.bin", contents));
    ASSERT_TRUE(file);
    const auto mapping = platform::FileMapping::map(*file);
    ASSERT_TRUE(mapping);
    ASSERT_EQ(mapping->bytes().size(), contents.size());
    EXPECT_EQ(std::memcmp(mapping->bytes().data(), contents.data(), contents.size()), 0);

    auto empty = platform::ReadOnlyFile::open(folder.file("empty.bin", ""));
    ASSERT_TRUE(empty);
    const auto empty_mapping = platform::FileMapping::map(*empty);
    ASSERT_TRUE(empty_mapping);
    EXPECT_TRUE(empty_mapping->bytes().empty());
}

TEST(WriteStandardError, WritesUtf8BytesToAFile) {
    const TempFolder folder;
    const fs::path path = folder.path() / "stderr.txt";
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    {
        const StandardErrorRedirect redirect(file);
        EXPECT_TRUE(platform::write_standard_error("gr\xC3\xBC\xC3\x9F"
                                                   "e\r\n\xE2\x98\x83\n"));
    }
    CloseHandle(file);
    std::ifstream in(path, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, "gr\xC3\xBC\xC3\x9F"
                       "e\r\n\xE2\x98\x83\n");
}

TEST(WriteStandardError, DropsTextWithoutHandleOrWithInvalidOne) {
    {
        const StandardErrorRedirect redirect(nullptr);
        EXPECT_TRUE(platform::write_standard_error("dropped"));
    }
    {
        const StandardErrorRedirect redirect(INVALID_HANDLE_VALUE);
        EXPECT_TRUE(platform::write_standard_error("dropped"));
    }
    {
        // A handle value the system does not know.
        const StandardErrorRedirect redirect(
            reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7FF0)));
        EXPECT_TRUE(platform::write_standard_error("dropped"));
    }
}

TEST(WriteStandardError, FailsOnAPipeWithoutReader) {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    CloseHandle(read_end);
    std::expected<void, platform::SystemError> result;
    {
        const StandardErrorRedirect redirect(write_end);
        result = platform::write_standard_error("nobody reads this");
    }
    CloseHandle(write_end);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().operation, "WriteFile");
    EXPECT_NE(result.error().code, 0u);
}

TEST(WriteStandardError, WritesUtf16ToAConsole) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    {
        const StandardErrorRedirect redirect(console);
        // Longer than the writer's stack buffer of 512 units, with a surrogate pair where the
        // first piece is flushed, so that the text goes out in several pieces.
        std::string text = "\xE2\x98\x83"; // U+2603
        for (int i = 0; i < 508; ++i) {
            text += "\xC3\xA9"; // U+00E9
        }
        text += "\xF0\x9F\x98\x80"; // U+1F600, units 509 and 510
        for (int i = 0; i < 100; ++i) {
            text += "\xC3\xA9";
        }
        ASSERT_TRUE(platform::write_standard_error(text));
    }
    std::vector<wchar_t> cells(611);
    DWORD read = 0;
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(console, &mode)) << GetLastError();
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console, cells.data(), 611, COORD{0, 0}, &read))
        << GetLastError();
    ASSERT_EQ(read, 611u);
    std::wstring expected =
        L"\u2603" + std::wstring(508, L'\u00e9') + L"\U0001F600" + std::wstring(100, L'\u00e9');
    EXPECT_TRUE(std::wstring(cells.begin(), cells.end()) == expected);
    CloseHandle(console);
    FreeConsole();
}

// A console input handle passes for a console, but the system refuses to write to it as an
// invalid handle: the text is dropped, as for any handle the system reports as invalid.
TEST(WriteStandardError, DropsTextForAConsoleInputHandle) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    const HANDLE input =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(input, &mode)) << GetLastError();
    {
        const StandardErrorRedirect redirect(input);
        const auto written = platform::write_standard_error("dropped");
        EXPECT_TRUE(written) << written.error().operation << " " << written.error().code;
        EXPECT_EQ(platform::write_standard_error_code("dropped"), 0u);
    }
    CloseHandle(input);
    FreeConsole();
}

// Wine 8 makes neither directory links nor junctions (CreateSymbolicLinkW is a stub that makes
// nothing, FSCTL_SET_REPARSE_POINT fails), so links are tested on Linux only.
TEST(RemoveTree, DeletesATreeLongerThanMaxPathWithReadOnlyEntries) {
    const TempFolder folder;
    std::wstring path = LR"(\\?\)" + folder.path().wstring() + L"\\tree";
    const std::wstring root = path;
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
    while (path.size() < 2 * MAX_PATH) {
        path += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
    }
    const std::wstring file = path + L"\\setup.log";
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(handle);
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));

    platform::remove_tree(folder.path() / "tree");
    EXPECT_EQ(GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(fs::exists(folder.path()));
}

TEST(RemoveTree, LeavesWhatCannotBeDeletedAndTheRestGoes) {
    const TempFolder folder;
    const fs::path tree = folder.path() / "tree";
    fs::create_directories(tree / "a");
    const fs::path busy = folder.file("tree/a/busy.exe", "x");
    folder.file("tree/free.txt", "x");
    const HANDLE open = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    platform::remove_tree(tree);
    CloseHandle(open);
    EXPECT_TRUE(fs::exists(busy));
    EXPECT_FALSE(fs::exists(tree / "free.txt"));
    platform::remove_tree(folder.path() / "missing"); // nothing to do, no complaint
}

} // namespace
