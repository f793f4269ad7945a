// Makes the program's own allocations fail on demand. The program allocates with
// `new (std::nothrow)` and treats a null as a failure; only those allocations are counted here,
// so the test framework's own allocations are never touched. Not in ThreadSanitizer builds, whose
// run-time library owns the nothrow operators: there nothing fails.
#pragma once

namespace test_support {

// Lets `skip` nothrow allocations through, then fails the next `count` of them.
void fail_nothrow_allocations(int skip, int count = 1);
void stop_failing_allocations();

} // namespace test_support
