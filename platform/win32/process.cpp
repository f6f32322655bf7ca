#include "platform/process.hpp"

#include "wide.hpp"

#include <cstdio>
#include <vector>
#include <windows.h>

namespace platform {

void name_main_thread() {
    // SetThreadDescription exists from Windows 10 1607 on; older systems simply lack it.
    using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return;
    }
    const auto set_description = reinterpret_cast<SetThreadDescriptionFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetThreadDescription")));
    if (set_description != nullptr) {
        set_description(GetCurrentThread(), L"main");
    }
}

std::u16string command_line() {
    const wchar_t* line = GetCommandLineW();
    return line == nullptr ? std::u16string{} : std::u16string{win32::utf16_view(line)};
}

std::expected<std::filesystem::path, SystemError> own_executable_path() {
    // GetModuleFileNameW truncates silently when the buffer is too small: grow until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length == 0) {
            return std::unexpected(last_system_error("GetModuleFileNameW"));
        }
        if (length < capacity) {
            return std::filesystem::path(std::wstring(buffer.data(), length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

void exit_process(std::uint32_t code, void (*clean_up)()) {
    std::fflush(nullptr);
    if (clean_up != nullptr) {
        clean_up();
    }
    ExitProcess(code);
}

void fast_fail() {
    // The __fastfail intrinsic: interrupt 0x29 with the code in rcx; FAST_FAIL_FATAL_APP_EXIT is 7.
    asm volatile("int $0x29" : : "c"(7) : "memory");
    __builtin_unreachable();
}

} // namespace platform
