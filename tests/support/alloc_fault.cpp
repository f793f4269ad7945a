#include "support/alloc_fault.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int> to_skip{0};
std::atomic<int> to_fail{0};

bool this_allocation_fails() {
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
