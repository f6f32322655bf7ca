// Fetches one HTTPS address with the Windows build of the curl stack and
// writes the body to standard output. Checks that the static libcurl,
// OpenSSL and nghttp2 link, start and verify a server under Wine.
//
//   https_smoke.exe URL CA_PEM_FILE
//
// Exit status: 0 on success, 2 when the transfer fails (curl's message on
// standard error), 1 on a usage error.
#include <cstddef>
#include <cstdio>
#include <curl/curl.h>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

size_t write_body(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    body->append(data, size * count);
    return size * count;
}

struct EasyHandle {
    CURL* handle = curl_easy_init();
    EasyHandle() = default;
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;
    ~EasyHandle() {
        if (handle != nullptr) {
            curl_easy_cleanup(handle);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: https_smoke URL CA_PEM_FILE\n", stderr);
        return 1;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fputs("curl_global_init failed\n", stderr);
        return 2;
    }

    int status = 2;
    {
        EasyHandle easy;
        if (easy.handle == nullptr) {
            std::fputs("curl_easy_init failed\n", stderr);
            curl_global_cleanup();
            return 2;
        }
        std::string body;
        char error[CURL_ERROR_SIZE] = {};
        CURL* h = easy.handle;
        curl_easy_setopt(h, CURLOPT_URL, argv[1]);
        curl_easy_setopt(h, CURLOPT_CAINFO, argv[2]);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        // The environment of the test machine may name proxies; this check
        // talks to loopback only.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_body);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);

        const CURLcode rc = curl_easy_perform(h);
        long http_code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &http_code);
        if (rc != CURLE_OK) {
            std::fprintf(stderr, "curl error %d: %s\n", static_cast<int>(rc),
                         error[0] != '\0' ? error : curl_easy_strerror(rc));
        } else if (http_code != 200) {
            std::fprintf(stderr, "unexpected HTTP status %ld\n", http_code);
        } else {
#ifdef _WIN32
            // The body goes out byte for byte, no CR added before LF.
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            std::fwrite(body.data(), 1, body.size(), stdout);
            std::fflush(stdout);
            status = 0;
        }
    }
    curl_global_cleanup();
    return status;
}
