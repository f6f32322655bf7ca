#include "kov/setup_download.hpp"

#include "kov/fail_fast.hpp"

namespace kov {

std::uint32_t download_and_run_setup(bool /*silent_mode*/,
                                     const std::optional<InstallerTag>& /*tag*/,
                                     const HttpClient& /*client*/) {
    fail_fast("download_and_run_setup is not built yet");
}

} // namespace kov
