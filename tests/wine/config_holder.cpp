// Puts an earlier "installer_config.json" in the roaming folder of the Wine prefix it runs in,
// holds it open as an installed product reading it may, starts a Windows command line and ends
// with the child's exit code.
//
//   config_holder EARLIER_FILE COMMAND_LINE_FILE REPORT_FILE [--share none|r|rw|rwd] [--hidden]
//                 [--wait-for MARKER]
//
// EARLIER_FILE: the bytes of the earlier file. COMMAND_LINE_FILE: the child's command line in
// UTF-8. REPORT_FILE receives the file's attributes in decimal once the child has ended.
// --share opens the file for reading with that sharing (read, write, delete) while the child
// runs; --hidden makes it hidden first; --wait-for waits, after the file is in place, until
// MARKER exists (the driver changes the file in the meantime).
#include "platform/known_folder.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <windows.h>

namespace {

namespace fs = std::filesystem;

constexpr DWORD MARKER_WAIT_MS = 60000;
constexpr DWORD MARKER_POLL_MS = 50;

std::wstring widen(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

DWORD sharing_named(const std::wstring& name) {
    DWORD sharing = 0;
    for (const wchar_t letter : name) {
        sharing |= letter == L'r'   ? FILE_SHARE_READ
                   : letter == L'w' ? FILE_SHARE_WRITE
                   : letter == L'd' ? FILE_SHARE_DELETE
                                    : 0;
    }
    return sharing;
}

bool wait_for(const fs::path& marker) {
    for (DWORD waited = 0; waited < MARKER_WAIT_MS; waited += MARKER_POLL_MS) {
        if (fs::exists(marker)) {
            return true;
        }
        Sleep(MARKER_POLL_MS);
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        return 3;
    }
    const auto roaming = platform::roaming_app_data_folder();
    if (!roaming) {
        return 4;
    }
    const fs::path folder = *roaming / "kovane-console";
    const fs::path config = folder / "installer_config.json";
    fs::create_directories(folder);
    std::ofstream(config, std::ios::binary) << read_all(argv[1]);

    HANDLE holder = INVALID_HANDLE_VALUE;
    for (int i = 4; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--hidden" && !SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_HIDDEN)) {
            return 5;
        }
        if (option == L"--wait-for" && (i + 1 == argc || !wait_for(argv[++i]))) {
            return 6;
        }
        if (option == L"--share" && i + 1 < argc) {
            const std::wstring sharing = argv[++i];
            holder = CreateFileW(config.c_str(), GENERIC_READ, sharing_named(sharing), nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            if (holder == INVALID_HANDLE_VALUE) {
                return 7;
            }
        }
    }

    std::wstring command_line = widen(read_all(argv[2]));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process)) {
        return 8;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        return 9;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (holder != INVALID_HANDLE_VALUE) {
        CloseHandle(holder);
    }
    std::ofstream(argv[3]) << GetFileAttributesW(config.c_str());
    return static_cast<int>(code);
}
