#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The proxy values of the current user's "Internet Settings"; a value that is missing or not of
// its expected kind stays empty.
struct InternetSettingsValues {
    std::optional<std::uint32_t> proxy_enable; // "ProxyEnable", a DWORD
    std::optional<std::string> proxy_server;   // "ProxyServer", a string, as UTF-8
};

// Reads "ProxyEnable" and "ProxyServer" of the current user's Internet Settings key and nothing
// else. Nothing when the key cannot be opened; the Linux stand-in has no such key.
std::optional<InternetSettingsValues> read_user_internet_settings();

} // namespace platform
