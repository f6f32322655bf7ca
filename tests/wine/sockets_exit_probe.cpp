// Builds the run's HTTP client, which starts the sockets layer, then ends through the launcher's
// process exit; the sockets_at_exit DLL writes to RESULT_FILE what it finds at the end.
//
//   sockets_exit_probe RESULT_FILE
#include "kov/http_client.hpp"
#include "kov/process_exit.hpp"

extern "C" __declspec(dllimport) void watch_sockets_at_exit(const wchar_t* path);

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 3;
    }
    watch_sockets_at_exit(argv[1]);
    const kov::HttpClient client = kov::build_http_client(std::nullopt);
    kov::exit_process(0);
}
