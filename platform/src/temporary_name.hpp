#pragma once

#include <filesystem>
#include <random>

namespace platform {

// A name for a new file beside `path`: its name, a dot, six random letters or digits and
// ".tmp". The caller creates it exclusively and asks again when the name is taken.
std::filesystem::path temporary_sibling(const std::filesystem::path& path,
                                        std::random_device& random);

// How often a taken temporary name is drawn again before the creation fails.
inline constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

} // namespace platform
