#include "platform/standard_error.hpp"

#include "platform/text.hpp"
#include "write_all.hpp"

#include <span>
#include <windows.h>

namespace platform {
namespace {

// A write that succeeds without taking anything would otherwise be retried for ever.
SystemError write_fault(std::string_view operation) {
    return {operation, ERROR_WRITE_FAULT, system_message(ERROR_WRITE_FAULT)};
}

// The console takes UTF-16. The text is converted through a small buffer on the stack, so the
// failure report of a failed allocation can still be written.
std::expected<void, SystemError> write_console(HANDLE console, std::string_view utf8) {
    constexpr std::size_t capacity = 512;
    char16_t units[capacity];
    std::size_t used = 0;
    const auto flush = [&]() -> std::expected<void, SystemError> {
        std::size_t done = 0;
        while (done < used) {
            DWORD written = 0;
            if (!WriteConsoleW(console, units + done, static_cast<DWORD>(used - done), &written,
                               nullptr)) {
                return std::unexpected(last_system_error("WriteConsoleW"));
            }
            if (written == 0) {
                return std::unexpected(write_fault("WriteConsoleW"));
            }
            done += written;
        }
        used = 0;
        return {};
    };
    while (!utf8.empty()) {
        used += static_cast<std::size_t>(encode_utf16(take_code_point(utf8), units + used));
        if (used + 2 > capacity) {
            if (auto flushed = flush(); !flushed) {
                return flushed;
            }
        }
    }
    return flush();
}

std::expected<void, SystemError> write_file(HANDLE file, std::string_view bytes) {
    auto written = win32::write_all(file, std::as_bytes(std::span(bytes)));
    if (!written && written.error().code == ERROR_INVALID_HANDLE) {
        return {}; // an invalid handle counts as no standard error at all
    }
    return written;
}

} // namespace

std::expected<void, SystemError> write_standard_error(std::string_view utf8) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        return write_console(handle, utf8);
    }
    return write_file(handle, utf8);
}

} // namespace platform
