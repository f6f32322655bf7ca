// Runs the launcher's download-and-run step on its own, as the launcher would after storing a
// configuration: COM initialised, the client built as the launcher builds it, a tag whose
// installer_url is URL. Ends through the launcher's process exit with the step's result.
// Wine takes TMP from its registry, not from the Unix environment: with KOVANE_TEST_TMP set, the
// probe makes that its TMP, so that a test can see its temporary folder.
//
//   setup_download_probe.exe [/S] URL
#include "kov/process_exit.hpp"
#include "kov/setup_download.hpp"

#include <cstdlib>
#include <cstring>
#include <objbase.h>

int main(int argc, char** argv) {
    const bool silent_mode = argc == 3 && std::strcmp(argv[1], "/S") == 0;
    if (argc != (silent_mode ? 3 : 2)) {
        return 3;
    }
    if (const wchar_t* temp = _wgetenv(L"KOVANE_TEST_TMP")) {
        SetEnvironmentVariableW(L"TMP", temp);
    }
    if (FAILED(CoInitialize(nullptr))) {
        return 4;
    }
    const kov::HttpClient client = kov::build_http_client(std::nullopt);
    const std::optional<kov::InstallerTag> tag{
        kov::InstallerTag{std::nullopt, "", std::string(argv[argc - 1])}};
    kov::exit_process(kov::download_and_run_setup(silent_mode, tag, client));
}
