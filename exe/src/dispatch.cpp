#include "dispatch.hpp"

#include "kov/config_fetch.hpp"
#include "kov/fail_fast.hpp"
#include "kov/process_exit.hpp"
#include "kov/setup_download.hpp"
#include "platform/standard_error.hpp"

namespace kov {
namespace {

constexpr std::uint32_t EXIT_NOT_INSTALLED = 1;

void report_server_error(const std::string& text) {
    std::string line = text;
    line += '\n';
    take_or_fail(platform::write_standard_error(line));
}

} // namespace

void dispatch(bool silent_mode, const std::optional<InstallerTag>& tag, const HttpClient& client) {
    if (!tag) {
        exit_process(download_and_run_setup(silent_mode, tag, client));
    }
    // Never released: the process exit ends the run with the outcome still alive.
    const ConfigFetchOutcome outcome = fetch_installer_config(silent_mode, tag->config_url, client);
    switch (outcome.kind) {
    case ConfigFetchOutcome::Kind::Stored:
        exit_process(download_and_run_setup(silent_mode, tag, client));
    case ConfigFetchOutcome::Kind::Declined:
        exit_process(EXIT_NOT_INSTALLED);
    case ConfigFetchOutcome::Kind::ServerError:
        if (silent_mode) {
            report_server_error(outcome.error_text);
        }
        exit_process(EXIT_NOT_INSTALLED);
    }
    fail_fast("unknown configuration outcome");
}

} // namespace kov
