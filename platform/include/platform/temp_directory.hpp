#pragma once

#include "platform/system_error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Attempts at a fresh name before giving up on a crowded temporary folder.
inline constexpr std::uint32_t TEMP_NAME_ATTEMPTS = 65'536;

// Why no temporary directory was made.
struct TempDirectoryError {
    // The failed call; none when every name drawn existed already.
    std::optional<SystemError> system;
    // The directory the failed call concerned, or the temporary folder that was too crowded.
    std::optional<std::filesystem::path> path;
};

// "<failed call> at path \"<path>\"", or "too many temporary files exist at path \"<folder>\"".
std::string describe(const TempDirectoryError& error);

// Fills `bytes` from the system's random source.
using RandomSource = std::expected<void, SystemError> (*)(std::span<std::byte> bytes);

// A new directory named ".tmp" and six random ASCII letters or digits. Releasing the owner
// deletes the directory with everything in it (a link inside as the link, never what it points
// at); an error of that deletion is ignored.
class TempDirectory {
public:
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    TempDirectory(TempDirectory&& other) noexcept;
    TempDirectory& operator=(TempDirectory&& other) noexcept;
    ~TempDirectory();

    // In the user's temporary folder.
    static std::expected<TempDirectory, TempDirectoryError> create();

    // In `folder`, relative to the current directory when it is relative. A name that exists
    // already (as anything) is drawn again, up to TEMP_NAME_ATTEMPTS names in all.
    static std::expected<TempDirectory, TempDirectoryError>
    create_in(const std::filesystem::path& folder, RandomSource random);

    const std::filesystem::path& path() const { return path_; }

private:
    explicit TempDirectory(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_; // empty once moved from
};

// The user's temporary folder as the system reports it: GetTempPath2W where the system has it,
// else GetTempPathW. The Linux stand-in takes TMPDIR, else /tmp.
std::expected<std::filesystem::path, SystemError> temporary_folder();

// The system's random source (BCryptGenRandom; getrandom on Linux).
std::expected<void, SystemError> system_random(std::span<std::byte> bytes);

// Creates the directory `path`: true when made, false when something of that name exists.
std::expected<bool, SystemError> create_new_directory(const std::filesystem::path& path);

} // namespace platform
