// libFuzzer target for the command-line splitter and the silent switch over arbitrary UTF-16
// (the bytes read as little-endian code units, unpaired surrogates and all): no crash, and
// - there is always a first argument, and an empty line's is the program path;
// - no argument holds more code units than the line;
// - the arguments after the first, quoted back by the rules the splitter undoes and split
//   again, come back unchanged, and so does the first;
// - the silent switch is on exactly when an argument after the first is "/S".
#include "silent_switch.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::u16string_view PROGRAM_PATH = u"C:\\kovane\\setup launcher.exe";

[[noreturn]] void broken(const char* what, std::size_t units) {
    std::fprintf(stderr, "invariant broken: %s (line of %zu code units)\n", what, units);
    std::abort();
}

// The first argument knows no escapes: quoting it whole keeps its blanks, and it never holds a
// quotation mark.
std::u16string quote_program(std::u16string_view program) {
    return u"\"" + std::u16string{program} + u"\"";
}

void append_quoted(std::u16string& line, std::u16string_view argument) {
    line += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, u'\\');
    line += u'"';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string line(size / 2, u'\0');
    for (std::size_t i = 0; i < line.size(); ++i) {
        line[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    const std::vector<std::u16string> arguments = kov::split_command_line(line, PROGRAM_PATH);
    if (arguments.empty()) {
        broken("no first argument", line.size());
    }
    if (line.empty() && arguments != std::vector<std::u16string>{std::u16string{PROGRAM_PATH}}) {
        broken("empty line does not give the program path", line.size());
    }
    for (const std::u16string& argument : arguments) {
        if (argument.size() > std::max(line.size(), PROGRAM_PATH.size())) {
            broken("argument longer than the line", line.size());
        }
    }
    if (!line.empty()) {
        if (arguments.front().find(u'"') != std::u16string::npos) {
            broken("quotation mark kept in the first argument", line.size());
        }
        std::u16string again = quote_program(arguments.front());
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            again += u' ';
            append_quoted(again, arguments[i]);
        }
        if (kov::split_command_line(again, PROGRAM_PATH) != arguments) {
            broken("arguments quoted back split differently", line.size());
        }
    }
    const bool silent = std::find(arguments.begin() + 1, arguments.end(), u"/S") != arguments.end();
    if (kov::silent_switch_in(line, PROGRAM_PATH) != silent) {
        broken("silent switch disagrees with the arguments", line.size());
    }
    return 0;
}
