// Runs the launcher's download-and-run step once against URL, with the host's stand-ins for the
// dialog, temporary folder (TMPDIR) and child, and prints what it took:
//
//   setup_download_run URL [CA_PEM_FILE]
//
// The body must be a program the host can start (the bench serves a shell script). Output: one
// line "exit=N seconds=S peak_rss_kib=K"; the time covers building the client, the download to
// disk, the program's run and the deletion of its directory.
#include "bench_client.hpp"
#include "kov/setup_download.hpp"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: setup_download_run URL [CA_PEM_FILE]\n", stderr);
        return 1;
    }
    const std::optional<std::string> ca = kov::bench::ca_argument(argc, argv);
    const auto started = std::chrono::steady_clock::now();
    auto client = kov::make_http_client(ca, kov::bench::isolated_client_options());
    if (!client) {
        std::fprintf(stderr, "%s\n", kov::debug_form(client.error()).c_str());
        return 1;
    }
    const std::optional<kov::InstallerTag> tag{kov::InstallerTag{std::nullopt, "", argv[1]}};
    // Interactive: the loop asks the (stand-in) dialog and shows progress as the product does.
    const std::uint32_t code = kov::download_and_run_setup(false, tag, *client);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("exit=%u seconds=%.3f peak_rss_kib=%ld\n", code, took.count(),
                kov::bench::peak_rss_kib());
    return 0;
}
