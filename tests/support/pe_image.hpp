#pragma once

// Builds PE32+ images in memory for the tag finder's tests: a DOS header, the PE headers at
// PE_OFFSET and the certificate table right after them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t PE_OFFSET = 64;
inline constexpr std::size_t TABLE_OFFSET = PE_OFFSET + 264;

// An image whose certificate table holds `table`, followed by `trailing` zero bytes.
Bytes pe_with_table(const Bytes& table, std::size_t trailing = 0);

void put_u16(Bytes& image, std::size_t at, std::uint16_t value);
void put_u32(Bytes& image, std::size_t at, std::uint32_t value);

// The marker, the shortest DER length of text + 1, the text and its zero byte.
Bytes tag_value(std::string_view text);

// The marker followed by `rest` as given.
Bytes marker_then(const Bytes& rest);

Bytes concat(std::initializer_list<Bytes> parts);

std::vector<std::byte> as_bytes(const Bytes& image);

} // namespace test
