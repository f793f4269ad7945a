#include "app/timer.h"
#include "os/clock.h"
#include "os/fault.h"
#include "support/test_env.h"

#include <tuple>

namespace {

using timer_test = brevox_test;

// One frame of the given length on the manual clock.
void frame_of_us(ctimer& timer, std::uint64_t microseconds) {
    timer.begin_frame();
    os::seam::advance_clock_us(microseconds);
    timer.update();
}

TEST_F(timer_test, FrameLengthAndRateFollowTheClockFromFrameToFrame) {
    os::seam::advance_clock_ms(3'600'000); // an hour of uptime, not counted in the first frame
    ctimer timer;
    // Microseconds before the frame (they count towards it) and in it; its length and rate.
    const std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t> cases[] = {
        {0, 16'000, 16, 62}, {0, 5'000, 5, 200}, {0, 1'001'000, 1001, 0}, {0, 5'999, 5, 200},
        {0, 400, 1, 1000},   {0, 0, 1, 1000},    {3'000, 4'000, 7, 142}};
    for (const auto& [before_us, us, frame_ms, fps] : cases) {
        os::seam::advance_clock_us(before_us);
        frame_of_us(timer, us);
        EXPECT_EQ(std::tuple(timer.frame_ms, timer.fps), std::tuple(frame_ms, fps)) << us << " us";
    }
    os::seam::advance_clock_us(2'000); // updates within one frame measure from the same start
    timer.update();
    EXPECT_EQ(timer.frame_ms, 9u);
}

TEST_F(timer_test, WithoutACounterTheTickCountMeasuresAcrossItsWrap) {
    os::seam::use_manual_clock(0xFFFFFFF0u); // 16 ms before the wrap
    os::seam::fail_call("query_performance_frequency");
    open_log();
    ctimer timer;
    EXPECT_EQ(log_from(" (timer)"), " (timer) creating timer : high performance DISABLED\n");
    frame_of_us(timer, 50'000); // from 0xFFFFFFF0 to 0x22
    EXPECT_EQ(timer.frame_ms, 50u);
    EXPECT_EQ(timer.fps, 20u);
}

} // namespace
