// Stands in for the real setup program: exits with 42, or 43 when started with "/S".
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    return argc > 1 && std::wcscmp(argv[1], L"/S") == 0 ? 43 : 42;
}
