#include "platform/user_locale.hpp"
#include "platform_fakes.hpp"

#include <algorithm>

namespace platform {

int user_default_locale_name(std::span<char16_t, LOCALE_NAME_UNITS> buffer) {
    const bool zeroed =
        std::all_of(buffer.begin(), buffer.end(), [](char16_t u) { return u == 0; });
    test::fakes::locale_queries.push_back({buffer.size(), zeroed});
    const std::u16string& units = test::fakes::locale_answer.units;
    std::copy_n(units.begin(), std::min(units.size(), buffer.size()), buffer.begin());
    return test::fakes::locale_answer.result;
}

} // namespace platform
