#include "platform/known_folder.hpp"

#include <cstdlib>

namespace platform {

std::expected<std::filesystem::path, ComError> roaming_app_data_folder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        return std::filesystem::path(config);
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::filesystem::path(home) / ".config";
    }
    constexpr std::uint32_t E_FAIL_CODE = 0x80004005;
    return std::unexpected(
        ComError{"roaming folder lookup", E_FAIL_CODE, "neither XDG_CONFIG_HOME nor HOME is set"});
}

} // namespace platform
