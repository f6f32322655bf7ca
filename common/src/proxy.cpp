#include "kov/proxy.hpp"

namespace kov {

std::optional<std::string_view> ProxyTable::for_scheme(std::string_view scheme) const {
    const auto& proxy = scheme == "https" ? https : scheme == "http" ? http : std::nullopt;
    if (!proxy) {
        return std::nullopt;
    }
    return *proxy;
}

std::optional<InternetSettings> read_internet_settings() {
    return std::nullopt;
}

ProxyTable read_proxy_table(const EnvironmentLookup& /*environment*/,
                            const InternetSettingsLookup& /*internet_settings*/) {
    return {};
}

} // namespace kov
