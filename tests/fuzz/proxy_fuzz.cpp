// libFuzzer target for the proxy table built from environment values and the Internet Settings.
// The input is split at zero bytes into the values of ALL_PROXY, all_proxy, HTTP_PROXY,
// http_proxy, HTTPS_PROXY, https_proxy, NO_PROXY, no_proxy and the text of ProxyServer; the
// first byte says which variables are set (REQUEST_METHOD included) and what ProxyEnable holds.
// No crash, and:
// - every proxy in the table is an http or https address with a host and a decimal port;
// - the Internet Settings count only when the environment gives no proxy: the table's proxies
//   are then those of the settings alone, otherwise those of the environment alone;
// - the NO_PROXY text (upper case first) is kept when it is not empty;
// - for_scheme hands out the table's own entries.
#include "kov/proxy.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 8> NAMES = {"ALL_PROXY",  "all_proxy",   "HTTP_PROXY",
                                                   "http_proxy", "HTTPS_PROXY", "https_proxy",
                                                   "NO_PROXY",   "no_proxy"};

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

struct Input {
    std::array<std::optional<std::string>, NAMES.size()> values;
    bool request_method = false;
    kov::InternetSettings settings;
};

Input split(std::string_view data) {
    Input input;
    const unsigned flags = data.empty() ? 0 : static_cast<unsigned char>(data.front());
    if (!data.empty()) {
        data.remove_prefix(1);
    }
    std::array<std::string_view, NAMES.size() + 1> fields{};
    for (std::string_view& field : fields) {
        const std::size_t end = data.find('\0');
        field = data.substr(0, end);
        data = end == std::string_view::npos ? std::string_view{} : data.substr(end + 1);
    }
    // Bits 0-7: which variables are set; the flags also choose REQUEST_METHOD and ProxyEnable.
    for (std::size_t i = 0; i < NAMES.size(); ++i) {
        if ((flags >> i & 1) != 0 || !fields[i].empty()) {
            input.values[i] = std::string{fields[i]};
        }
    }
    input.request_method = flags % 3 == 0;
    switch (flags % 5) {
    case 0:
        break; // no ProxyEnable value
    case 1:
        input.settings.proxy_enable = 0;
        break;
    case 2:
        input.settings.proxy_enable = 2;
        break;
    default:
        input.settings.proxy_enable = 1;
    }
    if (flags % 7 != 0) {
        input.settings.proxy_server = std::string{fields.back()};
    }
    return input;
}

void check_address(const std::optional<std::string>& proxy) {
    if (!proxy) {
        return;
    }
    const std::string_view address = *proxy;
    if (!address.starts_with("http://") && !address.starts_with("https://")) {
        broken("proxy without an http or https scheme");
    }
    const std::size_t colon = address.rfind(':');
    const std::string_view port = address.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos) {
        broken("proxy without a decimal port");
    }
    const std::size_t host = address.find("://") + 3;
    if (colon <= host || address.find_first_of(" \t\r\n", host) != std::string_view::npos) {
        broken("proxy without a host, or with a blank");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Input input = split({reinterpret_cast<const char*>(data), size});
    const kov::EnvironmentLookup environment =
        [&input](std::string_view name) -> std::optional<std::string> {
        if (name == "REQUEST_METHOD") {
            return input.request_method ? std::optional<std::string>{"GET"} : std::nullopt;
        }
        for (std::size_t i = 0; i < NAMES.size(); ++i) {
            if (NAMES[i] == name) {
                return input.values[i];
            }
        }
        return std::nullopt;
    };
    const kov::EnvironmentLookup nothing = [](std::string_view) -> std::optional<std::string> {
        return std::nullopt;
    };
    const kov::InternetSettingsLookup settings = [&input] { return input.settings; };
    const kov::InternetSettingsLookup no_settings = [] { return std::nullopt; };

    const kov::ProxyTable table = kov::read_proxy_table(environment, settings);
    check_address(table.http);
    check_address(table.https);

    const kov::ProxyTable from_environment = kov::read_proxy_table(environment, no_settings);
    const kov::ProxyTable from_settings = kov::read_proxy_table(nothing, settings);
    check_address(from_settings.http);
    check_address(from_settings.https);
    const kov::ProxyTable& chosen =
        from_environment.http || from_environment.https ? from_environment : from_settings;
    if (table.http != chosen.http || table.https != chosen.https) {
        broken("proxies do not come from exactly one source");
    }

    const std::optional<std::string>& upper = input.values[6];
    const std::optional<std::string>& no_proxy = upper ? upper : input.values[7];
    const std::optional<std::string> expected =
        no_proxy && !no_proxy->empty() ? no_proxy : std::nullopt;
    if (table.no_proxy != expected || from_settings.no_proxy) {
        broken("NO_PROXY not kept as given");
    }

    if (table.for_scheme("http") != table.http || table.for_scheme("https") != table.https ||
        table.for_scheme("ftp")) {
        broken("for_scheme disagrees with the table");
    }
    return 0;
}
