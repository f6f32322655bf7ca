#include "platform/message_box.hpp"

namespace platform {

int show_message_box(const char16_t* /*text*/, const char16_t* /*caption*/,
                     std::uint32_t /*style*/) {
    return 0; // no desktop to show it on
}

} // namespace platform
