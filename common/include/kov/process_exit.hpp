#pragma once

#include <cstdint>

namespace kov {

// Ends the run with all 32 bits of `code`: buffered output is flushed, then the HTTP layer is
// shut down when a client started it (which shuts the sockets layer down, WSACleanup, on
// Windows), then the process exits. Nothing the run owns is released first.
[[noreturn]] void exit_process(std::uint32_t code);

} // namespace kov
