#include "platform/child_process.hpp"

#include "handle.hpp"
#include "platform/text.hpp"

#include <string>

namespace platform {
namespace {

HANDLE as_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// An inheritable copy of one of this process's standard handles; empty when it has none.
std::expected<win32::Handle, SystemError> inheritable_standard_handle(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return win32::Handle{};
    }
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return std::unexpected(last_system_error("DuplicateHandle"));
    }
    return win32::Handle{copy};
}

std::wstring command_line(const std::filesystem::path& program,
                          std::span<const std::string_view> arguments) {
    std::wstring line = L"\"" + program.native() + L"\"";
    for (const std::string_view argument : arguments) {
        const std::u16string wide = utf8_to_utf16(argument);
        line += L' ';
        line.append(wide.begin(), wide.end());
    }
    return line;
}

} // namespace

ChildProcess::~ChildProcess() {
    win32::close_handle(as_handle(thread_));
    win32::close_handle(as_handle(process_));
}

std::expected<ChildProcess, SystemError>
ChildProcess::start(const std::filesystem::path& program,
                    std::span<const std::string_view> arguments) {
    win32::Handle standard[3];
    const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        auto copy = inheritable_standard_handle(which[i]);
        if (!copy) {
            return std::unexpected(std::move(copy.error()));
        }
        standard[i] = std::move(*copy);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // With none of the three, the system's defaults apply.
    if (standard[0].valid() || standard[1].valid() || standard[2].valid()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = standard[0].get();
        startup.hStdOutput = standard[1].get();
        startup.hStdError = standard[2].get();
    }
    std::wstring line = command_line(program, arguments);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started)) {
        return std::unexpected(last_system_error("CreateProcessW"));
    }
    return ChildProcess{reinterpret_cast<std::intptr_t>(started.hProcess),
                        reinterpret_cast<std::intptr_t>(started.hThread)};
}

std::expected<std::uint32_t, SystemError> ChildProcess::wait() {
    if (WaitForSingleObject(as_handle(process_), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(last_system_error("WaitForSingleObject"));
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(as_handle(process_), &code)) {
        return std::unexpected(last_system_error("GetExitCodeProcess"));
    }
    return code;
}

} // namespace platform
