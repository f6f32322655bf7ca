// Fetches one address through the launcher's HTTP client, built as the launcher builds it (the
// tag's extra roots from CA_PEM_FILE, the system's roots and proxy settings), and writes the
// body to standard output.
//
//   http_client_smoke.exe URL CA_PEM_FILE
//
// Exit status: 0 on success, 2 when the request fails (the client error on standard error).
#include "kov/http_client.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: http_client_smoke URL CA_PEM_FILE\n", stderr);
        return 1;
    }
    std::ifstream file(argv[2], std::ios::binary);
    std::stringstream ca;
    ca << file.rdbuf();
    const kov::HttpClient client = kov::build_http_client(ca.str());

    auto response = client.get(argv[1]).send();
    if (!response) {
        std::fprintf(stderr, "%s\n", kov::debug_form(response.error()).c_str());
        return 2;
    }
#ifdef _WIN32
    // The body goes out byte for byte, no CR added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::byte> buffer(64 * 1024);
    for (;;) {
        const auto n = response->read(buffer);
        if (!n) {
            std::fprintf(stderr, "%s\n", kov::debug_form(n.error()).c_str());
            return 2;
        }
        if (*n == 0) {
            break;
        }
        std::fwrite(buffer.data(), 1, *n, stdout);
    }
    std::fflush(stdout);
    return 0;
}
