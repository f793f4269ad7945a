// The OS layer's clocks, system information and fault injection.
#include "os/clock.h"
#include "os/fault.h"
#include "os/sysinfo.h"
#include "support/test_env.h"

#include <cstring>

namespace {

using os_clock_test = brevox_test;

TEST_F(os_clock_test, TheManualClockMovesOnlyWhenMoved) {
    std::int64_t frequency = 0, a = 0, b = 0;
    ASSERT_TRUE(os::query_performance_frequency(frequency));
    EXPECT_EQ(frequency, os::seam::manual_frequency);
    os::query_performance_counter(a);
    os::query_performance_counter(b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(os::get_tick_count(), 0u);

    os::seam::advance_clock_us(2'500);
    os::query_performance_counter(b);
    EXPECT_EQ(b - a, 2'500);
    EXPECT_EQ(os::get_tick_count(), 2u);
    os::seam::advance_clock_ms(998);
    EXPECT_EQ(os::get_tick_count(), 1000u);
    EXPECT_EQ(os::seam::clock_reads(), 6u);
}

TEST_F(os_clock_test, AStepPerReadMovesTheClockAfterEachReading) {
    os::seam::use_manual_clock(0xFFFFFFFFu);
    os::seam::set_clock_step_per_read(1'000);
    EXPECT_EQ(os::get_tick_count(), 0xFFFFFFFFu);
    EXPECT_EQ(os::get_tick_count(), 0u) << "the tick count wraps";
    std::int64_t count = 0;
    os::query_performance_counter(count);
    EXPECT_EQ(count, 2'000);
    EXPECT_EQ(os::seam::manual_clock_us(), 3'000u);
}

TEST_F(os_clock_test, AnInjectedFaultFailsTheCallAsOftenAsAsked) {
    std::int64_t frequency = 0;
    os::seam::fail_call("query_performance_frequency", -1, 2);
    EXPECT_FALSE(os::query_performance_frequency(frequency));
    EXPECT_EQ(frequency, 0);
    EXPECT_FALSE(os::query_performance_frequency(frequency));
    EXPECT_TRUE(os::query_performance_frequency(frequency));

    os::seam::fail_call("query_performance_counter", -1, os::seam::fail_always);
    std::int64_t count = 0;
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(os::query_performance_counter(count));
    EXPECT_TRUE(os::query_performance_frequency(frequency)) << "only the named call fails";
    os::seam::clear_fault("query_performance_counter");
    EXPECT_TRUE(os::query_performance_counter(count));
}

TEST_F(os_clock_test, AnInjectedFaultCarriesItsResultCode) {
    int code = 0;
    os::seam::fail_call("some_call", 0x8878000A);
    EXPECT_FALSE(os::detail::injected_fault("other_call", &code));
    EXPECT_TRUE(os::detail::injected_fault("some_call", &code));
    EXPECT_EQ(code, static_cast<int>(0x8878000A));
    EXPECT_FALSE(os::detail::injected_fault("some_call", &code)) << "armed once, used once";

    os::seam::fail_call("some_call", 7, os::seam::fail_always);
    os::seam::fail_call("some_call", 9, os::seam::fail_always); // re-arming replaces
    EXPECT_TRUE(os::detail::injected_fault("some_call", &code));
    EXPECT_EQ(code, 9);
    os::seam::clear_faults();
    EXPECT_FALSE(os::detail::injected_fault("some_call"));
}

TEST_F(os_clock_test, TheMachineReportsItsMemoryAndProcessor) {
    EXPECT_GT(os::total_physical_memory(), 16ull << 20);
#if defined(__x86_64__)
    ASSERT_TRUE(os::cpu_has_cpuid());
    std::uint32_t regs[4];
    os::cpuid(0, regs);
    EXPECT_GE(regs[0], 1u) << "leaf 0 names the highest standard leaf";
    char vendor[13] = {};
    std::memcpy(vendor, &regs[1], 4);
    std::memcpy(vendor + 4, &regs[3], 4);
    std::memcpy(vendor + 8, &regs[2], 4);
    EXPECT_EQ(std::strlen(vendor), 12u) << vendor;
    const std::uint64_t t0 = os::read_time_stamp_counter();
    EXPECT_GT(os::read_time_stamp_counter(), t0);
#endif
    os::seam::fail_call("cpuid");
    EXPECT_FALSE(os::cpu_has_cpuid());
}

} // namespace
