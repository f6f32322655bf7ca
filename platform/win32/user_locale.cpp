#include "platform/user_locale.hpp"

#include <windows.h>

namespace platform {

int user_default_locale_name(std::span<char16_t, LOCALE_NAME_UNITS> buffer) {
    static_assert(LOCALE_NAME_UNITS == LOCALE_NAME_MAX_LENGTH);
    return GetUserDefaultLocaleName(reinterpret_cast<wchar_t*>(buffer.data()),
                                    static_cast<int>(buffer.size()));
}

} // namespace platform
