// libFuzzer target for the tag finder over whole file images: any bytes, no crash, no read
// outside the file (the input sits in a heap buffer of exactly its size), and a tag that is
// found lies inside the input, holds no zero byte, is valid UTF-8 (checked here on its own
// terms) and is followed by its zero byte inside the input.
#include "cert_tag.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

namespace {

[[noreturn]] void broken(const char* what, std::size_t size) {
    std::fprintf(stderr, "invariant broken: %s (image of %zu bytes)\n", what, size);
    std::abort();
}

// Strict UTF-8 by the table of well-formed byte sequences: no overlong forms, no surrogates,
// nothing above U+10FFFF, no cut sequence.
bool well_formed_utf8(std::string_view text) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned lead = byte(i);
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead <= 0x7F) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned next = byte(i + k);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = std::unique_ptr<std::byte[]>(new std::byte[size]);
    if (size != 0) {
        std::memcpy(image.get(), data, size);
    }
    const std::span<const std::byte> file{image.get(), size};
    const auto found = kov::find_cert_tag(file);
    if (!found) {
        return 0;
    }
    const auto* begin = reinterpret_cast<const char*>(file.data());
    const auto* end = begin + size;
    if (found->data() < begin || found->data() > end || found->size() >= size ||
        found->data() + found->size() >= end) {
        broken("tag (and its zero byte) not inside the input", size);
    }
    if (found->data()[found->size()] != '\0') {
        broken("tag not followed by its zero byte", size);
    }
    if (found->find('\0') != std::string_view::npos) {
        broken("zero byte inside the tag", size);
    }
    if (!well_formed_utf8(*found)) {
        broken("tag is not valid UTF-8", size);
    }
    return 0;
}
