#include "platform/standard_error.hpp"

#include <cerrno>
#include <unistd.h>

namespace platform {

std::expected<void, SystemError> write_standard_error(std::string_view utf8) {
    while (!utf8.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, utf8.data(), utf8.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EBADF) {
                return {}; // no standard error: the text is dropped
            }
            return std::unexpected(last_system_error("write"));
        }
        utf8.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

} // namespace platform
