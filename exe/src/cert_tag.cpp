#include "cert_tag.hpp"

#include "platform/text.hpp"

#include <cstdint>

namespace kov {
namespace {

constexpr std::uint64_t DOS_HEADER_SIZE = 64;
constexpr std::uint64_t E_LFANEW_OFFSET = 60;
// PE signature (4) + COFF file header (20) + PE32+ optional header with 16 directories (240).
constexpr std::uint64_t PE_HEADERS_SIZE = 264;
constexpr std::uint64_t MACHINE_OFFSET = 4;
constexpr std::uint64_t CERT_TABLE_OFFSET = 168; // data directory 4, Certificate Table
constexpr std::uint64_t CERT_TABLE_SIZE_OFFSET = 172;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;

std::uint32_t read_u32(std::string_view bytes, std::uint64_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<unsigned>(i)]);
    }
    return value;
}

std::uint16_t read_u16(std::string_view bytes, std::uint64_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

unsigned octet(std::string_view bytes, std::uint64_t at) {
    return static_cast<unsigned char>(bytes[at]);
}

// The certificate table's bytes, when the headers that locate it are well-formed.
std::optional<std::string_view> certificate_table(std::string_view file) {
    const std::uint64_t size = file.size();
    if (size < DOS_HEADER_SIZE || file[0] != 'M' || file[1] != 'Z') {
        return std::nullopt;
    }
    const auto header = static_cast<std::int32_t>(read_u32(file, E_LFANEW_OFFSET));
    if (header < 0) {
        return std::nullopt;
    }
    const auto pe = static_cast<std::uint64_t>(header);
    if (pe + PE_HEADERS_SIZE > size || file.substr(pe, 4) != std::string_view("PE\0\0", 4) ||
        read_u16(file, pe + MACHINE_OFFSET) != MACHINE_AMD64) {
        return std::nullopt;
    }
    const std::uint64_t offset = read_u32(file, pe + CERT_TABLE_OFFSET);
    const std::uint64_t length = read_u32(file, pe + CERT_TABLE_SIZE_OFFSET);
    if (offset == 0 || offset + length > size) {
        return std::nullopt;
    }
    return file.substr(offset, length);
}

} // namespace

std::optional<std::string_view> find_cert_tag(std::span<const std::byte> bytes) {
    const std::string_view file{reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    const std::optional<std::string_view> found = certificate_table(file);
    if (!found) {
        return std::nullopt;
    }
    const std::string_view table = *found;
    const std::uint64_t size = table.size();
    const std::string_view marker{reinterpret_cast<const char*>(CERT_TAG_MARKER.data()),
                                  CERT_TAG_MARKER.size()};
    const std::size_t at = table.rfind(marker);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::uint64_t p = at + marker.size();
    if (p >= size) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    std::uint64_t value = 0;
    const unsigned form = octet(table, p);
    if (form <= 0x7F) {
        length = form;
        value = p + 1;
    } else if (form == 0x81) {
        if (p + 1 >= size) {
            return std::nullopt;
        }
        length = octet(table, p + 1);
        value = p + 2;
    } else if (form == 0x82) {
        if (p + 3 > size) {
            return std::nullopt;
        }
        length = octet(table, p + 1) << 8 | octet(table, p + 2);
        value = p + 3;
    } else {
        return std::nullopt;
    }
    if (value + length > size) {
        return std::nullopt;
    }
    // The value is the text and exactly one zero byte, its last.
    const std::string_view contents = table.substr(value, length);
    if (length == 0 || contents.find('\0') != length - 1) {
        return std::nullopt;
    }
    const std::string_view text = contents.substr(0, length - 1);
    if (!platform::is_valid_utf8(text)) {
        return std::nullopt;
    }
    return text;
}

} // namespace kov
