// The setup download and run, end to end on the host: the real HTTP client against a loopback
// setup server, the Linux stand-ins for the directory, file and child, and a fake progress
// dialog in place of the shell's (linked instead of the platform's, see fake_progress_dialog).
#include "fake_progress_dialog.hpp"
#include "http_test_support.hpp"
#include "kov/setup_download.hpp"
#include "temp_folder.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

namespace {

namespace fs = std::filesystem;

using namespace kov_test;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool wait_for_file(const fs::path& path) {
    for (int i = 0; i < 1000 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return fs::exists(path);
}

// The setup program: writes its arguments and that it runs to files the test names in its
// environment, waits (up to 10 s) for the test's "go", then exits with 42; with 99 when the go
// never came. A comment long enough for several passes of the copy loop follows.
std::string setup_script() {
    return "#!/bin/sh\n"
           "{ printf '%s' $#; for a in \"$@\"; do printf ' %s' \"$a\"; done; } > "
           "\"$KOV_TEST_ARGS\"\n"
           ": > \"$KOV_TEST_STARTED\"\n"
           "i=0\n"
           "while [ ! -e \"$KOV_TEST_GO\" ]; do\n"
           "  i=$((i+1)); [ $i -gt 1000 ] && exit 99\n"
           "  sleep 0.01\n"
           "done\n"
           "exit 42\n#" +
           std::string(200'000, 'x') + "\n";
}

// One loopback setup server per test suite; each test has its own temporary folder (TMPDIR)
// and its own files for the setup program to write.
class SetupDownloadTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        script_folder_ = new test::TempFolder;
        const fs::path script = script_folder_->file("setup.sh", setup_script());
        server_ = new ServerProcess("installer_services.py", {"--setup", script.string()});
    }
    static void TearDownTestSuite() {
        delete server_;
        delete script_folder_;
    }

    void SetUp() override {
        reset_fake_dialog();
        temp_ = folder_.path() / "temp";
        fs::create_directory(temp_);
        saved_tmpdir_ = std::getenv("TMPDIR") ? std::optional<std::string>(std::getenv("TMPDIR"))
                                              : std::nullopt;
        setenv("TMPDIR", temp_.c_str(), 1);
        setenv("KOV_TEST_ARGS", args_file().c_str(), 1);
        setenv("KOV_TEST_STARTED", started_file().c_str(), 1);
        setenv("KOV_TEST_GO", go_file().c_str(), 1);
    }
    void TearDown() override {
        if (saved_tmpdir_) {
            setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        reset_fake_dialog();
    }

    static kov::InstallerTag tag_for(const std::string& path) {
        return kov::InstallerTag{std::nullopt, server_->url("/config"), server_->url(path)};
    }
    fs::path args_file() const { return folder_.path() / "args"; }
    fs::path started_file() const { return folder_.path() / "started"; }
    fs::path go_file() const { return folder_.path() / "go"; }
    // What the user's temporary folder holds.
    std::vector<fs::path> temp_entries() const {
        std::vector<fs::path> entries{fs::recursive_directory_iterator(temp_), {}};
        std::sort(entries.begin(), entries.end());
        return entries;
    }
    static std::string asked() { return *fetch(make_client(), server_->url("/log")); }

    test::TempFolder folder_;
    fs::path temp_;
    std::optional<std::string> saved_tmpdir_;
    static test::TempFolder* script_folder_;
    static ServerProcess* server_;
};
test::TempFolder* SetupDownloadTest::script_folder_ = nullptr;
ServerProcess* SetupDownloadTest::server_ = nullptr;

// Lets the setup program finish when the dialog is stopped, after checking that it had started
// by then: a stop before the start would wait here in vain, a stop after the wait for the
// program would leave it without its go (exit 99).
void go_on_stop(const fs::path& started, const fs::path& go) {
    fake_dialog().on_call = [started, go](const std::string& call) {
        if (call == "StopProgressDialog") {
            EXPECT_TRUE(wait_for_file(started)) << "stopped before the setup program started";
            std::ofstream{go};
        }
    };
}

std::uint64_t progress_count(const std::string& call, std::uint64_t* total) {
    const std::string numbers = call.substr(call.find(' ') + 1);
    const auto slash = numbers.find('/');
    std::uint64_t count = 0;
    std::from_chars(numbers.data(), numbers.data() + slash, count);
    std::from_chars(numbers.data() + slash + 1, numbers.data() + numbers.size(), *total);
    return count;
}

TEST_F(SetupDownloadTest, FakeDialogIsTheOneLinked) {
    auto dialog = platform::ProgressDialog::create();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(fake_dialog().calls, std::vector<std::string>{"CoCreateInstance"});
}

TEST_F(SetupDownloadTest, InteractiveDownloadShowsProgressAndRunsTheProgram) {
    const auto client = make_client();
    const std::uint64_t size = setup_script().size();
    go_on_stop(started_file(), go_file());
    fake_dialog().on_call = [this, inner = fake_dialog().on_call](const std::string& call) {
        if (call == "StartProgressDialog") {
            EXPECT_EQ(asked(), "") << "the request went out before the dialog was shown";
        }
        inner(call);
    };

    EXPECT_EQ(kov::download_and_run_setup(false, tag_for("/kov-latest-setup.exe"), client), 42u);

    const auto& calls = fake_dialog().calls;
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(std::vector(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"CoCreateInstance", "SetTitle Kovane Console",
                                        "SetLine 1 Downloading...", "StartProgressDialog"}));
    // Every pass asks for the Cancel first and shows the count after writing; the last pass
    // only asks and finds the end.
    std::uint64_t previous = 0;
    std::size_t i = 4;
    for (; calls[i] == "HasUserCancelled" && calls[i + 1].starts_with("SetProgress64 "); i += 2) {
        std::uint64_t total = 0;
        const std::uint64_t count = progress_count(calls[i + 1], &total);
        EXPECT_EQ(total, size);
        EXPECT_GT(count, previous);
        EXPECT_LE(count - previous, kov::COPY_BUFFER_SIZE);
        previous = count;
    }
    EXPECT_EQ(previous, size);
    EXPECT_GE((i - 4) / 2, 4u) << "the body should take several passes";
    EXPECT_EQ(std::vector(calls.begin() + static_cast<std::ptrdiff_t>(i), calls.end()),
              (std::vector<std::string>{"HasUserCancelled", "StopProgressDialog", "Release"}));

    EXPECT_EQ(contents(args_file()), "0");
    EXPECT_EQ(asked(), "/kov-latest-setup.exe\n");
    EXPECT_TRUE(temp_entries().empty()) << "the temporary directory outlived the run";
}

TEST_F(SetupDownloadTest, ChunkedAnswerShowsNoProgress) {
    const auto client = make_client();
    go_on_stop(started_file(), go_file());
    EXPECT_EQ(kov::download_and_run_setup(false, tag_for("/chunked/kov-latest-setup.exe"), client),
              42u);
    const auto& calls = fake_dialog().calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "HasUserCancelled"), 5)
        << "200,000 bytes and more: four passes and the end";
    EXPECT_TRUE(std::none_of(calls.begin(), calls.end(),
                             [](const std::string& c) { return c.starts_with("SetProgress64"); }));
    EXPECT_EQ(calls.back(), "Release");
    EXPECT_TRUE(temp_entries().empty());
}

