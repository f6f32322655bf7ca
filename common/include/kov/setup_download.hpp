#pragma once

#include "kov/http_client.hpp"
#include "kov/installer_tag.hpp"

#include <cstdint>
#include <optional>

namespace kov {

// Downloads the setup program, runs it and returns its exit code (all 32 bits), or 1 when the
// user cancelled the download. Every other outcome ends the run abnormally.
std::uint32_t download_and_run_setup(bool silent_mode, const std::optional<InstallerTag>& tag,
                                     const HttpClient& client);

} // namespace kov
