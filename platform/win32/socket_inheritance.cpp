#include "platform/socket_inheritance.hpp"

#include <windows.h>

namespace platform {

// Winsock sockets are inheritable kernel handles; CreateProcessW with inheritance on would hand
// every one of them to the setup program.
std::expected<void, SystemError> keep_socket_from_children(std::intptr_t socket) {
    if (!SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0)) {
        return std::unexpected(last_system_error("SetHandleInformation"));
    }
    return {};
}

} // namespace platform
