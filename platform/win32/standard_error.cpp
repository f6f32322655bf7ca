#include "platform/standard_error.hpp"

#include "platform/text.hpp"
#include "write_all.hpp"

#include <span>
#include <windows.h>

namespace platform {
namespace {

// A failed write without its message text: the failure report cannot allocate one.
struct WriteFailure {
    std::string_view operation;
    DWORD code = ERROR_SUCCESS;
};

// The console takes UTF-16. The text is converted through a small buffer on the stack, so the
// failure report of a failed allocation can still be written.
WriteFailure write_console(HANDLE console, std::string_view utf8) noexcept {
    constexpr std::size_t capacity = 512;
    char16_t units[capacity];
    std::size_t used = 0;
    const auto flush = [&]() -> DWORD {
        std::size_t done = 0;
        while (done < used) {
            DWORD written = 0;
            if (!WriteConsoleW(console, units + done, static_cast<DWORD>(used - done), &written,
                               nullptr)) {
                return GetLastError();
            }
            if (written == 0) {
                // A write that succeeds without taking anything would otherwise be retried for
                // ever.
                return ERROR_WRITE_FAULT;
            }
            done += written;
        }
        used = 0;
        return ERROR_SUCCESS;
    };
    while (!utf8.empty()) {
        used += static_cast<std::size_t>(encode_utf16(take_code_point(utf8), units + used));
        if (used + 2 > capacity) {
            if (const DWORD code = flush(); code != ERROR_SUCCESS) {
                return {"WriteConsoleW", code};
            }
        }
    }
    return {"WriteConsoleW", flush()};
}

WriteFailure write_to_standard_error(std::string_view utf8) noexcept {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    DWORD mode = 0;
    WriteFailure failure =
        GetConsoleMode(handle, &mode)
            ? write_console(handle, utf8)
            : WriteFailure{"WriteFile",
                           win32::write_all_or_error(handle, std::as_bytes(std::span(utf8)))};
    // An invalid handle counts as no standard error at all: a file handle the system does not
    // know, or a console input handle, which GetConsoleMode accepts and WriteConsoleW refuses.
    if (failure.code == ERROR_INVALID_HANDLE) {
        failure.code = ERROR_SUCCESS;
    }
    return failure;
}

} // namespace

std::uint32_t write_standard_error_code(std::string_view utf8) noexcept {
    return write_to_standard_error(utf8).code;
}

std::expected<void, SystemError> write_standard_error(std::string_view utf8) {
    const WriteFailure failure = write_to_standard_error(utf8);
    if (failure.code != ERROR_SUCCESS) {
        return std::unexpected(
            SystemError{failure.operation, failure.code, system_message(failure.code)});
    }
    return {};
}

} // namespace platform
