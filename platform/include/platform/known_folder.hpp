#pragma once

#include "platform/com_error.hpp"

#include <expected>
#include <filesystem>

namespace platform {

// The current user's roaming application data folder (SHGetKnownFolderPath for
// FOLDERID_RoamingAppData, flags 0, no access token), as the shell names it.
// The Linux stand-in: XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::expected<std::filesystem::path, ComError> roaming_app_data_folder();

} // namespace platform
