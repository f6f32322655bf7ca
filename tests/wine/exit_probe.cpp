// Ends through the launcher's process exit with the code given in hexadecimal as its argument.
#include "platform/process.hpp"

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 3;
    }
    platform::exit_process(static_cast<std::uint32_t>(std::wcstoul(argv[1], nullptr, 16)));
}
