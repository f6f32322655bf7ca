#include "tag_reader.hpp"

#include "cert_tag.hpp"
#include "kov/fail_fast.hpp"
#include "platform/mapped_file.hpp"
#include "platform/process.hpp"

namespace kov {

std::optional<InstallerTag> read_installer_tag() {
    // Declared in this order so that they are released in the reverse: view, file, path.
    const std::filesystem::path path = take_or_fail(platform::own_executable_path());
    const platform::ReadOnlyFile file = take_or_fail(platform::ReadOnlyFile::open(path));
    const platform::FileMapping mapping = take_or_fail(platform::FileMapping::map(file));

    const std::optional<std::string_view> text = find_cert_tag(mapping.bytes());
    if (!text) {
        return std::nullopt;
    }
    return parse_installer_tag(*text);
}

} // namespace kov
