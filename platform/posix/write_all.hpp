#pragma once

#include "platform/system_error.hpp"

#include <cerrno>
#include <cstddef>
#include <expected>
#include <span>
#include <unistd.h>

namespace platform::posix {

// Writes every byte to `fd`, going on after interruptions and partial writes; a write that takes
// nothing is a fault rather than a reason to spin.
inline std::expected<void, SystemError> write_all(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(last_system_error("write"));
        }
        if (written == 0) {
            return std::unexpected(SystemError{"write", EIO, system_message(EIO)});
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

} // namespace platform::posix
