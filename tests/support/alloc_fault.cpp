#include "support/alloc_fault.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int> to_skip{0};
std::atomic<int> to_fail{0};

} // namespace

void test_support::fail_nothrow_allocations(int skip, int count) {
    to_skip = skip;
    to_fail = count;
}

void test_support::stop_failing_allocations() { fail_nothrow_allocations(0, 0); }

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BREVOX_TSAN_OWNS_NEW 1
#endif
#endif

#ifndef BREVOX_TSAN_OWNS_NEW
namespace {

// The ordinary operator's heap, so that a plain delete frees what the nothrow form returns.
template <void* (*allocate)(std::size_t)> void* allocate_unless_failing(std::size_t size) noexcept {
    if (to_fail > 0 && to_skip-- <= 0) {
        --to_fail;
        return nullptr;
    }
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate_unless_failing < ::operator new>(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate_unless_failing < ::operator new[]>(size);
}
#endif
