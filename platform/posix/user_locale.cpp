#include "platform/user_locale.hpp"

#include "platform/text.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

// The locale the environment names for messages, as the C library picks it.
std::string environment_locale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(name); value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return {};
}

} // namespace

int user_default_locale_name(std::span<char16_t, LOCALE_NAME_UNITS> buffer) {
    std::string name = environment_locale();
    name = name.substr(0, name.find_first_of(".@")); // en_US.UTF-8@euro: en_US
    if (name == "C" || name == "POSIX") {
        name.clear(); // the invariant locale
    }
    std::replace(name.begin(), name.end(), '_', '-');
    const std::u16string units = utf8_to_utf16(name);
    if (units.size() + 1 > buffer.size()) {
        return 0;
    }
    std::copy(units.begin(), units.end(), buffer.begin());
    buffer[units.size()] = u'\0';
    return static_cast<int>(units.size() + 1);
}

} // namespace platform
