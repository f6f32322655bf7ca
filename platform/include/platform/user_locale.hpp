#pragma once

#include <cstddef>
#include <span>

namespace platform {

// Room for the longest locale name the system hands out, its terminating NUL included
// (LOCALE_NAME_MAX_LENGTH).
inline constexpr std::size_t LOCALE_NAME_UNITS = 85;

// The system's query for the user's default locale name (GetUserDefaultLocaleName): writes the
// name and a terminating NUL into `buffer` and returns the units written, the NUL included, or
// 0 or less when it fails.
// The Linux stand-in takes the name from LC_ALL, LC_MESSAGES or LANG: en_US.UTF-8 gives en-US,
// C or POSIX the invariant locale's empty name.
int user_default_locale_name(std::span<char16_t, LOCALE_NAME_UNITS> buffer);

} // namespace platform
