#include "support/alloc_fault.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int> to_skip{0};
std::atomic<int> to_fail{0};

[[maybe_unused]] bool this_allocation_fails() {
    if (to_fail.load() <= 0)
        return false;
    if (to_skip.load() > 0) {
        --to_skip;
        return false;
    }
    --to_fail;
    return true;
}

} // namespace

namespace test_support {

void fail_nothrow_allocations(int skip, int count) {
    to_skip = skip;
    to_fail = count;
}

void stop_failing_allocations() {
    to_fail = 0;
    to_skip = 0;
}

} // namespace test_support

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BREVOX_TSAN_OWNS_NEW 1
#endif
#endif

#ifdef BREVOX_TSAN_OWNS_NEW
bool test_support::allocation_faults_available() { return false; }
#else
bool test_support::allocation_faults_available() { return true; }

// Replacements of the nothrow forms; they share the ordinary operator new's heap so that a
// plain delete frees what they return.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (this_allocation_fails())
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (this_allocation_fails())
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
#endif
