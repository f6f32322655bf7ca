#pragma once

#include "platform/system_error.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace platform {

// Names the calling thread "main" where the system offers thread descriptions.
void name_main_thread();

// The process's command line as the system hands it over (GetCommandLineW).
std::u16string command_line();

// The full path of the running program's own file, however long.
std::expected<std::filesystem::path, SystemError> own_executable_path();

// Flushes the C runtime's buffered output, runs `clean_up` when given (the HTTP layer's
// shutdown), and ends the process with all 32 bits of `code`.
[[noreturn]] void exit_process(std::uint32_t code, void (*clean_up)() = nullptr);

// The system's fast-fail request for a fatal application exit (code 7): the parent sees
// the status 0xC0000409. Nothing is cleaned up.
[[noreturn]] void fast_fail();

} // namespace platform
