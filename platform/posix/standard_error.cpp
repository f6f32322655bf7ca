#include "platform/standard_error.hpp"

#include "write_all.hpp"

#include <cerrno>
#include <span>
#include <unistd.h>

namespace platform {

std::expected<void, SystemError> write_standard_error(std::string_view utf8) {
    auto written = posix::write_all(STDERR_FILENO, std::as_bytes(std::span(utf8)));
    if (!written && written.error().code == EBADF) {
        return {}; // no standard error: the text is dropped
    }
    return written;
}

} // namespace platform
