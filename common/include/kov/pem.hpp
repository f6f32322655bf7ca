#pragma once

#include <expected>
#include <string_view>
#include <vector>

namespace kov {

// A PEM bundle that does not follow the section rules. Where and why it failed is not kept: the
// run reports every such fault with the same text.
struct PemError {
    static constexpr std::string_view message = "invalid certificate encoding";
    friend bool operator==(const PemError&, const PemError&) = default;
};

// The DER bytes of each CERTIFICATE section of `text`, in the order of the text. Text outside
// sections is ignored and sections with any other label are dropped. The bytes are not examined:
// an empty section gives an empty certificate.
std::expected<std::vector<std::vector<unsigned char>>, PemError>
read_pem_certificates(std::string_view text);

} // namespace kov
