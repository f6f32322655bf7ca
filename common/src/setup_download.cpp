#include "kov/setup_download.hpp"

#include "kov/fail_fast.hpp"
#include "platform/child_process.hpp"
#include "platform/output_file.hpp"
#include "platform/temp_directory.hpp"
#include "platform/text.hpp"

#include <memory>
#include <span>
#include <utility>

namespace kov {
namespace {

constexpr const char16_t* DIALOG_TITLE = u"Kovane Console";
constexpr const char16_t* DIALOG_LINE = u"Downloading...";
constexpr std::uint32_t DIALOG_LINE_NUMBER = 1;
constexpr std::string_view SILENT_ARGUMENT = "/S";

std::string_view installer_url(const std::optional<InstallerTag>& tag) {
    // An empty address is still the tag's word: it fails at the send, it does not fall back.
    if (tag && tag->installer_url) {
        return *tag->installer_url;
    }
    return DEFAULT_INSTALLER_URL;
}

platform::TempDirectory create_temporary_directory() {
    auto directory = platform::TempDirectory::create();
    if (!directory) {
        fail_fast(platform::describe(directory.error()));
    }
    return std::move(*directory);
}

enum class CopyOutcome { Complete, Cancelled };

// Streams the body into the file through one buffer. The Cancel button is looked at once per
// pass, before the read; progress is shown after each write when the total is known.
CopyOutcome copy_body(HttpResponse& response, platform::OutputFile& file,
                      platform::ProgressDialog* dialog, std::optional<std::uint64_t> total) {
    const bool show_progress = dialog != nullptr && total.has_value();
    const auto buffer = std::make_unique_for_overwrite<std::byte[]>(COPY_BUFFER_SIZE);
    const std::span<std::byte> whole{buffer.get(), COPY_BUFFER_SIZE};
    std::uint64_t count = 0;
    for (;;) {
        if (dialog != nullptr && dialog->has_user_cancelled()) {
            return CopyOutcome::Cancelled;
        }
        const std::size_t n = take_or_fail(response.read(whole));
        if (n == 0) {
            return CopyOutcome::Complete;
        }
        take_or_fail(file.write_all(whole.first(n)));
        count += n;
        if (show_progress) {
            take_or_fail(dialog->set_progress(count, *total));
        }
    }
}

// Fetches the setup program into a new temporary directory, which is returned; nothing when the
// user cancelled. The file is closed before the answer is released; on a cancel the directory
// goes too, before the answer.
std::optional<platform::TempDirectory>
download_setup(std::string_view url, const HttpClient& client, platform::ProgressDialog* dialog) {
    HttpResponse response = take_or_fail(client.get(url).send());
    take_or_fail(response.check_status());
    const std::optional<std::uint64_t> total = response.content_length();

    platform::TempDirectory directory = create_temporary_directory();
    {
        platform::OutputFile file = take_or_fail(platform::OutputFile::create(
            directory.path() / platform::path_from_utf8(SETUP_FILE_NAME)));
        if (copy_body(response, file, dialog, total) == CopyOutcome::Cancelled) {
            return std::nullopt;
        }
    }
    return directory;
}

} // namespace

platform::ProgressDialog open_progress_dialog() {
    platform::ProgressDialog dialog = take_or_fail(platform::ProgressDialog::create());
    take_or_fail(dialog.set_title(DIALOG_TITLE));
    take_or_fail(dialog.set_line(DIALOG_LINE_NUMBER, DIALOG_LINE));
    take_or_fail(dialog.start());
    return dialog;
}

std::uint32_t download_and_run_setup(bool silent_mode, const std::optional<InstallerTag>& tag,
                                     const HttpClient& client) {
    // In silent mode no COM call is made at all.
    std::optional<platform::ProgressDialog> dialog;
    if (!silent_mode) {
        dialog.emplace(open_progress_dialog());
    }
    const std::optional<platform::TempDirectory> directory =
        download_setup(installer_url(tag), client, dialog ? &*dialog : nullptr);
    if (!directory) {
        return EXIT_CANCELLED; // the dialog is released without being stopped
    }

    std::span<const std::string_view> arguments;
    if (silent_mode) {
        arguments = {&SILENT_ARGUMENT, 1};
    }
    platform::ChildProcess setup = take_or_fail(platform::ChildProcess::start(
        directory->path() / platform::path_from_utf8(SETUP_FILE_NAME), arguments));
    // The dialog stays up until the setup program runs, and is gone while we wait for it.
    if (dialog) {
        take_or_fail(dialog->stop());
        dialog.reset();
    }
    // On the way out the child's handles are closed, then the directory goes with the file.
    return take_or_fail(setup.wait());
}

} // namespace kov
