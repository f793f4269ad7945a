#include "os/clock.h"

#include "os/fault.h"

#include <SDL.h>

#include <atomic>
#include <ctime>
#include <time.h>

namespace {

std::atomic<bool> manual{false};
std::atomic<std::uint64_t> manual_us{0};
std::atomic<std::uint64_t> step_per_read_us{0};
std::atomic<std::uint64_t> reads{0};
std::atomic<std::uint32_t> tick_origin{0};

// Reads the manual clock, then lets it move on by the configured step.
std::uint64_t read_manual_us() {
    reads.fetch_add(1, std::memory_order_relaxed);
    const std::uint64_t step = step_per_read_us.load(std::memory_order_relaxed);
    return manual_us.fetch_add(step, std::memory_order_relaxed);
}

} // namespace

namespace os {

bool query_performance_frequency(std::int64_t& frequency) {
    if (detail::injected_fault("query_performance_frequency")) {
        frequency = 0;
        return false;
    }
    frequency =
        manual ? seam::manual_frequency : static_cast<std::int64_t>(SDL_GetPerformanceFrequency());
    return frequency > 0;
}

bool query_performance_counter(std::int64_t& count) {
    if (detail::injected_fault("query_performance_counter")) {
        count = 0;
        return false;
    }
    count = manual ? static_cast<std::int64_t>(read_manual_us())
                   : static_cast<std::int64_t>(SDL_GetPerformanceCounter());
    return true;
}

std::uint32_t get_tick_count() {
    if (manual)
        return tick_origin.load() + static_cast<std::uint32_t>(read_manual_us() / 1000);
    return static_cast<std::uint32_t>(SDL_GetTicks64());
}

std::int64_t calendar_seconds() {
    if (manual)
        return seam::manual_calendar_origin +
               static_cast<std::int64_t>(manual_us.load() / 1'000'000);
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t monotonic_us() {
    if (manual)
        return static_cast<std::int64_t>(manual_us.load());
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::int64_t thread_cpu_us() {
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<std::int64_t>(used.tv_sec) * 1'000'000 + used.tv_nsec / 1000;
}

} // namespace os

namespace os::detail {

std::uint32_t tick_count_now() {
    if (manual)
        return tick_origin.load() + static_cast<std::uint32_t>(manual_us.load() / 1000);
    return static_cast<std::uint32_t>(SDL_GetTicks64());
}

} // namespace os::detail

namespace os::seam {

void use_manual_clock(std::uint32_t origin) {
    manual_us = 0;
    step_per_read_us = 0;
    reads = 0;
    tick_origin = origin;
    manual = true;
}

void use_real_clock() { manual = false; }

bool manual_clock_active() { return manual; }

void advance_clock_us(std::uint64_t microseconds) { manual_us += microseconds; }

void advance_clock_ms(std::uint32_t milliseconds) {
    manual_us += static_cast<std::uint64_t>(milliseconds) * 1000;
}

void set_clock_step_per_read(std::uint64_t microseconds) { step_per_read_us = microseconds; }

std::uint64_t manual_clock_us() { return manual_us; }

std::uint64_t clock_reads() { return reads; }

} // namespace os::seam
