#pragma once

#include "kov/http_client.hpp"

#include <string>
#include <string_view>

namespace kov {

// The folder under the user's roaming application data folder that holds the stored
// configuration, and the file's name in it.
inline constexpr std::string_view PRODUCT_FOLDER_NAME = "kovane-console";
inline constexpr std::string_view CONFIG_FILE_NAME = "installer_config.json";

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

// The user's default locale name as UTF-8 (for example en-US), or the run ends abnormally.
std::string user_locale_name();

// Writes `config` byte for byte to "installer_config.json" in the product folder under the
// roaming application data folder, creating the product folder when it is missing. The earlier
// file is replaced in one step, so it is never left half written. Every failure ends the run
// abnormally.
void store_installer_config(std::string_view config);

} // namespace kov
