// Downloads one address through the HTTP client with the setup download's read loop (one 64 KiB
// buffer, the bytes dropped) and prints what it took:
//
//   http_read_loop URL [CA_PEM_FILE]
//
// Output: one line "bytes=N seconds=S peak_rss_kib=K". Exit status 0 on success, 1 on a failure.
#include "kov/http_client.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The peak resident set of this program image. Not getrusage: its maximum survives execve, so a
// program started from a big parent would report the parent's size.
long peak_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: http_read_loop URL [CA_PEM_FILE]\n", stderr);
        return 1;
    }
    std::optional<std::string> ca;
    if (argc == 3) {
        std::ifstream file(argv[2]);
        std::stringstream text;
        text << file.rdbuf();
        ca = text.str();
    }
    kov::ClientOptions options;
    // No system roots and no proxies: the same road on every machine.
    options.environment = [](std::string_view name) -> std::optional<std::string> {
        return name == "SSL_CERT_FILE" ? std::optional<std::string>("") : std::nullopt;
    };
    options.internet_settings = [] { return std::optional<kov::InternetSettings>(); };
    const auto started = std::chrono::steady_clock::now();
    auto client = kov::make_http_client(ca, options);
    if (!client) {
        std::fprintf(stderr, "%s\n", kov::debug_form(client.error()).c_str());
        return 1;
    }
    auto response = client->get(argv[1]).send();
    if (!response || !response->check_status()) {
        std::fprintf(stderr, "%s\n",
                     kov::debug_form(response ? response->check_status().error() : response.error())
                         .c_str());
        return 1;
    }
    std::vector<std::byte> buffer(64 * 1024);
    std::uint64_t total = 0;
    for (;;) {
        const auto n = response->read(buffer);
        if (!n) {
            std::fprintf(stderr, "%s\n", kov::debug_form(n.error()).c_str());
            return 1;
        }
        if (*n == 0) {
            break;
        }
        total += *n;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("bytes=%llu seconds=%.3f peak_rss_kib=%ld\n",
                static_cast<unsigned long long>(total), took.count(), peak_rss_kib());
    return 0;
}
