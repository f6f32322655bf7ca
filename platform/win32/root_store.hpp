#pragma once

#include "platform/root_store.hpp"

#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <wincrypt.h>

namespace platform::win32 {

// The certificates of `store` that allow server authentication (by extension and properties
// together) and whose validity period holds the current time.
std::expected<std::vector<EncodedCertificate>, SystemError> take_server_roots(HCERTSTORE store);

} // namespace platform::win32
