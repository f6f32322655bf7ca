// What the whole-program download benches share: the command line's CA file, a client that
// sees the same road on every machine, and the program's peak memory.
#pragma once

#include "kov/http_client.hpp"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace kov::bench {

// The peak resident set of this program image. Not getrusage: its maximum survives execve, so a
// program started from a big parent would report the parent's size.
inline long peak_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// The text of the CA file named as the optional second argument, if there is one.
inline std::optional<std::string> ca_argument(int argc, char** argv) {
    if (argc < 3) {
        return std::nullopt;
    }
    std::ifstream file(argv[2]);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// No system roots and no proxies: the same road on every machine.
inline ClientOptions isolated_client_options() {
    ClientOptions options;
    options.environment = [](std::string_view name) -> std::optional<std::string> {
        return name == "SSL_CERT_FILE" ? std::optional<std::string>("") : std::nullopt;
    };
    options.internet_settings = [] { return std::optional<InternetSettings>(); };
    return options;
}

} // namespace kov::bench
