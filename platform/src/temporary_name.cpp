#include "temporary_name.hpp"

#include "platform/text.hpp"

#include <string_view>

namespace platform {

std::string temporary_suffix(std::random_device& random) {
    constexpr std::string_view letters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    std::string suffix = ".";
    for (int i = 0; i < 6; ++i) {
        suffix += letters[pick(random)];
    }
    suffix += ".tmp";
    return suffix;
}

std::filesystem::path temporary_sibling(const std::filesystem::path& path,
                                        std::random_device& random) {
    std::filesystem::path name = path;
    name += path_from_utf8(temporary_suffix(random)).native();
    return name;
}

} // namespace platform
