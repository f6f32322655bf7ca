// Writes its own command line (GetCommandLineW, as UTF-8) to standard output and "stderr" to
// standard error, through the handles it was given, then exits with 0.
#include <string>
#include <windows.h>

namespace {

void write(DWORD which, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

} // namespace

int wmain() {
    const wchar_t* line = GetCommandLineW();
    const int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), length, nullptr, nullptr);
    write(STD_OUTPUT_HANDLE, utf8);
    write(STD_ERROR_HANDLE, "stderr");
    return 0;
}
