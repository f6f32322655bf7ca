#pragma once

#include "kov/installer_tag.hpp"

#include <optional>

namespace kov {

// Reads the installer tag from the certificate table of the program's own file. A file that
// cannot be located, opened or mapped, and a tag that does not decode, end the run abnormally.
std::optional<InstallerTag> read_installer_tag();

} // namespace kov
