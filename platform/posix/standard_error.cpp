#include "platform/standard_error.hpp"

#include "write_all.hpp"

#include <cerrno>
#include <span>
#include <unistd.h>

namespace platform {

std::uint32_t write_standard_error_code(std::string_view utf8) noexcept {
    const int code = posix::write_all_or_errno(STDERR_FILENO, std::as_bytes(std::span(utf8)));
    // No standard error: the text is dropped.
    return code == EBADF ? 0 : static_cast<std::uint32_t>(code);
}

std::expected<void, SystemError> write_standard_error(std::string_view utf8) {
    if (const std::uint32_t code = write_standard_error_code(utf8); code != 0) {
        return std::unexpected(SystemError{"write", code, system_message(code)});
    }
    return {};
}

} // namespace platform
