#pragma once

// Domain to ASCII as the URL Standard asks of UTS #46: nontransitional processing, CheckHyphens
// off, CheckBidi and CheckJoiners on, UseSTD3ASCIIRules off, VerifyDnsLength off.
#include <optional>
#include <string>
#include <string_view>

namespace kov::url {

// `domain` is valid UTF-8. Nothing when it is no valid domain.
std::optional<std::string> domain_to_ascii(std::string_view domain);

} // namespace kov::url
