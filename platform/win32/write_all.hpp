#pragma once

#include "platform/system_error.hpp"

#include <algorithm>
#include <cstddef>
#include <expected>
#include <span>
#include <windows.h>

namespace platform::win32 {

// Writes every byte to `handle`, in pieces a DWORD can count; a write that takes nothing is a
// fault rather than a reason to spin.
inline std::expected<void, SystemError> write_all(HANDLE handle, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            return std::unexpected(last_system_error("WriteFile"));
        }
        if (written == 0) {
            return std::unexpected(
                SystemError{"WriteFile", ERROR_WRITE_FAULT, system_message(ERROR_WRITE_FAULT)});
        }
        bytes = bytes.subspan(written);
    }
    return {};
}

} // namespace platform::win32
