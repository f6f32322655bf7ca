#include "kov/installer_tag.hpp"

#include "kov/fail_fast.hpp"

namespace kov {

InstallerTag parse_installer_tag(std::string_view /*text*/) {
    fail_fast("parse_installer_tag is not built yet");
}

} // namespace kov
