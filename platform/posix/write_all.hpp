#pragma once

#include "platform/system_error.hpp"

#include <cerrno>
#include <cstddef>
#include <expected>
#include <span>
#include <unistd.h>

namespace platform::posix {

// Writes every byte to `fd`, going on after interruptions and partial writes; a write that takes
// nothing is a fault rather than a reason to spin. Returns 0, or the errno of the failure.
// Allocates nothing, so that the failure report can use it too.
inline int write_all_or_errno(int fd, std::span<const std::byte> bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

// The same, with the failure's message text.
inline std::expected<void, SystemError> write_all(int fd, std::span<const std::byte> bytes) {
    if (const int code = write_all_or_errno(fd, bytes); code != 0) {
        return std::unexpected(SystemError{"write", static_cast<std::uint32_t>(code),
                                           system_message(static_cast<std::uint32_t>(code))});
    }
    return {};
}

} // namespace platform::posix
