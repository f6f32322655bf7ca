// Downloads one address through the HTTP client with the setup download's read loop (one 64 KiB
// buffer, the bytes dropped) and prints what it took:
//
//   http_read_loop URL [CA_PEM_FILE]
//
// Output: one line "bytes=N seconds=S peak_rss_kib=K". Exit status 0 on success, 1 on a failure.
#include "bench_client.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: http_read_loop URL [CA_PEM_FILE]\n", stderr);
        return 1;
    }
    const std::optional<std::string> ca = kov::bench::ca_argument(argc, argv);
    const auto started = std::chrono::steady_clock::now();
    auto client = kov::make_http_client(ca, kov::bench::isolated_client_options());
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
                static_cast<unsigned long long>(total), took.count(), kov::bench::peak_rss_kib());
    return 0;
}
