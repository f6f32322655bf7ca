#pragma once

#include "platform/system_error.hpp"

#include <cstddef>
#include <expected>
#include <filesystem>
#include <span>

namespace platform {

// Reads the attributes of whatever `path` names, following links.
std::expected<void, SystemError> query_attributes(const std::filesystem::path& path);

// Creates the folder `path` with default security; its parent must already exist.
std::expected<void, SystemError> create_folder(const std::filesystem::path& path);

// Replaces the file `path` with `bytes` in one step: they go to a new temporary file in the same
// folder, which then takes the file's place. The file holds either its earlier content or all of
// `bytes`, never a part; a failure before the replacement removes the temporary file.
std::expected<void, SystemError> replace_file(const std::filesystem::path& path,
                                              std::span<const std::byte> bytes);

} // namespace platform
