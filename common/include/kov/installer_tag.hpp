#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kov {

// The configuration a signed copy of the launcher carries in its certificate table.
struct InstallerTag {
    std::optional<std::string> ca;            // PEM bundle of extra root certificates
    std::string config_url;                   // the installer configuration service
    std::optional<std::string> installer_url; // the setup program; default address when absent

    friend bool operator==(const InstallerTag&, const InstallerTag&) = default;
};

// Decodes the tag's JSON text. A text that does not decode ends the run abnormally.
InstallerTag parse_installer_tag(std::string_view text);

} // namespace kov