TEST_F(SetupDownloadTest, SilentModeMakesNoDialogCallAndPassesTheSwitch) {
    const auto client = make_client();
    std::ofstream{go_file()};
    EXPECT_EQ(kov::download_and_run_setup(true, tag_for("/kov-latest-setup.exe"), client), 42u);
    EXPECT_TRUE(fake_dialog().calls.empty());
    EXPECT_EQ(contents(args_file()), "1 /S");
    EXPECT_TRUE(temp_entries().empty());
}

TEST_F(SetupDownloadTest, CancelAtTheFirstPassDeletesTheEmptyFileAndReturnsOne) {
    const auto client = make_client();
    std::vector<fs::path> seen_at_cancel;
    fake_dialog().cancelled = [&](const FakeDialog&) {
        seen_at_cancel = temp_entries();
        return true;
    };
    EXPECT_EQ(kov::download_and_run_setup(false, tag_for("/kov-latest-setup.exe"), client),
              kov::EXIT_CANCELLED);

    EXPECT_EQ(fake_dialog().calls,
              (std::vector<std::string>{"CoCreateInstance", "SetTitle Kovane Console",
                                        "SetLine 1 Downloading...", "StartProgressDialog",
                                        "HasUserCancelled", "Release"}));
    // The directory and the empty setup file existed when the Cancel was seen.
    ASSERT_EQ(seen_at_cancel.size(), 2u);
    EXPECT_TRUE(seen_at_cancel[0].filename().string().starts_with(".tmp"));
    EXPECT_EQ(seen_at_cancel[1], seen_at_cancel[0] / "kovsetup.exe");
    EXPECT_TRUE(temp_entries().empty());
    EXPECT_FALSE(fs::exists(started_file()));
}

