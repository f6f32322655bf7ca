#include "kov/config_fetch.hpp"
#include "kov/fail_fast.hpp"
#include "platform/file_store.hpp"
#include "platform/known_folder.hpp"
#include "platform/text.hpp"

#include <filesystem>
#include <span>

namespace kov {

void store_installer_config(std::string_view config) {
    std::filesystem::path path = take_or_fail(platform::roaming_app_data_folder());
    path /= platform::path_from_utf8(PRODUCT_FOLDER_NAME);
    // Whatever answers to the name is used as it is; only a name that cannot be looked up is
    // created, one level only.
    if (!platform::query_attributes(path)) {
        take_or_fail(platform::create_folder(path));
    }
    path /= platform::path_from_utf8(CONFIG_FILE_NAME);
    take_or_fail(platform::replace_file(path, std::as_bytes(std::span{config})));
}

} // namespace kov
