#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kov {

// Splits a Windows command line into arguments by the rules Windows programs share. An empty
// line gives the single argument `program_path`.
std::vector<std::u16string> split_command_line(std::u16string_view line,
                                               std::u16string_view program_path);

// True when an argument after the program path is exactly "/S".
bool silent_switch_in(std::u16string_view line, std::u16string_view program_path);

// Reads the silent switch from the process's own command line.
bool read_silent_switch();

} // namespace kov
