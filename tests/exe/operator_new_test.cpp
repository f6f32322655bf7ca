#include "kov/fail_fast.hpp"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <unistd.h>

// The sanitizer's allocator would otherwise end the process itself on an impossible size.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {
// Set in a death test's child: from then on every malloc of the allocation hook fails.
bool heap_exhausted = false;
} // namespace

// The build links this test with --wrap=malloc: the hook's malloc comes here.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size) {
    return heap_exhausted ? nullptr : __real_malloc(size);
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

// With the heap gone and no standard error, the report's failed write must not build a message
// text: that allocation would fail too and report again, until the stack overflows.
TEST(OperatorNewDeathTest, FailedReportAllocatesNothing) {
    EXPECT_EXIT(
        {
            close(STDERR_FILENO);
            heap_exhausted = true;
            (void)::operator new(16);
        },
        testing::KilledBySignal(SIGABRT), "");
}

// A system or COM error's report is written as it stands, without building its text first.
TEST(OperatorNewDeathTest, ErrorReportsNeedNoHeap) {
    const platform::SystemError system{"CreateFileW", 32, "The file is in use by another process."};
    EXPECT_DEATH(
        {
            heap_exhausted = true;
            kov::fail_fast(system);
        },
        ": CreateFileW failed: The file is in use by another process\\. \\(os error 32\\)\n$");
    const platform::ComError com{"CoCreateInstance", 0x80040154, "Class not registered."};
    EXPECT_DEATH(
        {
            heap_exhausted = true;
            kov::fail_fast(com);
        },
        ": CoCreateInstance failed: Class not registered\\. \\(HRESULT 0x80040154\\)\n$");
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
