#include "platform/internet_settings.hpp"

namespace platform {

// Linux has no per-user Internet Settings: proxies come from the environment alone.
std::optional<InternetSettingsValues> read_user_internet_settings() {
    return std::nullopt;
}

} // namespace platform
