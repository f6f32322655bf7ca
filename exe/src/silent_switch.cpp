#include "silent_switch.hpp"

#include "platform/process.hpp"

#include <algorithm>

namespace kov {
namespace {

constexpr std::u16string_view SILENT_SWITCH = u"/S";

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line,
                                               std::u16string_view program_path) {
    if (line.empty()) {
        return {std::u16string{program_path}};
    }
    std::vector<std::u16string> arguments;
    std::size_t i = 0;

    // The program path: quotes toggle quoting and are dropped; backslashes are plain characters.
    std::u16string current;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            current += c;
        }
    }
    arguments.push_back(std::move(current));
    current.clear();
    while (i < line.size() && is_blank(line[i])) {
        ++i;
    }

    quoted = false;
    std::size_t backslashes = 0;
    for (; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            current.append(backslashes / 2, u'\\');
            const bool escaped = backslashes % 2 == 1;
            backslashes = 0;
            if (escaped) {
                current += u'"';
            } else if (!quoted) {
                quoted = true;
            } else if (i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"'; // a doubled quote inside quotes is one literal quote
                ++i;
            } else if (i + 1 < line.size()) {
                quoted = false;
            } // a quote that ends the line leaves quoting on
            continue;
        }
        current.append(backslashes, u'\\');
        backslashes = 0;
        if (is_blank(c) && !quoted) {
            arguments.push_back(std::move(current));
            current.clear();
            while (i + 1 < line.size() && is_blank(line[i + 1])) {
                ++i;
            }
            continue;
        }
        current += c;
    }
    current.append(backslashes, u'\\');
    if (!current.empty() || quoted) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

bool silent_switch_in(std::u16string_view line, std::u16string_view program_path) {
    const std::vector<std::u16string> arguments = split_command_line(line, program_path);
    return std::find(arguments.begin() + 1, arguments.end(), SILENT_SWITCH) != arguments.end();
}

bool read_silent_switch() {
    // An empty line's program is its own path, which the search passes over unexamined: no need
    // to look it up.
    return silent_switch_in(platform::command_line(), {});
}

} // namespace kov
