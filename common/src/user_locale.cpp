#include "platform/user_locale.hpp"

#include "kov/config_fetch.hpp"
#include "kov/fail_fast.hpp"
#include "platform/text.hpp"

#include <algorithm>
#include <array>

namespace kov {

std::string user_locale_name() {
    std::array<char16_t, platform::LOCALE_NAME_UNITS> buffer{};
    const int len = platform::user_default_locale_name(buffer);
    if (len <= 0) {
        fail_fast("assertion failed: len > 0");
    }
    // The count includes the terminating NUL. A count beyond the buffer would be the system's
    // fault; it is bounded rather than trusted.
    const std::size_t units = std::min(static_cast<std::size_t>(len - 1), buffer.size());
    return platform::utf16_to_utf8({buffer.data(), units});
}

} // namespace kov