TEST_F(SetupDownloadTest, CancelDuringTheLastReadIsNotSeen) {
    const auto client = make_client();
    const std::string full = "SetProgress64 " + std::to_string(setup_script().size()) + "/" +
                             std::to_string(setup_script().size());
    // The user presses Cancel just after the check that precedes the read finding the end.
    bool pressed = false;
    fake_dialog().cancelled = [&](const FakeDialog& fake) {
        if (pressed) {
            return true;
        }
        pressed = fake.calls.size() >= 2 && fake.calls[fake.calls.size() - 2] == full;
        return false;
    };
    go_on_stop(started_file(), go_file());
    EXPECT_EQ(kov::download_and_run_setup(false, tag_for("/kov-latest-setup.exe"), client), 42u);
    EXPECT_TRUE(pressed);
    const auto& calls = fake_dialog().calls;
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(
        std::vector(calls.end() - 4, calls.end()),
        (std::vector<std::string>{full, "HasUserCancelled", "StopProgressDialog", "Release"}));
}

TEST_F(SetupDownloadTest, StatusesOutsideFourAndFiveHundredAreAccepted) {
    const auto client = make_client();
    for (const int status : {399, 600}) {
        SCOPED_TRACE(status);
        std::ofstream{go_file()};
        const auto path = "/status/" + std::to_string(status) + "/kov-latest-setup.exe";
        EXPECT_EQ(kov::download_and_run_setup(true, tag_for(path), client), 42u);
        fs::remove(go_file());
    }
}

using SetupDownloadDeathTest = SetupDownloadTest;

TEST_F(SetupDownloadDeathTest, ErrorStatusEndsTheRunBeforeAnyDirectory) {
    for (const int status : {400, 404, 599}) {
        SCOPED_TRACE(status);
        const auto path = "/status/" + std::to_string(status) + "/kov-latest-setup.exe";
        const std::string url = server_->url(path);
        EXPECT_DEATH(kov::download_and_run_setup(true, tag_for(path), make_client()),
                     "common/src/setup_download\\.cpp:[0-9]+:[0-9]+: ClientError \\{ kind: "
                     "Status\\(" +
                         std::to_string(status) + "\\), url: \"" + url + "\"");
        EXPECT_TRUE(temp_entries().empty());
    }
}

TEST_F(SetupDownloadDeathTest, AddressComesFromTheTagOrTheDefault) {
    // No tag, or a tag without an address: the default, which no test machine can reach.
    kov::InstallerTag without_address = tag_for("/unused");
    without_address.installer_url.reset();
    for (const auto& tag : {std::optional<kov::InstallerTag>{}, std::optional{without_address}}) {
        EXPECT_DEATH(kov::download_and_run_setup(true, tag, make_client(2s)),
                     "ClientError \\{ kind: Request, url: \"https://download\\.kovane\\.example/"
                     "kov-latest-setup\\.exe\"");
    }
    // An empty address is used as it is and fails; the default is not tried.
    kov::InstallerTag empty_address = without_address;
    empty_address.installer_url = "";
    EXPECT_DEATH(kov::download_and_run_setup(true, empty_address, make_client(2s)),
                 "fatal error at [^\n]*: ClientError \\{ kind: Builder, cause: \"[^\"]*\" \\}\n$");
    EXPECT_TRUE(temp_entries().empty());
}

TEST_F(SetupDownloadDeathTest, BodyThatIsNoProgramEndsTheRunAndStaysBehind) {
    ServerProcess pages("http_test_server.py");
    const kov::InstallerTag tag{std::nullopt, "", pages.url("/status?code=200")};
    EXPECT_DEATH(kov::download_and_run_setup(true, tag, make_client()),
                 "setup_download\\.cpp:[0-9]+:[0-9]+: posix_spawn failed: ");
    const auto left = temp_entries();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1].filename(), "kovsetup.exe");
    EXPECT_EQ(contents(left[1]), "status body");
}

TEST_F(SetupDownloadDeathTest, ServerSilentMidBodyEndsTheRunWithThePartWritten) {
    ServerProcess pages("http_test_server.py");
    const kov::InstallerTag tag{std::nullopt, "", pages.url("/pause?ms=3000")};
    EXPECT_DEATH(kov::download_and_run_setup(true, tag, make_client(500ms)),
                 "ClientError \\{ kind: Decode, .*operation timed out");
    const auto left = temp_entries();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(contents(left[1]), "firs");
}

TEST_F(SetupDownloadDeathTest, DialogFailureEndsTheRunWithTheHresult) {
    for (const std::string failing :
         {"CoCreateInstance", "SetTitle", "SetLine", "StartProgressDialog", "SetProgress64",
          "StopProgressDialog"}) {
        SCOPED_TRACE(failing);
        std::ofstream{go_file()}; // a setup program started before the failure ends at once
        fake_dialog().failing = failing;
        EXPECT_DEATH(
            kov::download_and_run_setup(false, tag_for("/kov-latest-setup.exe"), make_client()),
            "setup_download\\.cpp:[0-9]+:[0-9]+: fake failed: fake failure \\(HRESULT "
            "0x80004005\\)");
    }
}

} // namespace
