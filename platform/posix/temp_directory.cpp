#include "platform/temp_directory.hpp"

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>
#include <sys/stat.h>

namespace platform {

std::expected<std::filesystem::path, SystemError> temporary_folder() {
    const char* folder = std::getenv("TMPDIR");
    return std::filesystem::path(folder != nullptr && *folder != '\0' ? folder : "/tmp");
}

std::expected<void, SystemError> system_random(std::span<std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t got = getrandom(bytes.data(), bytes.size(), 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(last_system_error("getrandom"));
        }
        bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return {};
}

std::expected<bool, SystemError> create_new_directory(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    return std::unexpected(last_system_error("mkdir"));
}

} // namespace platform
