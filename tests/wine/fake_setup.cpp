// Stands in for the real setup program: exits with 42, or 43 when started with "/S".
// With KOVANE_FAKE_SETUP_EXIT set it exits with that code (hexadecimal) instead, and with
// KOVANE_FAKE_SETUP_RECORD set it first writes its command line there (UTF-16).
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (const wchar_t* record = _wgetenv(L"KOVANE_FAKE_SETUP_RECORD")) {
        if (FILE* file = _wfopen(record, L"wb")) {
            const wchar_t* line = GetCommandLineW();
            std::fwrite(line, sizeof(wchar_t), std::wcslen(line), file);
            std::fclose(file);
        }
    }
    if (const wchar_t* code = _wgetenv(L"KOVANE_FAKE_SETUP_EXIT")) {
        ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 16)));
    }
    return argc > 1 && std::wcscmp(argv[1], L"/S") == 0 ? 43 : 42;
}
