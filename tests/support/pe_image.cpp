#include "pe_image.hpp"

#include "cert_tag.hpp"

#include <algorithm>

namespace test {

void put_u16(Bytes& image, std::size_t at, std::uint16_t value) {
    image[at] = static_cast<std::uint8_t>(value);
    image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(Bytes& image, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        image[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

Bytes pe_with_table(const Bytes& table, std::size_t trailing) {
    Bytes image(TABLE_OFFSET + table.size() + trailing, 0);
    image[0] = 'M';
    image[1] = 'Z';
    put_u32(image, 60, PE_OFFSET);
    image[PE_OFFSET] = 'P';
    image[PE_OFFSET + 1] = 'E';
    put_u16(image, PE_OFFSET + 4, 0x8664);
    put_u16(image, PE_OFFSET + 24, 0x20B); // PE32+ optional header magic
    put_u32(image, PE_OFFSET + 168, static_cast<std::uint32_t>(TABLE_OFFSET));
    put_u32(image, PE_OFFSET + 172, static_cast<std::uint32_t>(table.size()));
    std::copy(table.begin(), table.end(), image.begin() + TABLE_OFFSET);
    return image;
}

Bytes marker_then(const Bytes& rest) {
    Bytes value(kov::CERT_TAG_MARKER.begin(), kov::CERT_TAG_MARKER.end());
    value.insert(value.end(), rest.begin(), rest.end());
    return value;
}

Bytes tag_value(std::string_view text) {
    const std::size_t n = text.size() + 1;
    Bytes length;
    if (n < 0x80) {
        length = {static_cast<std::uint8_t>(n)};
    } else if (n < 0x100) {
        length = {0x81, static_cast<std::uint8_t>(n)};
    } else {
        length = {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    }
    Bytes value = marker_then(length);
    value.insert(value.end(), text.begin(), text.end());
    value.push_back(0);
    return value;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<std::byte> as_bytes(const Bytes& image) {
    std::vector<std::byte> bytes(image.size());
    std::transform(image.begin(), image.end(), bytes.begin(),
                   [](std::uint8_t b) { return std::byte{b}; });
    return bytes;
}

} // namespace test
