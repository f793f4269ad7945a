#include "base/timer.h"

#include "base/log.h"
#include "os/clock.h"

namespace {

// Program-wide samples; only one timer ever exists.
std::int64_t last_counter = 0;
std::int64_t frame_start_counter = 0;
std::uint32_t last_tick = 0;
std::uint32_t frame_start_tick = 0;

void take_first_reading(bool with_counter) {
    if (with_counter) {
        os::query_performance_counter(last_counter);
        frame_start_counter = last_counter;
    } else {
        last_tick = os::get_tick_count();
        frame_start_tick = last_tick;
    }
}

} // namespace

ctimer::ctimer() : has_perf_counter(0), frequency(0), frame_ms(1), fps(1) {
    log_printf(main_log, " (timer) creating timer : high performance ");
    if (os::query_performance_frequency(frequency)) {
        has_perf_counter = 1;
        log_printf(main_log, "ENABLED\n");
    } else {
        has_perf_counter = 0;
        log_printf(main_log, "DISABLED\n");
    }
    take_first_reading(has_perf_counter);
}

int ctimer::begin_frame() {
    if (has_perf_counter)
        frame_start_counter = last_counter;
    else
        frame_start_tick = last_tick;
    return 1;
}

int ctimer::update() {
    std::uint32_t elapsed;
    if (has_perf_counter) {
        os::query_performance_counter(last_counter);
        elapsed =
            static_cast<std::uint32_t>((last_counter - frame_start_counter) * 1000 / frequency);
    } else {
        last_tick = os::get_tick_count();
        // Unsigned difference: a frame across the tick count's wrap still measures right.
        elapsed = last_tick - frame_start_tick;
    }
    frame_ms = elapsed == 0 ? 1 : elapsed;
    fps = 1000 / frame_ms;
    return 1;
}
