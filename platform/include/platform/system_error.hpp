#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A failed operating-system call: which call, the system's error code and its message text.
struct SystemError {
    std::string_view operation;
    std::uint32_t code = 0;
    std::string message;
};

// The error of the call that just failed on this thread (GetLastError, errno).
SystemError last_system_error(std::string_view operation);

// The system's message text for an error code, without trailing blanks and line ends.
std::string system_message(std::uint32_t code);

// "<operation> failed: <message> (os error <code>)"
std::string describe(const SystemError& error);

} // namespace platform
