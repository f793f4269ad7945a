// What the program starts with: the log and the machine report that opens it, the settings
// registry and the frame timer.
#include "base/log.h"
#include "base/system_report.h"
#include "base/timer.h"
#include "cvar/cvars.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/sysinfo.h"
#include "support/test_env.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace {

const os::seam::synthetic_cpu athlon{
    true,
    {{0, {1, 0x68747541, 0x444D4163, 0x69746E65}}, // "Auth" "cAMD" "enti"
     {1, {0x0642, 0, 0, 1u << 4 | 1u << 23}},      // time-stamp counter, MMX
     {0x80000000, {0x80000008, 0, 0, 0}},
     {0x80000001, {0, 0, 0, 1u << 31}}, // 3DNow!
     {0x80000005, {0, 0, 64u << 24, 32u << 24}},
     {0x80000006, {0, 0, 256u << 16, 0}}},
    1200};

class report_test : public brevox_test {
protected:
    // The report that opens a new log on the synthetic processor, from "+ OS info" on.
    static std::string report_for(const os::seam::synthetic_cpu& cpu) {
        os::seam::use_synthetic_cpu(cpu);
        const clog log;
        return log_from("+ OS info");
    }
};

TEST_F(report_test, TheReportDescribesTheMachineLineByLineWithTheCachesFromEitherLeaf) {
    os::seam::use_synthetic_memory(2ull << 40);
    // Build 1080 is not yet OSR2; a service-pack text of one character is left out.
    os::seam::use_synthetic_version({4, 0, 1080, os::VER_PLATFORM_WIN32_WINDOWS, " ", "", ""});
    os::seam::set_clock_step_per_read(1000); // the countdown spans one millisecond
    EXPECT_EQ(report_for(athlon), "+ OS info : Windows 95 4.0 (build 1080)\n\n"
                                  "+ CPU info : AuthenticAMD Family 6 - 1200 MHz\n"
                                  " Memory : 2147483648 ko\n L1 Cache : 64 ko\n L2 Cache : 256 ko\n"
                                  " MMX : YES\n SSE : NO\n 3DNow! : YES\n\n");
    os::seam::set_clock_step_per_read(0); // a counter that does not move measures nothing
    EXPECT_NE(report_for(athlon).find("Family 6 - 0 MHz\n"), std::string::npos);
    // Without extended leaves the caches come from leaf 2, lowest byte first.
    const std::tuple<std::uint32_t, std::int32_t, std::int32_t> cases[] = {
        // EDX; L1 data, L2; 0x40 and unknown bytes change nothing
        {0x0C040843, 16, 512},
        {0x00008541, 0, 2048},
        {0x0A060840, 8, 0}};
    for (const auto& [edx, l1_data, l2] : cases) {
        auto cpu = athlon;
        cpu.leaves[0x80000000] = {0x80000000, 0, 0, 0}; // no leaf above it
        cpu.leaves[2] = {0x01, 0xFFFFFFFF, 0xFFFFFFFF, edx};
        const std::string caches = " L1 Cache : " + std::to_string(l1_data) +
                                   " ko\n L2 Cache : " + std::to_string(l2) + " ko\n";
        EXPECT_NE(report_for(cpu).find(caches), std::string::npos) << std::hex << edx;
    }
    // Without CPUID only the memory is known, clamped to 32 bits of kilobytes.
    os::seam::use_synthetic_memory(16ull << 40);
    os::seam::fail_call("cpuid", -1, os::seam::fail_always);
    EXPECT_NE(report_for(athlon).find("+ CPU info :  Family 0 - 0 MHz\n Memory : 4294967295 ko\n"
                                      " L1 Cache : 0 ko\n L2 Cache : 0 ko\n MMX : NO\n"),
              std::string::npos);
    // Linux gives its name, kernel release and version text.
    os::seam::use_real_machine();
    EXPECT_EQ(report_for(athlon).rfind("+ OS info : Linux ", 0), 0u);
}

TEST_F(report_test, TheExtensionListNamesEveryExtensionOnceAndCutsLongOnes) {
    open_log();
    // Two spaces make an empty name; a final space ends the list like its end does. Each
    // section walks the whole list again.
    for (const std::string end : {"  GL_b ", "  GL_b"}) {
        const std::string text = std::string(300, 'e') + end;
        test_support::fake_gl_strings(nullptr, text.c_str());
        log_opengl_info(main_log);
        EXPECT_EQ(log_from(" Extensions :"),
                  " Extensions :\n " + std::string(255, 'e') + "\n \n GL_b\n Total : 3\n\n");
        open_log();
    }
}

using log_test = brevox_test;

// A new run starts with an empty log and the banner; text reaches the file as formatted, once,
// cut to the line buffer.
TEST_F(log_test, ANewRunStartsAnEmptyLogAndTextReachesItAsFormattedOnceAndCutToTheLine) {
    std::ofstream(test_support::log_file) << "a line of the previous run\n";
    open_log();
    EXPECT_EQ(read_log().rfind("---- brevox[0.7a] started ----\n\n+ OS info : ", 0), 0u);
    EXPECT_EQ(read_log().find("previous run"), std::string::npos);
    EXPECT_EQ(log_printf(main_log, "[%s|%d]\n", "100% of %s and %n", 42), 23);
    EXPECT_EQ(log_printf(main_log, "<%s", std::string(5000, 'x').c_str()), 1023);
    EXPECT_EQ(log_from("[100"), "[100% of %s and %n|42]\n<" + std::string(1022, 'x'));
    // On a full disk the line stays in the stream's buffer until the close fails.
    std::filesystem::remove(test_support::log_file);
    std::filesystem::create_symlink("/dev/full", test_support::log_file);
    EXPECT_EQ(log_printf(main_log, "lost\n"), 0);
}

