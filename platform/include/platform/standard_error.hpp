#pragma once

#include "platform/system_error.hpp"

#include <expected>
#include <string_view>

namespace platform {

// Writes UTF-8 text to the inherited standard-error handle, unbuffered: to a console as UTF-16,
// to a file or pipe as the bytes unchanged. A missing handle, or one the system reports as
// invalid, drops the text without error; any other failure is returned.
std::expected<void, SystemError> write_standard_error(std::string_view utf8);

} // namespace platform
