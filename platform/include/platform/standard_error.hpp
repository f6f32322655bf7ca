#pragma once

#include "platform/system_error.hpp"

#include <cstdint>
#include <expected>
#include <string_view>

namespace platform {

// Writes UTF-8 text to the inherited standard-error handle, unbuffered: to a console as UTF-16,
// to a file or pipe as the bytes unchanged. A missing handle, or one the system reports as
// invalid, drops the text without error; any other failure is returned.
std::expected<void, SystemError> write_standard_error(std::string_view utf8);

// The same for the failure report: allocates nothing, also when the write fails, and returns
// only the system's error code of a failure (0 when the text went out or was dropped).
std::uint32_t write_standard_error_code(std::string_view utf8) noexcept;

} // namespace platform
