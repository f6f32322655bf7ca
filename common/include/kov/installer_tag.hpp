#pragma once

#include "kov/json_reader.hpp"

#include <expected>
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

// Decodes the tag's JSON text: an object with the members "ca", "config_url" and
// "installer_url", or an array of the three values in that order. Stops at the first failure.
std::expected<InstallerTag, JsonError> decode_installer_tag(std::string_view text);

// Decodes the tag's JSON text. A text that does not decode ends the run abnormally, the report's
// detail being the error's debug_form.
InstallerTag parse_installer_tag(std::string_view text);

} // namespace kov
