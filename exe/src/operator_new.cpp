// A failed allocation ends the run abnormally with the size that was asked for, instead of
// throwing: the launcher is built without exceptions.
#include "kov/fail_fast.hpp"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void report_failed_allocation(std::size_t size) {
    // Built on the stack: the heap is what just failed.
    char detail[64] = "memory allocation of ";
    constexpr std::size_t prefix = sizeof "memory allocation of " - 1;
    char* end = std::to_chars(detail + prefix, detail + sizeof detail, size).ptr;
    constexpr std::string_view suffix = " bytes failed";
    for (const char c : suffix) {
        *end++ = c;
    }
    kov::fail_fast(std::string_view{detail, static_cast<std::size_t>(end - detail)});
}

void* allocate(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        report_failed_allocation(size);
    }
    return memory;
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t asked = size == 0 ? 1 : size;
#ifdef _WIN32
    void* memory = _aligned_malloc(asked, align);
#else
    // aligned_alloc wants a multiple of the alignment; rounding up must not wrap.
    void* memory = asked > SIZE_MAX - (align - 1)
                       ? nullptr
                       : std::aligned_alloc(align, (asked + align - 1) / align * align);
#endif
    if (memory == nullptr) {
        report_failed_allocation(size);
    }
    return memory;
}

void release_aligned(void* memory) noexcept {
#ifdef _WIN32
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate_aligned(size, alignment);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    release_aligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    release_aligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    release_aligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    release_aligned(memory);
}
