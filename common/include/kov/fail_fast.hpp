#pragma once

#include "platform/com_error.hpp"
#include "platform/system_error.hpp"

#include <expected>
#include <source_location>
#include <string_view>
#include <type_traits>
#include <utility>

namespace kov {

// Ends the run abnormally: writes "fatal error at FILE:LINE:COLUMN: DETAIL" and a line feed to
// standard error, then requests the system's fast-fail (exit status 0xC0000409 on Windows).
// Allocates nothing, so it also serves a failed allocation.
[[noreturn]] void fail_fast(std::string_view detail,
                            std::source_location where = std::source_location::current());

// The same, with a failed system call's name, code and message text as the detail.
[[noreturn]] void fail_fast(const platform::SystemError& error,
                            std::source_location where = std::source_location::current());

// The same, with a failed COM or shell call's name, HRESULT and message text as the detail.
[[noreturn]] void fail_fast(const platform::ComError& error,
                            std::source_location where = std::source_location::current());

// Unwraps an expected value, or ends the run abnormally with its error where the call stands.
template <class T, class E>
T take_or_fail(std::expected<T, E>&& result,
               std::source_location where = std::source_location::current()) {
    if (!result) {
        fail_fast(result.error(), where);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

} // namespace kov
