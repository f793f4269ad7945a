#include "app/log.h"
#include "app/timer.h"
#include "os/clock.h"
#include "os/fault.h"
#include "support/test_env.h"

namespace {

class timer_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        open_log();
    }

    // One frame of the given length on the manual clock.
    void frame_of_us(ctimer& timer, std::uint64_t microseconds) {
        timer.begin_frame();
        os::seam::advance_clock_us(microseconds);
        timer.update();
    }
};

TEST_F(timer_test, UsesTheHighResolutionCounterWhenThereIsOne) {
    ctimer timer;
    EXPECT_EQ(timer.has_perf_counter, 1);
    EXPECT_EQ(timer.frequency, os::seam::manual_frequency);
    EXPECT_EQ(timer.frame_ms, 1u);
    EXPECT_EQ(timer.fps, 1u);
    EXPECT_EQ(log_from(" (timer)"), " (timer) creating timer : high performance ENABLED\n");
}

TEST_F(timer_test, FallsBackToTheTickCountWithoutACounter) {
    os::seam::fail_call("query_performance_frequency");
    ctimer timer;
    EXPECT_EQ(timer.has_perf_counter, 0);
    EXPECT_EQ(log_from(" (timer)"), " (timer) creating timer : high performance DISABLED\n");
    frame_of_us(timer, 16'000);
    EXPECT_EQ(timer.frame_ms, 16u);
    EXPECT_EQ(timer.fps, 62u);
}

TEST_F(timer_test, FrameLengthAndRateFollowTheClock) {
    ctimer timer;
    struct frame_case {
        std::uint64_t us;
        std::uint32_t frame_ms, fps;
    };
    const frame_case cases[] = {
        {16'000, 16, 62}, {5'000, 5, 200}, {1'001'000, 1001, 0},
        {5'999, 5, 200},  {400, 1, 1000}, // two readings within a millisecond: never 0
        {0, 1, 1000},
    };
    for (const auto& c : cases) {
        frame_of_us(timer, c.us);
        EXPECT_EQ(timer.frame_ms, c.frame_ms) << c.us << " us";
        EXPECT_EQ(timer.fps, c.fps) << c.us << " us";
    }
}

TEST_F(timer_test, TimeBetweenFramesCountsTowardsTheNextFrame) {
    ctimer timer;
    frame_of_us(timer, 5'000);
    os::seam::advance_clock_us(3'000); // the message pump, or a video restart, between frames
    frame_of_us(timer, 4'000);
    EXPECT_EQ(timer.frame_ms, 7u);
    // Updates within one frame measure from the same start.
    os::seam::advance_clock_us(2'000);
    timer.update();
    EXPECT_EQ(timer.frame_ms, 9u);
}

TEST_F(timer_test, TheFirstFrameIsMeasuredFromTheTimersCreation) {
    os::seam::advance_clock_ms(3'600'000); // an hour of uptime
    ctimer timer;
    frame_of_us(timer, 7'000);
    EXPECT_EQ(timer.frame_ms, 7u);

    os::seam::fail_call("query_performance_frequency");
    ctimer tick_timer;
    frame_of_us(tick_timer, 7'000);
    EXPECT_EQ(tick_timer.frame_ms, 7u);
}

TEST_F(timer_test, AFrameAcrossTheTickCountWrapKeepsItsLength) {
    os::seam::use_manual_clock(0xFFFFFFF0u); // 16 ms before the wrap
    os::seam::fail_call("query_performance_frequency");
    ctimer timer;
    frame_of_us(timer, 10'000);
    EXPECT_EQ(timer.frame_ms, 10u);
    frame_of_us(timer, 40'000); // from 0xFFFFFFFA to 0x22
    EXPECT_EQ(os::get_tick_count(), 0x22u);
    EXPECT_EQ(timer.frame_ms, 40u);
    EXPECT_EQ(timer.fps, 25u);
}

} // namespace
