#pragma once

#include "kov/trust_store.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kov {

// The current user's "Internet Settings" values the client reads; absent values stay empty.
struct InternetSettings {
    std::optional<std::uint32_t> proxy_enable;
    std::optional<std::string> proxy_server;
};

// Reads the Internet Settings; nothing where the system has none (and on Linux hosts).
using InternetSettingsLookup = std::function<std::optional<InternetSettings>()>;
std::optional<InternetSettings> read_internet_settings();

// The proxies of a run, made once when the client is built.
struct ProxyTable {
    std::optional<std::string> http;     // proxy address for http requests
    std::optional<std::string> https;    // proxy address for https requests
    std::optional<std::string> no_proxy; // the NO_PROXY text, for the HTTP library's matching

    // The proxy for a request address's scheme ("http" or "https"), or nothing: go direct.
    std::optional<std::string_view> for_scheme(std::string_view scheme) const;

    friend bool operator==(const ProxyTable&, const ProxyTable&) = default;
};

// The environment first (ALL_PROXY, HTTP_PROXY unless REQUEST_METHOD is set, HTTPS_PROXY, each
// upper case then lower case), the Internet Settings only when the environment gives no proxy.
ProxyTable read_proxy_table(const EnvironmentLookup& environment,
                            const InternetSettingsLookup& internet_settings);

} // namespace kov
