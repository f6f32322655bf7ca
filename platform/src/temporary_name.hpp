#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace platform {

// What makes a temporary name out of a file's name: a dot, six random letters or digits and
// ".tmp", all ASCII.
std::string temporary_suffix(std::random_device& random);

// A name for a new file beside `path`: its name followed by a temporary suffix. The caller
// creates it exclusively and asks again when the name is taken.
std::filesystem::path temporary_sibling(const std::filesystem::path& path,
                                        std::random_device& random);

// How often a taken temporary name is drawn again before the creation fails.
inline constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

} // namespace platform
