#include "kov/config_fetch.hpp"

#include "kov/fail_fast.hpp"

namespace kov {

ConfigFetchOutcome fetch_installer_config(bool /*silent_mode*/, std::string_view /*config_url*/,
                                          const HttpClient& /*client*/) {
    fail_fast("fetch_installer_config is not built yet");
}

} // namespace kov
