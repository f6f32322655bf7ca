// Writes its first argument's file contents to standard error through the launcher's writer.
// Exits 0 when the writer reported success, 4 with the error code in the result file otherwise.
//
//   stderr_probe TEXT_FILE RESULT_FILE
#include "platform/standard_error.hpp"

#include <fstream>
#include <iterator>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 3;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto written = platform::write_standard_error(text);
    std::ofstream result(argv[2]);
    if (!written) {
        result << written.error().code;
        return 4;
    }
    result << "ok";
    return 0;
}
