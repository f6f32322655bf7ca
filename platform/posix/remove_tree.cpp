#include "platform/remove_tree.hpp"

#include <system_error>

namespace platform {

// libstdc++ on Linux looks at each entry with lstat, so a symbolic link is unlinked as itself.
void remove_tree(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace platform
