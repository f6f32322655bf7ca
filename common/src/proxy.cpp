#include "kov/proxy.hpp"

#include "http_headers.hpp"
#include "platform/internet_settings.hpp"
#include "url.hpp"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace kov {
namespace {

// Schemes and entry names compare without regard to case, as URL schemes do.
using http::equals_ignoring_case;

// The scheme of a text that starts with "scheme://", or nothing.
std::optional<std::string_view> scheme_prefix(std::string_view text) {
    const auto end = text.find("://");
    if (end == std::string_view::npos || end == 0) {
        return std::nullopt;
    }
    const std::string_view scheme = text.substr(0, end);
    const auto is_alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto is_scheme_char = [&](char c) {
        return is_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    };
    if (!is_alpha(scheme.front()) || !std::ranges::all_of(scheme, is_scheme_char)) {
        return std::nullopt;
    }
    return scheme;
}

// A proxy address without a scheme is an http proxy.
std::string with_scheme(std::string_view address) {
    if (scheme_prefix(address)) {
        return std::string(address);
    }
    return "http://" + std::string(address);
}

// The form the HTTP library takes, "scheme://[user:password@]host:port", or nothing when `value`
// is no http or https proxy address with a host. The port is always written: curl's own default
// for a proxy is 1080, where an address without one means the scheme's port. User information
// counts only with a password, and stays percent-encoded: curl decodes it. An IPv6 address with
// a zone ("[fe80::1%25eth0]") is no address by the URL rules, so such a value cannot be used.
std::optional<std::string> proxy_address(std::string_view value) {
    // The parser drops blanks and controls at either end anyway; they must not hide the scheme.
    const auto is_edge = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!value.empty() && is_edge(value.front())) {
        value.remove_prefix(1);
    }
    while (!value.empty() && is_edge(value.back())) {
        value.remove_suffix(1);
    }
    const auto url = url::parse(with_scheme(value));
    if (!url || (url->scheme != "http" && url->scheme != "https") || !url->host ||
        url->host->empty()) {
        return std::nullopt;
    }
    std::string address = url->scheme + "://";
    if (!url->password.empty()) {
        address += url->username + ":" + url->password + "@";
    }
    const std::uint16_t port = url->port ? *url->port : *url::default_port(url->scheme);
    return address + *url->host + ":" + std::to_string(port);
}

// The proxy of the first of `names` (upper case, then lower case) whose value can be used.
std::optional<std::string> proxy_from_environment(const EnvironmentLookup& environment,
                                                  std::initializer_list<std::string_view> names) {
    for (const std::string_view name : names) {
        if (const auto value = environment(name)) {
            if (auto address = proxy_address(*value)) {
                return address;
            }
        }
    }
    return std::nullopt;
}

ProxyTable proxies_from_environment(const EnvironmentLookup& environment) {
    ProxyTable table;
    if (auto all = proxy_from_environment(environment, {"ALL_PROXY", "all_proxy"})) {
        table.http = all;
        table.https = std::move(all);
    }
    // Under CGI, HTTP_PROXY may come from a request's "Proxy:" header.
    if (!environment("REQUEST_METHOD")) {
        if (auto http = proxy_from_environment(environment, {"HTTP_PROXY", "http_proxy"})) {
            table.http = std::move(http);
        }
    }
    if (auto https = proxy_from_environment(environment, {"HTTPS_PROXY", "https_proxy"})) {
        table.https = std::move(https);
    }
    return table;
}

// Sets the proxy of `scheme` when `address` can be used; other schemes have no place here.
void set_proxy(ProxyTable& table, std::string_view scheme, std::string_view address) {
    auto proxy = proxy_address(address);
    if (!proxy) {
        return;
    }
    if (equals_ignoring_case(scheme, "http")) {
        table.http = std::move(proxy);
    } else if (equals_ignoring_case(scheme, "https")) {
        table.https = std::move(proxy);
    }
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(end + 1);
    }
}

// "ProxyServer" is one address ("host:port" for both schemes, "scheme://host:port" for its own
// scheme) or a list "http=host:port;https=host:port".
ProxyTable proxies_from_internet_settings(const InternetSettings& settings) {
    ProxyTable table;
    if (settings.proxy_enable != 1u || !settings.proxy_server) {
        return table;
    }
    const std::string_view server = *settings.proxy_server;
    if (server.find('=') == std::string_view::npos) {
        if (const auto scheme = scheme_prefix(server)) {
            set_proxy(table, *scheme, server);
        } else {
            set_proxy(table, "http", server);
            set_proxy(table, "https", server);
        }
        return table;
    }
    for (const std::string_view entry : split(server, ';')) {
        const auto parts = split(entry, '=');
        if (parts.size() != 2) {
            return {}; // one malformed entry discards the whole list
        }
        set_proxy(table, parts[0], parts[1]);
    }
    return table;
}

} // namespace

std::optional<std::string_view> ProxyTable::for_scheme(std::string_view scheme) const {
    // Each branch on its own: a conditional expression mixing a member with std::nullopt would
    // copy the member, and the view would outlive the copy.
    if (scheme == "http" && http) {
        return *http;
    }
    if (scheme == "https" && https) {
        return *https;
    }
    return std::nullopt;
}

std::optional<InternetSettings> read_internet_settings() {
    auto values = platform::read_user_internet_settings();
    if (!values) {
        return std::nullopt;
    }
    return InternetSettings{.proxy_enable = values->proxy_enable,
                            .proxy_server = std::move(values->proxy_server)};
}

ProxyTable read_proxy_table(const EnvironmentLookup& environment,
                            const InternetSettingsLookup& internet_settings) {
    ProxyTable table = proxies_from_environment(environment);
    if (!table.http && !table.https) {
        if (const auto settings = internet_settings()) {
            table = proxies_from_internet_settings(*settings);
        }
    }
    auto no_proxy = environment("NO_PROXY");
    if (!no_proxy) {
        no_proxy = environment("no_proxy");
    }
    if (no_proxy && !no_proxy->empty()) {
        table.no_proxy = std::move(no_proxy);
    }
    return table;
}

} // namespace kov
