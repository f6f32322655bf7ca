#include "platform/system_error.hpp"

#include <cerrno>
#include <cstring>

namespace platform {

SystemError last_system_error(std::string_view operation) {
    const int code = errno;
    return {operation, static_cast<std::uint32_t>(code),
            system_message(static_cast<std::uint32_t>(code))};
}

std::string system_message(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

} // namespace platform
