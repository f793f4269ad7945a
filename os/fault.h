// Fault injection: a test makes a named OS call fail, once, a number of times or always,
// with a result code of its choice. Every call whose failure the program logs or acts on asks
// here first. Call names are the os function names ("query_performance_frequency", "cpuid", ...).
#pragma once

#include <string_view>

namespace os::seam {

constexpr int fail_always = -1;

// The next `times` calls of `call` fail (fail_always: every call) with `result_code`.
void fail_call(std::string_view call, int result_code = -1, int times = 1);
// Stop failing one call, or all of them.
void clear_fault(std::string_view call);
void clear_faults();

} // namespace os::seam

namespace os::detail {

// True when the named call must fail now; the injected result code goes to *result_code.
// Consumes one failure of a counted fault. Cheap when no fault is armed.
bool injected_fault(std::string_view call, int* result_code = nullptr);

} // namespace os::detail
