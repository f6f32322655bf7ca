// The baseline of http_read_loop: the same download as one plain libcurl easy transfer, with the
// client's TLS settings, its 64 KiB receive buffer and the same sink (the bytes are dropped):
//
//   curl_easy_loop URL [CA_PEM_FILE]
//
// Output: one line "bytes=N seconds=S peak_rss_kib=K". Exit status 0 on success, 1 on a failure.
#include "bench_client.hpp"
#include "kov/pem.hpp"
#include "kov/trust_store.hpp"
#include "tls_settings.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <curl/curl.h>

namespace {

std::size_t drop(char*, std::size_t size, std::size_t count, void* total) {
    *static_cast<std::uint64_t*>(total) += size * count;
    return size * count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: curl_easy_loop URL [CA_PEM_FILE]\n", stderr);
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The client's own trust set: the CA as its extra root, the built-in set, no system roots.
    auto extra = kov::read_pem_certificates(kov::bench::ca_argument(argc, argv).value_or(""));
    if (!extra) {
        std::fprintf(stderr, "cannot read the CA file\n");
        return 1;
    }
    auto trust = kov::build_trust_store(*extra, kov::SystemRoots{});
    if (!trust) {
        std::fprintf(stderr, "cannot build the trust set\n");
        return 1;
    }
    CURL* h = curl_easy_init();
    std::uint64_t total = 0;
    curl_easy_setopt(h, CURLOPT_URL, argv[1]);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &drop);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&total));
    if (auto tls = kov::http::apply_tls_settings(h, *trust); !tls) {
        std::fprintf(stderr, "%s\n", tls.error().c_str());
        return 1;
    }
    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK || status >= 400) {
        std::fprintf(stderr, "%s (status %ld)\n", curl_easy_strerror(result), status);
        return 1;
    }
    curl_easy_cleanup(h);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("bytes=%llu seconds=%.3f peak_rss_kib=%ld\n",
                static_cast<unsigned long long>(total), took.count(), kov::bench::peak_rss_kib());
    return 0;
}
