// A DLL that looks at the sockets layer while the process exits: its detach runs inside
// ExitProcess, after the program's own exit steps and before the sockets DLL it imports is
// detached. It writes "shut down" to the file given to watch_sockets_at_exit when the sockets
// layer is no longer started (a new socket fails with WSANOTINITIALISED), "started" otherwise.
#include <windows.h>
#include <winsock2.h>

namespace {
wchar_t result_path[MAX_PATH];
} // namespace

extern "C" __declspec(dllexport) void watch_sockets_at_exit(const wchar_t* path) {
    lstrcpynW(result_path, path, MAX_PATH);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID process_exit) {
    if (reason != DLL_PROCESS_DETACH || process_exit == nullptr || result_path[0] == L'\0') {
        return TRUE;
    }
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const bool shut_down = probe == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED;
    if (probe != INVALID_SOCKET) {
        closesocket(probe);
    }
    const HANDLE file =
        CreateFileW(result_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const char* text = shut_down ? "shut down" : "started";
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
