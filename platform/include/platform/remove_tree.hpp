#pragma once

#include <filesystem>

namespace platform {

// Deletes the directory `path` with everything in it. A link inside (a symbolic link or, on
// Windows, a junction) is deleted as itself: what it points at stays untouched. A read-only
// file is deleted too. What cannot be deleted stays behind, without a word.
void remove_tree(const std::filesystem::path& path);

} // namespace platform
