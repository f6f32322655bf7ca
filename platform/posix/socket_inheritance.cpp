#include "platform/socket_inheritance.hpp"

#include <fcntl.h>

namespace platform {

std::expected<void, SystemError> keep_socket_from_children(std::intptr_t socket) {
    const int descriptor = static_cast<int>(socket);
    const int flags = fcntl(descriptor, F_GETFD);
    if (flags == -1 || fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC) == -1) {
        return std::unexpected(last_system_error("fcntl"));
    }
    return {};
}

} // namespace platform
