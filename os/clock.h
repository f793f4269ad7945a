// Clocks: the high-resolution counter with its frequency and the 32-bit millisecond tick count.
#pragma once

#include <cstdint>

namespace os {

// Counts per second of the high-resolution counter; false when the system has none
// (then `frequency` is set to 0).
bool query_performance_frequency(std::int64_t& frequency);
// The high-resolution counter; false when the system has none.
bool query_performance_counter(std::int64_t& count);
// Milliseconds since the clock's origin, wrapping every 2^32 ms.
std::uint32_t get_tick_count();
// Calendar time in whole seconds since 1970. The manual clock starts it at a fixed second and
// moves it on with its own time. Not counted as a read.
std::int64_t calendar_seconds();
// The system's monotonic clock (CLOCK_MONOTONIC) in microseconds: one clock for every process of
// the machine, so that records of two processes compare. The manual clock's time while it is on.
// Not counted as a read.
std::int64_t monotonic_us();
// The CPU time the calling thread has used (CLOCK_THREAD_CPUTIME_ID) in microseconds: its own
// work, without the time other processes or threads ran in its place. Real also while the
// manual clock is on. Not counted as a read.
std::int64_t thread_cpu_us();

} // namespace os

namespace os::detail {

// The tick count as the layer itself reads it (timers, message times): it neither counts as
// a read nor moves the manual clock on.
std::uint32_t tick_count_now();

} // namespace os::detail

namespace os::seam {

// The manual clock: time stands still until a test moves it. Its counter runs at
// manual_frequency counts per second (one count per microsecond); the tick count is
// tick_origin + elapsed milliseconds; timers follow it.
constexpr std::int64_t manual_frequency = 1'000'000;
// The calendar second at which the manual clock starts.
constexpr std::int64_t manual_calendar_origin = 1'800'000'000;

void use_manual_clock(std::uint32_t tick_origin = 0);
void use_real_clock();
bool manual_clock_active();

void advance_clock_us(std::uint64_t microseconds);
void advance_clock_ms(std::uint32_t milliseconds);
// Each read of the counter or the tick count advances the manual clock by this much after
// the read, so busy-wait loops move forward deterministically. 0 turns it off.
void set_clock_step_per_read(std::uint64_t microseconds);
// Microseconds elapsed on the manual clock since use_manual_clock.
std::uint64_t manual_clock_us();
// How many times the counter and the tick count have been read since use_manual_clock.
std::uint64_t clock_reads();

} // namespace os::seam