using cvars_test = brevox_test;

TEST_F(cvars_test, NamesMatchWhateverTheCaseOfTheirLettersAndRegisteringAgainDependsOnTheType) {
    open_log();
    cvars list;
    list.register_int("cl_maxfps", 200);
    list.register_int("a[b@", 7);
    list.register_string("windowname", "brevox");
    // '[' and '{', '@' and '`' differ in the same bit as a letter's two cases, but are no letters.
    const std::pair<const char*, std::int32_t> cases[] = {
        {"CL_MAXFPS", 200}, {"Cl_MaxFps", 200}, {"cl_maxfp", -1}, {"cl_maxfpss", -1},
        {"cl-maxfps", -1},  {"A[B@", 7},        {"a{b@", -1},     {"a[b`", -1},
        {"windowname", 0},  {"nothing", -1}};
    for (const auto& [name, value] : cases)
        EXPECT_EQ(list.get_int(name), value) << name;
    EXPECT_STREQ(list.get_string("WINDOWNAME"), "brevox");
    EXPECT_EQ(list.get_string("cl_maxfps"), nullptr);
    // A change finds the first match whatever its type; a string keeps its text.
    EXPECT_EQ(list.set_int("WindowName", 5), 1);
    EXPECT_EQ(list.get_int("windowname"), 5);
    EXPECT_STREQ(list.get_string("windowname"), "brevox");

    // An int registered again changes, a string is added again, a missing name fails.
    cvars other;
    EXPECT_EQ(other.set_int("hwnd", 1), 0);
    EXPECT_TRUE(read_log().ends_with(" (cvars) changing value hwnd : FAILED\n")) << "empty list";
    char first[] = "first";
    other.register_int("hwnd", 7);
    other.register_string("title", first);
    std::strcpy(first, "xxxxx"); // the list holds its own copy
    other.register_string("title", "second");
    EXPECT_EQ(other.register_int("HWND", 9), 1);
    EXPECT_EQ(other.set_int("height", 480), 0);
    EXPECT_EQ(other.count, 3);
    EXPECT_EQ(other.get_int("hwnd"), 9);
    EXPECT_STREQ(other.get_string("title"), "first");
    EXPECT_TRUE(read_log().ends_with(" (cvars) changing value HWND : OK\n"
                                     " (cvars) changing value height : FAILED [not found]\n"));
}

// A handle reads its record at every use, and looks its name up again while it is missing and
// once the records are gone.
TEST_F(cvars_test, AHandleSeesEveryChangeOfItsNameInTheProgramsList) {
    open_log();
    cvar_handle max_fps("cl_maxfps");
    main_cvars = new cvars;
    EXPECT_EQ(max_fps.value(), -1) << "not registered yet";
    main_cvars->register_int("cl_maxfps", 200);
    EXPECT_EQ(max_fps.value(), 200);
    main_cvars->register_int("CL_MAXFPS", 60);
    main_cvars->register_string("cl_maxfps", "a second record, never read");
    EXPECT_EQ(max_fps.value(), 60);
    main_cvars->set_int("cl_maxfps", 0);
    EXPECT_EQ(max_fps.value(), 0);
    main_cvars->destroy();
    EXPECT_EQ(max_fps.value(), -1) << "the records are gone";
    main_cvars->register_int("cl_maxfps", 30);
    EXPECT_EQ(max_fps.value(), 30);
    delete main_cvars;
    main_cvars = new cvars;
    main_cvars->register_int("cl_maxfps", 75);
    EXPECT_EQ(max_fps.value(), 75) << "a new list";
}

TEST_F(cvars_test, AFailedAllocationLeavesTheListAsItWas) {
    open_log();
    cvars list;
    list.register_int("width", 640);
    for (int which = 0; which < 3; ++which) { // the record, the name's copy, the value's copy
        test_support::fail_nothrow_allocations(which);
        EXPECT_EQ(list.register_string("windowname", "brevox"), 0) << which;
        test_support::stop_failing_allocations();
        EXPECT_TRUE(read_log().ends_with(" (cvar) registring string value windowname : FAILED\n"));
    }
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.head->next, nullptr);
}

using timer_test = brevox_test;

// One frame of the given length on the manual clock.
void frame_of_us(ctimer& timer, std::uint64_t microseconds) {
    timer.begin_frame();
    os::seam::advance_clock_us(microseconds);
    timer.update();
}

TEST_F(timer_test, FrameLengthAndRateFollowTheCounterOrElseTheTickCountFromFrameToFrame) {
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

    // Without a counter the tick count measures, across its wrap too.
    os::seam::use_manual_clock(0xFFFFFFF0u); // 16 ms before the wrap
    os::seam::fail_call("query_performance_frequency");
    open_log();
    ctimer ticking;
    EXPECT_EQ(log_from(" (timer)"), " (timer) creating timer : high performance DISABLED\n");
    frame_of_us(ticking, 50'000); // from 0xFFFFFFF0 to 0x22
    EXPECT_EQ(std::tuple(ticking.frame_ms, ticking.fps), std::tuple(50u, 20u));
}

} // namespace
