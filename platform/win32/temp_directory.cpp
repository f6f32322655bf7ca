#include "platform/temp_directory.hpp"

#include <vector>
#include <windows.h>
// bcrypt.h needs the types of windows.h first.
#include <bcrypt.h>

namespace platform {
namespace {

using GetTempPathFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W exists from Windows 11 and recent Windows 10 builds on; older systems lack it.
std::pair<GetTempPathFn, std::string_view> temp_path_call() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 != nullptr) {
        if (const auto call = reinterpret_cast<GetTempPathFn>(
                reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")))) {
            return {call, "GetTempPath2W"};
        }
    }
    return {GetTempPathW, "GetTempPathW"};
}

} // namespace

std::expected<std::filesystem::path, SystemError> temporary_folder() {
    const auto [call, name] = temp_path_call();
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = call(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return std::unexpected(last_system_error(name));
        }
        if (length < buffer.size()) {
            return std::filesystem::path(std::wstring(buffer.data(), length));
        }
        buffer.resize(length); // the size asked for, terminating NUL included
    }
}

std::expected<void, SystemError> system_random(std::span<std::byte> bytes) {
    const NTSTATUS status =
        BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                        static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
        const auto code = static_cast<std::uint32_t>(status);
        return std::unexpected(SystemError{"BCryptGenRandom", code, system_message(code)});
    }
    return {};
}

std::expected<bool, SystemError> create_new_directory(const std::filesystem::path& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        return false;
    }
    return std::unexpected(SystemError{"CreateDirectoryW", error, system_message(error)});
}

} // namespace platform
