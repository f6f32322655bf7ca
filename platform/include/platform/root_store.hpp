#pragma once

#include "platform/system_error.hpp"

#include <expected>
#include <optional>
#include <vector>

namespace platform {

// A certificate as the store holds it: its DER bytes.
using EncodedCertificate = std::vector<unsigned char>;

// The certificates of the current user's "ROOT" store that allow server authentication and are
// valid now, in the store's order. Nothing when the store cannot be opened. An error when the
// system cannot say what a stored certificate may be used for.
// The Linux stand-in reads the distribution's bundle in place of the store.
std::expected<std::optional<std::vector<EncodedCertificate>>, SystemError> read_user_root_store();

} // namespace platform
