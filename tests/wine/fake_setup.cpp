// Stands in for the real setup program: exits with 42, or 43 when started with "/S".
// With KOVANE_FAKE_SETUP_EXIT set it exits with that code (hexadecimal) instead, and with
// KOVANE_FAKE_SETUP_RECORD set it first writes its command line there (UTF-16). With
// KOVANE_FAKE_SETUP_SOCKETS set it writes there how many connected sockets it inherited (decimal).
#include <cstdio>
#include <cstdlib>
#include <cwchar>
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

namespace {

// Handle values are multiples of four; an inherited socket keeps the value it had in the parent.
// A connected socket has a local address; any other handle value has none.
int inherited_sockets() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return -1;
    }
    int found = 0;
    for (UINT_PTR value = 4; value < 0x10000; value += 4) {
        sockaddr_storage address{};
        int size = sizeof address;
        if (getsockname(static_cast<SOCKET>(value), reinterpret_cast<sockaddr*>(&address), &size) ==
            0) {
            ++found;
        }
    }
    WSACleanup();
    return found;
}

void write_to(const wchar_t* path, const void* data, std::size_t size) {
    if (FILE* file = _wfopen(path, L"wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (const wchar_t* record = _wgetenv(L"KOVANE_FAKE_SETUP_RECORD")) {
        const wchar_t* line = GetCommandLineW();
        write_to(record, line, std::wcslen(line) * sizeof(wchar_t));
    }
    if (const wchar_t* sockets = _wgetenv(L"KOVANE_FAKE_SETUP_SOCKETS")) {
        char count[16];
        const int length = std::snprintf(count, sizeof count, "%d", inherited_sockets());
        write_to(sockets, count, static_cast<std::size_t>(length));
    }
    if (const wchar_t* code = _wgetenv(L"KOVANE_FAKE_SETUP_EXIT")) {
        ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 16)));
    }
    return argc > 1 && std::wcscmp(argv[1], L"/S") == 0 ? 43 : 42;
}
