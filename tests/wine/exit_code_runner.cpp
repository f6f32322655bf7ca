// Starts a Windows command line exactly as given and records the child's whole 32-bit exit code,
// which Wine would otherwise cut to its low 8 bits on the way to Unix.
//
//   exit_code_runner COMMAND_LINE_FILE RESULT_FILE [--no-stderr | --stderr-console-input]
//
// COMMAND_LINE_FILE holds the child's command line in UTF-8; RESULT_FILE receives the exit code
// in decimal. The child inherits the runner's standard handles (standard error left out with
// --no-stderr, or the console's input handle in its place with --stderr-console-input).
#include <fstream>
#include <iterator>
#include <string>
#include <windows.h>

namespace {

std::wstring widen(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

HANDLE inheritable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// The console's input handle, which passes for a console but takes no output; a console is
// made first when the runner has none that it can open.
HANDLE console_input() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&] {
        return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE input = open();
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        // Started without a console of its own (under Wine from a pipe, say): make one.
        FreeConsole();
        if (!AllocConsole()) {
            return nullptr;
        }
        input = open();
    }
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        return nullptr;
    }
    return input;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 3;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::wstring command_line =
        widen({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    const std::wstring option = argc > 3 ? argv[3] : L"";

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    if (option == L"--stderr-console-input") {
        startup.hStdError = console_input();
        if (startup.hStdError == nullptr) {
            return 6;
        }
    } else {
        startup.hStdError = option == L"--no-stderr" ? nullptr : inheritable(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process)) {
        return 4;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        return 5;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ofstream(argv[2]) << code;
    return 0;
}
