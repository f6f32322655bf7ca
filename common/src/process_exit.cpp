#include "kov/process_exit.hpp"

#include "http_library.hpp"
#include "platform/process.hpp"

namespace kov {

void exit_process(std::uint32_t code) {
    platform::exit_process(code, http::shut_down_library);
}

} // namespace kov
