#pragma once

#include "kov/http_client.hpp"
#include "kov/installer_tag.hpp"

#include <optional>

namespace kov {

// The last step of the run: the configuration step when there is a tag, then the setup
// program, and the process exit with the code that the road ends with.
[[noreturn]] void dispatch(bool silent_mode, const std::optional<InstallerTag>& tag,
                           const HttpClient& client);

} // namespace kov
