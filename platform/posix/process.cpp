#include "platform/process.hpp"

#include "platform/text.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <pthread.h>
#include <unistd.h>

namespace platform {
namespace {

// Quotes one argument so that the Windows splitting rules give it back unchanged.
void append_quoted(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            line.append(backslashes * 2 + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

} // namespace

void name_main_thread() {
    pthread_setname_np(pthread_self(), "main");
}

std::u16string command_line() {
    // Linux hands over argv, not one line: rebuild the line Windows would have given.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string line;
    std::size_t start = 0;
    bool first = true;
    while (start < raw.size()) {
        const std::size_t end = raw.find('\0', start);
        const std::string argument = raw.substr(start, end - start);
        if (!first) {
            line += ' ';
        }
        if (first && argument.find_first_of(" \t") != std::string::npos) {
            line += '"' + argument + '"';
        } else if (first) {
            line += argument;
        } else {
            append_quoted(line, argument);
        }
        first = false;
        start = end == std::string::npos ? raw.size() : end + 1;
    }
    return utf8_to_utf16(line);
}

std::expected<std::filesystem::path, SystemError> own_executable_path() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::unexpected(
            SystemError{"readlink", static_cast<std::uint32_t>(error.value()), error.message()});
    }
    return path;
}

void exit_process(std::uint32_t code, void (*clean_up)()) {
    std::fflush(nullptr);
    if (clean_up != nullptr) {
        clean_up();
    }
    _exit(static_cast<int>(code));
}

void fast_fail() {
    std::abort();
}

} // namespace platform
