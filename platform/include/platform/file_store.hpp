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

// Replaces the file `path` with `bytes` in one step where it can: they go to a new temporary file
// beside the file (beside the file a link leads to, on Windows), which then takes its place. The
// file holds either its earlier content or all of `bytes`, never a part. On Windows the
// replacement keeps the earlier file's attributes, security descriptor and creation time, and a
// file that another program holds open so that it cannot be replaced is written in place instead
// (cut to zero, then written), which a failing write may leave cut short. The temporary file
// never stays behind.
std::expected<void, SystemError> replace_file(const std::filesystem::path& path,
                                              std::span<const std::byte> bytes);

} // namespace platform
