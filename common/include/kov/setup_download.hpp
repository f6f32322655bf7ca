#pragma once

#include "kov/http_client.hpp"
#include "kov/installer_tag.hpp"
#include "platform/progress_dialog.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kov {

// Where the setup program comes from when the tag names no address. The host is the product's
// download host: a deployment choice, made here and nowhere else.
inline constexpr std::string_view DEFAULT_INSTALLER_URL =
    "https://download.kovane.example/kov-latest-setup.exe";

// The downloaded program's name inside its temporary directory.
inline constexpr std::string_view SETUP_FILE_NAME = "kovsetup.exe";

// The one buffer the download streams through on its way to disk.
inline constexpr std::size_t COPY_BUFFER_SIZE = 65'536;

// The exit code of a download the user cancelled.
inline constexpr std::uint32_t EXIT_CANCELLED = 1;

// Downloads the setup program, runs it and returns its exit code (all 32 bits), or 1 when the
// user cancelled the download. Every other outcome ends the run abnormally. Needs COM on the
// calling thread unless `silent_mode` is set.
std::uint32_t download_and_run_setup(bool silent_mode, const std::optional<InstallerTag>& tag,
                                     const HttpClient& client);

// Creates the shell's progress dialog, titles it and shows it with "Downloading...". Every
// failure ends the run abnormally.
platform::ProgressDialog open_progress_dialog();

} // namespace kov
