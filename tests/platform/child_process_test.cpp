// Starting the setup program and waiting for its exit code.
#include "platform/child_process.hpp"
#include "platform/text.hpp"
#include "temp_folder.hpp"

#include <array>
#include <charconv>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

using namespace std::string_view_literals;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifdef _WIN32

// The probes are built beside this test; their paths come from the build, as Unix paths that
// Wine shows on the Z: drive.
fs::path probe(const char* unix_path) {
    std::string path = std::string("Z:") + unix_path;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return fs::path(path);
}

// Points one standard handle somewhere else for one test and puts it back afterwards.
class StandardHandleRedirect {
public:
    StandardHandleRedirect(DWORD which, HANDLE handle)
        : which_(which), saved_(GetStdHandle(which)) {
        SetStdHandle(which_, handle);
    }
    ~StandardHandleRedirect() { SetStdHandle(which_, saved_); }

private:
    DWORD which_;
    HANDLE saved_;
};

HANDLE create_file(const fs::path& path) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS, 0,
                       nullptr);
}

TEST(ChildProcess, ExitCodeComesBackInAll32Bits) {
    for (const std::uint32_t code : {0u, 1u, 0xFFFFFFFFu, 0xC0000005u, 0x80000003u}) {
        char hex[16];
        const auto end = std::to_chars(hex, hex + sizeof hex, code, 16).ptr;
        const std::array arguments{std::string_view(hex, static_cast<std::size_t>(end - hex))};
        auto child = platform::ChildProcess::start(probe(KOV_EXIT_PROBE), arguments);
        ASSERT_TRUE(child) << platform::describe(child.error());
        const auto exit_code = child->wait();
        ASSERT_TRUE(exit_code);
        EXPECT_EQ(*exit_code, code);
    }
}

TEST(ChildProcess, CommandLineIsTheQuotedPathThenTheArguments) {
    const test::TempFolder folder;
    // A path with a blank in it, which only the quotes keep together.
    fs::create_directory(folder.path() / "with blank");
    const fs::path program = folder.path() / "with blank" / "kovsetup.exe";
    fs::copy_file(probe(KOV_COMMAND_LINE_PROBE), program);
    const fs::path out = folder.path() / "out.txt";
    const fs::path err = folder.path() / "err.txt";
    struct Case {
        std::vector<std::string_view> arguments;
        std::string tail;
    };
    for (const Case& c : {Case{{}, ""}, Case{{"/S"}, " /S"}, Case{{"/S", "x y"}, " /S x y"}}) {
        const HANDLE out_file = create_file(out);
        const HANDLE err_file = create_file(err);
        {
            const StandardHandleRedirect out_redirect(STD_OUTPUT_HANDLE, out_file);
            const StandardHandleRedirect err_redirect(STD_ERROR_HANDLE, err_file);
            auto child = platform::ChildProcess::start(program, c.arguments);
            ASSERT_TRUE(child) << platform::describe(child.error());
            EXPECT_EQ(child->wait(), 0u);
        }
        CloseHandle(out_file);
        CloseHandle(err_file);
        EXPECT_EQ(contents(out), "\"" + platform::path_text(program) + "\"" + c.tail);
        EXPECT_EQ(contents(err), "stderr");
    }
}

TEST(ChildProcess, StartsWithoutStandardHandles) {
    const StandardHandleRedirect in(STD_INPUT_HANDLE, nullptr);
    const StandardHandleRedirect out(STD_OUTPUT_HANDLE, nullptr);
    const StandardHandleRedirect err(STD_ERROR_HANDLE, INVALID_HANDLE_VALUE);
    const std::array arguments{"2a"sv};
    auto child = platform::ChildProcess::start(probe(KOV_EXIT_PROBE), arguments);
    ASSERT_TRUE(child) << platform::describe(child.error());
    EXPECT_EQ(child->wait(), 0x2Au);
}

TEST(ChildProcess, FileThatIsNoProgramFailsToStart) {
    const test::TempFolder folder;
    for (const std::string& body : {std::string{}, std::string{"<html>not found</html>"}}) {
        const fs::path program = folder.file("kovsetup.exe", body);
        const auto child = platform::ChildProcess::start(program, {});
        ASSERT_FALSE(child);
        EXPECT_EQ(child.error().operation, "CreateProcessW");
        EXPECT_NE(child.error().code, 0u);
    }
    const auto missing = platform::ChildProcess::start(folder.path() / "missing.exe", {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

#else

fs::path script(const test::TempFolder& folder, const std::string& body) {
    const fs::path path = folder.file("kovsetup.exe", "#!/bin/sh\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

TEST(ChildProcess, StandInPassesArgumentsAndGivesTheExitCode) {
    const test::TempFolder folder;
    const fs::path out = folder.path() / "args.txt";
    const fs::path program =
        script(folder, "printf '%s|' \"$@\" > '" + out.string() + "'; exit 42");
    const std::array arguments{"/S"sv, "x y"sv};
    auto child = platform::ChildProcess::start(program, arguments);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(), 42u);
    EXPECT_EQ(contents(out), "/S|x y|");
}

TEST(ChildProcess, StandInReportsASignalAbove128) {
    const test::TempFolder folder;
    auto child = platform::ChildProcess::start(script(folder, "kill -9 $$"), {});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(), 128u + 9u);
}

TEST(ChildProcess, StandInRefusesAFileThatIsNoProgram) {
    const test::TempFolder folder;
    const fs::path page = folder.file("kovsetup.exe", "<html>not found</html>");
    fs::permissions(page, fs::perms::owner_all);
    const auto child = platform::ChildProcess::start(page, {});
    ASSERT_FALSE(child);
    EXPECT_EQ(child.error().operation, "posix_spawn");
}

#endif

} // namespace
