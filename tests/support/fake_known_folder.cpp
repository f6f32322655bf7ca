#include "platform/known_folder.hpp"
#include "platform_fakes.hpp"

namespace platform {

std::expected<std::filesystem::path, ComError> roaming_app_data_folder() {
    ++test::fakes::known_folder_queries;
    return test::fakes::roaming_folder;
}

} // namespace platform
