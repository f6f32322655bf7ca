#pragma once

#include "platform/system_error.hpp"

#include <cstdint>
#include <expected>

namespace platform {

// Keeps a network socket of this process out of the programs it starts, so that a child does not
// hold our connections open. `socket` is the system's socket value (a SOCKET on Windows, a file
// descriptor on Linux).
std::expected<void, SystemError> keep_socket_from_children(std::intptr_t socket);

} // namespace platform
