#pragma once

#include "platform/com_error.hpp"

#include <windows.h>

namespace platform::win32 {

// The error of a failed COM or shell call: the thread's COM error object's description when one
// is set (taking the object), else the system's message text for `result`.
ComError com_error(std::string_view operation, HRESULT result);

} // namespace platform::win32
