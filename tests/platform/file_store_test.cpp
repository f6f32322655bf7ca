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
// Holds a file open as another program would.
class Holder {
public:
    Holder(const fs::path& path, DWORD access, DWORD sharing)
        : handle_(CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    ~Holder() {
        if (held()) {
            CloseHandle(handle_);
        }
    }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

    // What the holder reads from the start of the file it has open.
    std::string read() const {
        SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
        std::string text(1000, '\0');
        DWORD got = 0;
        if (!ReadFile(handle_, text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
            return "<read failed>";
        }
        text.resize(got);
        return text;
    }

private:
    HANDLE handle_;
};

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct HolderCase {
    const char* name;
    DWORD access;
    DWORD sharing;
    bool stored;
    // What the holder reads afterwards: the earlier file stays its own when it was replaced.
    const char* holder_reads;
};

TEST(ReplaceFile, AFileHeldOpenIsReplacedOrWrittenAsItsSharingAllows) {
    const HolderCase cases[] = {
        {"all shared: replaced", GENERIC_READ, SHARE_ALL, true, "earlier"},
        {"read and write shared: written in place", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true, "new content"},
        {"a writing holder, read and write shared", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true, "new content"},
        {"read shared", GENERIC_READ, FILE_SHARE_READ, false, "earlier"},
        {"nothing shared", GENERIC_READ, 0, false, "earlier"},
        {"read and delete shared: replaced", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
         true, "earlier"},
    };
    for (const HolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TempFolder folder;
        const fs::path target = folder.file("installer_config.json", "earlier");
        std::expected<void, platform::SystemError> result;
        {
            const Holder holder(target, c.access, c.sharing);
            ASSERT_TRUE(holder.held());
            result = platform::replace_file(target, bytes_of("new content"));
            EXPECT_EQ(holder.read(), c.holder_reads);
        }
        if (c.stored) {
            EXPECT_TRUE(result) << result.error().operation << ": " << result.error().message;
            EXPECT_EQ(contents(target), "new content");
        } else {
            ASSERT_FALSE(result);
            // The file is refused to the write as it would be to any writer.
            EXPECT_EQ(result.error().operation, "CreateFileW");
            EXPECT_EQ(result.error().code, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
            EXPECT_FALSE(result.error().message.empty());
            EXPECT_EQ(contents(target), "earlier");
        }
        EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
    }
}

constexpr DWORD SHOWN_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

TEST(ReplaceFile, KeepsTheAttributesOfTheEarlierFile) {
    for (const DWORD attributes :
         {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}, SHOWN_ATTRIBUTES}) {
        // Replaced while nobody holds it, and written in place while it is held.
        for (const bool held : {false, true}) {
            SCOPED_TRACE(std::to_string(attributes) + (held ? " held" : " free"));
            const TempFolder folder;
            const fs::path target = folder.file("installer_config.json", "earlier");
            ASSERT_TRUE(SetFileAttributesW(target.c_str(), attributes));
            {
                const Holder holder(target, GENERIC_READ,
                                    held ? FILE_SHARE_READ | FILE_SHARE_WRITE : SHARE_ALL);
                ASSERT_TRUE(platform::replace_file(target, bytes_of("new")));
            }
            EXPECT_EQ(GetFileAttributesW(target.c_str()) & SHOWN_ATTRIBUTES, attributes);
            EXPECT_EQ(contents(target), "new");
            EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
        }
    }
}

// A read-only file cannot be replaced; it is written only where a plain writer may open it (Wine
// run by root may, Windows may not).
TEST(ReplaceFile, AReadOnlyFileIsWrittenOnlyWhereAPlainWriterCouldOpenIt) {
    const TempFolder folder;
    const fs::path target = folder.file("installer_config.json", "earlier");
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    const HANDLE plain =
        CreateFileW(target.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool writable = plain != INVALID_HANDLE_VALUE;
    if (writable) {
        CloseHandle(plain);
    }
    const auto result = platform::replace_file(target, bytes_of("new content"));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (writable) {
        EXPECT_TRUE(result);
        EXPECT_EQ(contents(target), "new content");
    } else {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(contents(target), "earlier");
    }
    EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"installer_config.json"});
}

// Makes `link` a symbolic link to the file `target`; false where the system cannot make one
// (Wine 8 answers success and makes nothing; Windows may want developer mode).
bool make_file_link(const fs::path& link, const fs::path& target) {
    return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                               SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
           GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
           (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TEST(ReplaceFile, WritesTheFileALinkLeadsTo) {
    // An earlier target, and a target that does not exist yet.
    for (const bool earlier : {true, false}) {
        SCOPED_TRACE(earlier ? "earlier target" : "missing target");
        const TempFolder folder;
        fs::create_directory(folder.path() / "product");
        fs::create_directory(folder.path() / "real");
        const fs::path target = folder.path() / "real" / "config.json";
        if (earlier) {
            folder.file("real/config.json", std::string(3000, 'e'));
        }
        const fs::path link = folder.path() / "product" / "installer_config.json";
        if (!make_file_link(link, target)) {
            GTEST_SKIP() << "file links cannot be made here";
        }
        ASSERT_TRUE(platform::replace_file(link, bytes_of("new content")));
        EXPECT_NE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_EQ(contents(target), "new content");
        EXPECT_EQ(names_in(folder.path() / "product"),
                  std::vector<std::string>{"installer_config.json"});
        EXPECT_EQ(names_in(folder.path() / "real"), std::vector<std::string>{"config.json"});
    }
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
