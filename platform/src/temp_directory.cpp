#include "platform/temp_directory.hpp"

#include "platform/remove_tree.hpp"
#include "platform/text.hpp"

#include <array>
#include <string_view>
#include <utility>

namespace platform {
namespace {

constexpr std::string_view NAME_PREFIX = ".tmp";
constexpr std::size_t RANDOM_CHARACTERS = 6;
constexpr std::string_view ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Random bytes from here up are drawn again, so that each character is equally likely.
constexpr unsigned UNBIASED_LIMIT = 256 / ALPHABET.size() * ALPHABET.size();

std::expected<std::string, SystemError> random_name(RandomSource random) {
    std::string name{NAME_PREFIX};
    std::array<std::byte, 16> bytes;
    while (name.size() < NAME_PREFIX.size() + RANDOM_CHARACTERS) {
        if (auto filled = random(bytes); !filled) {
            return std::unexpected(std::move(filled.error()));
        }
        for (const std::byte byte : bytes) {
            const auto value = std::to_integer<unsigned>(byte);
            if (value < UNBIASED_LIMIT && name.size() < NAME_PREFIX.size() + RANDOM_CHARACTERS) {
                name += ALPHABET[value % ALPHABET.size()];
            }
        }
    }
    return name;
}

} // namespace

std::string describe(const TempDirectoryError& error) {
    std::string text = error.system ? platform::describe(*error.system)
                                    : std::string{"too many temporary files exist"};
    if (error.path) {
        text += " at path \"";
        text += path_text(*error.path);
        text += '"';
    }
    return text;
}

TempDirectory::TempDirectory(TempDirectory&& other) noexcept
    : path_(std::exchange(other.path_, {})) {}

TempDirectory& TempDirectory::operator=(TempDirectory&& other) noexcept {
    std::swap(path_, other.path_);
    return *this;
}

TempDirectory::~TempDirectory() {
    if (!path_.empty()) {
        // The setup program may have left links in here: their targets are not ours to delete.
        remove_tree(path_);
    }
}

std::expected<TempDirectory, TempDirectoryError> TempDirectory::create() {
    auto folder = temporary_folder();
    if (!folder) {
        return std::unexpected(TempDirectoryError{std::move(folder.error()), std::nullopt});
    }
    return create_in(*folder, system_random);
}

std::expected<TempDirectory, TempDirectoryError>
TempDirectory::create_in(const std::filesystem::path& folder, RandomSource random) {
    for (std::uint32_t attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        auto name = random_name(random);
        if (!name) {
            return std::unexpected(TempDirectoryError{std::move(name.error()), folder});
        }
        std::filesystem::path path = folder / path_from_utf8(*name);
        const auto made = create_new_directory(path);
        if (!made) {
            return std::unexpected(TempDirectoryError{made.error(), std::move(path)});
        }
        if (*made) {
            return TempDirectory{std::move(path)};
        }
    }
    return std::unexpected(TempDirectoryError{std::nullopt, folder});
}

} // namespace platform
