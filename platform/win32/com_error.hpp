#pragma once

#include "platform/com_error.hpp"

#include <windows.h>

namespace platform::win32 {

// The error of the COM call `operation` that has just returned `result`. Takes the thread's COM
// error information, if the call left any.
ComError com_error(std::string_view operation, HRESULT result);

} // namespace platform::win32
