#pragma once

#include "platform/system_error.hpp"

#include <algorithm>
#include <cstddef>
#include <expected>
#include <span>
#include <windows.h>

namespace platform::win32 {

// Writes every byte to `handle`, in pieces a DWORD can count; a write that takes nothing is a
// fault rather than a reason to spin. Returns 0, or the system error code of the failure.
// Allocates nothing, so that the failure report can use it too.
inline DWORD write_all_or_error(HANDLE handle, std::span<const std::byte> bytes) noexcept {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            return GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        bytes = bytes.subspan(written);
    }
    return ERROR_SUCCESS;
}

// The same, with the failure's message text.
inline std::expected<void, SystemError> write_all(HANDLE handle, std::span<const std::byte> bytes) {
    if (const DWORD code = write_all_or_error(handle, bytes); code != ERROR_SUCCESS) {
        return std::unexpected(SystemError{"WriteFile", code, system_message(code)});
    }
    return {};
}

} // namespace platform::win32
