#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace kov {

// The DER object identifier 1.3.6.1.4.1.11129.2.1.9999 followed by the OCTET STRING tag that
// opens the tag's length and value inside the certificate table.
inline constexpr std::array<unsigned char, 14> CERT_TAG_MARKER = {
    0x06, 0x0B, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xD6, 0x79, 0x02, 0x01, 0xCE, 0x0F, 0x04};

// Finds the tag text in the certificate table of a PE32+ file, without its terminating zero
// byte, as a view into `file`. Every malformed layout yields nothing. Allocates nothing.
std::optional<std::string_view> find_cert_tag(std::span<const std::byte> file);

} // namespace kov
