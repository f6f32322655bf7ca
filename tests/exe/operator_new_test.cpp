#include <cstdint>
#include <gtest/gtest.h>
#include <new>

// The sanitizer's allocator would otherwise end the process itself on an impossible size.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

TEST(OperatorNewDeathTest, ReportsTheRequestedSize) {
    volatile std::size_t size = std::size_t{1} << 62;
    EXPECT_DEATH((void)::operator new(size),
                 "fatal error at exe/src/operator_new\\.cpp:[0-9]+:[0-9]+: memory allocation of "
                 "4611686018427387904 bytes failed\n");
    EXPECT_DEATH((void)::operator new[](size + 1),
                 "memory allocation of 4611686018427387905 bytes failed");
    // Rounding the largest size up to the alignment would wrap to a tiny block.
    volatile std::size_t largest = SIZE_MAX;
    EXPECT_DEATH((void)::operator new (largest, std::align_val_t{64}),
                 "memory allocation of 18446744073709551615 bytes failed");
}

TEST(OperatorNew, ServesOrdinaryAndAlignedRequests) {
    void* memory = ::operator new(0);
    EXPECT_NE(memory, nullptr);
    ::operator delete(memory);
    void* aligned = ::operator new (100, std::align_val_t{64});
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 64, 0u);
    ::operator delete (aligned, std::align_val_t{64});
}

} // namespace
