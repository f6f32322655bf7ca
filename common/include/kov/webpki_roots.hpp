#pragma once

#include <span>
#include <string_view>

namespace kov {

// One root of the public web PKI that the client trusts without being told to.
struct BuiltInAnchor {
    std::string_view name;
    std::span<const unsigned char> der;
};

// The built-in anchor set, generated from Mozilla's root program by tools/gen_webpki_roots.py.
std::span<const BuiltInAnchor> webpki_roots();

} // namespace kov
