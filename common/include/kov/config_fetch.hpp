#pragma once

#include "kov/http_client.hpp"

#include <string>
#include <string_view>

namespace kov {

// What the configuration step did; the launcher's main flow dispatches on it.
struct ConfigFetchOutcome {
    enum class Kind {
        Stored,      // configuration written: go on to the setup program
        Declined,    // the user did not answer Yes to the service's question
        ServerError, // the service reported an error; `error_text` holds its words
    };
    Kind kind = Kind::Stored;
    std::string error_text;
};

// Asks the configuration service at `config_url`, shows its question or error, and stores the
// configuration. Every unexpected failure ends the run abnormally.
ConfigFetchOutcome fetch_installer_config(bool silent_mode, std::string_view config_url,
                                          const HttpClient& client);

} // namespace kov
