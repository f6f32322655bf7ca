// The setup launcher: reads its tag, fetches and stores the installer configuration, then
// downloads and runs the setup program and ends with its exit code.
#include "dispatch.hpp"
#include "gui.hpp"
#include "kov/fail_fast.hpp"
#include "kov/http_client.hpp"
#include "platform/process.hpp"
#include "silent_switch.hpp"
#include "tag_reader.hpp"

int main() {
    platform::name_main_thread();

    if (const auto gui = kov::init_gui(); !gui) {
        kov::fail_fast(kov::debug_form(gui.error()));
    }
    const bool silent_mode = kov::read_silent_switch();
    // Owned until the process ends: neither the tag nor the client is ever released.
    const std::optional<kov::InstallerTag> tag = kov::read_installer_tag();
    const std::optional<std::string_view> ca =
        tag && tag->ca ? std::optional<std::string_view>{*tag->ca} : std::nullopt;
    const kov::HttpClient client = kov::build_http_client(ca);

    kov::dispatch(silent_mode, tag, client);
}
