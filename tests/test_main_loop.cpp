#include "app/log.h"
#include "app/main_loop.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "os/clock.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/sysinfo.h"
#include "os/timers.h"
#include "support/alloc_fault.h"
#include "support/test_env.h"

#include <csignal>
#include <filesystem>

namespace {

// A frame step of the loop, with the objects it needs and nothing else.
class loop_step_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        open_log();
        main_cvars = new cvars;
        main_timer = new ctimer;
    }

    // How many times the frame read the clock: one update, plus one per round of the cap's wait.
    std::uint64_t clock_reads_of_one_step() {
        const std::uint64_t before = os::seam::clock_reads();
        EXPECT_EQ(main_loop_step(), 1);
        return os::seam::clock_reads() - before;
    }
};

TEST_F(loop_step_test, ARestartRequestRestartsInsteadOfAFrame) {
    os::seam::advance_clock_ms(30);
    loop_request = loop_vid_restart;
    const std::uint64_t reads = clock_reads_of_one_step();
    EXPECT_EQ(reads, 0u) << "no frame runs in the restart's pass";
    EXPECT_EQ(loop_request, loop_run);
    EXPECT_EQ(log_from("+ vid"), "+ vid_restart successfull!\n");
    // The next pass runs a frame again, which measures the restart too.
    main_cvars->register_int("cl_maxfps", 0);
    EXPECT_EQ(clock_reads_of_one_step(), 1u);
    EXPECT_EQ(main_timer->frame_ms, 30u);
}

TEST_F(loop_step_test, AQuitRequestEndsTheLoopWithItsLine) {
    loop_request = loop_quit;
    EXPECT_EQ(main_loop_step(), 0);
    EXPECT_EQ(log_from("+ loop"), "+ loop quit requested..\n");
}

TEST_F(loop_step_test, TheFrameCapWaitsOutTheMinimumFrameTime) {
    main_cvars->register_int("cl_maxfps", 200);
    os::seam::set_clock_step_per_read(100); // each reading of the clock takes 0.1 ms
    clock_reads_of_one_step();
    EXPECT_EQ(main_timer->frame_ms, 5u);
    // The frame starts at the last reading of the one before; 0.1 ms a reading, the 50th
    // sees 5.0 ms and ends the wait.
    EXPECT_EQ(clock_reads_of_one_step(), 50u);
    EXPECT_EQ(main_timer->frame_ms, 5u);
    EXPECT_EQ(main_timer->fps, 200u);
}

TEST_F(loop_step_test, AFrameThatAlreadyLastedLongEnoughDoesNotWait) {
    main_cvars->register_int("cl_maxfps", 200);
    os::seam::set_clock_step_per_read(8'000);
    clock_reads_of_one_step();
    EXPECT_EQ(clock_reads_of_one_step(), 1u);
    EXPECT_EQ(main_timer->frame_ms, 8u);
}

TEST_F(loop_step_test, NoCapWithoutAUsableMaximum) {
    os::seam::set_clock_step_per_read(100);
    // Unregistered: read as -1, a huge unsigned divisor, no minimum.
    EXPECT_EQ(clock_reads_of_one_step(), 1u);
    const std::int32_t no_cap[] = {0, 1001, 5000, -1, -200, 1000};
    for (const std::int32_t max_fps : no_cap) {
        main_cvars->register_int("cl_maxfps", max_fps);
        EXPECT_EQ(clock_reads_of_one_step(), 1u) << "cl_maxfps " << max_fps;
    }
    // Read anew on every pass: a change applies to the very next frame.
    main_cvars->register_int("cl_maxfps", 500);
    EXPECT_EQ(clock_reads_of_one_step(), 20u);
    EXPECT_EQ(main_timer->frame_ms, 2u);
}

TEST_F(loop_step_test, AFailedTimerAllocationIsAFailedInitialisation) {
    delete main_timer;
    main_timer = nullptr;
    test_support::fail_nothrow_allocations(0);
    EXPECT_EQ(init_main_objects(), 0);
    EXPECT_EQ(main_timer, nullptr);
    EXPECT_EQ(log_from("\n+ creating main objects"),
              "\n+ creating main objects\n\n+ initialization abnormal\n");
    EXPECT_EQ(cleanup_main_objects(), 1);
}

// Whole runs of the program's entry point on the manual clock.
class program_run_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        os::seam::use_synthetic_cpu({});
        // Each clock reading takes 0.1 ms, so the frame cap's wait moves time on by itself.
        os::seam::set_clock_step_per_read(100);
    }

    static int run() { return WinMain(os::module_instance(), 0, "", 1); }

    static inline int frames_until_quit = 0;
    static inline int restarts_to_request = 0;

    // Timer callbacks standing in for the window procedure's requests.
    static void request_quit_after_frames(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
        if (--frames_until_quit > 0)
            return;
        os::kill_timer(0, id);
        loop_request = loop_quit;
    }
    static void request_restart(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
        if (restarts_to_request-- > 0) {
            loop_request = loop_vid_restart;
            return;
        }
        os::kill_timer(0, id);
        loop_request = loop_quit;
    }
};

constexpr const char* startup_lines = "+ creating cvar list\n"
                                      " (cvar) registring string value windowname : OK\n"
                                      " (cvar) registring int value width : OK\n"
                                      " (cvar) registring int value height : OK\n"
                                      " (cvar) registring int value bits : OK\n"
                                      " (cvar) registring int value fullscreen : OK\n"
                                      " (cvar) registring int value instance : OK\n"
                                      " (cvar) registring int value cl_maxfps : OK\n"
                                      "\n+ creating main objects\n"
                                      " (timer) creating timer : high performance ENABLED\n"
                                      "\n+ initialization successfull!\n"
                                      "\n+ entering main loop..\n";
constexpr const char* shutdown_lines = "\n+ cleaning up main objects\n"
                                       "\n\n---- brevox ended ----\n\n";

TEST_F(program_run_test, AQuitRequestEndsTheRunInOrder) {
    frames_until_quit = 3;
    ASSERT_NE(os::set_timer(0, 0, 20, request_quit_after_frames), 0u);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(log_from("+ creating cvar list"),
              std::string(startup_lines) + "+ loop quit requested..\n" + shutdown_lines);
    EXPECT_GE(os::seam::manual_clock_us(), 60'000u) << "three timer periods of frames ran";
    EXPECT_EQ(main_log, nullptr);
    EXPECT_EQ(main_cvars, nullptr);
    EXPECT_EQ(main_timer, nullptr);
}

TEST_F(program_run_test, TheQuitMessageEndsTheLoopInsideThePump) {
    os::post_quit_message(0);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(log_from("+ creating cvar list"), std::string(startup_lines) + shutdown_lines);
}

TEST_F(program_run_test, ARestartBetweenFramesKeepsTheProgramRunning) {
    restarts_to_request = 2;
    ASSERT_NE(os::set_timer(0, 0, 10, request_restart), 0u);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(log_from("+ creating cvar list"), std::string(startup_lines) +
                                                    "+ vid_restart successfull!\n"
                                                    "+ vid_restart successfull!\n"
                                                    "+ loop quit requested..\n" +
                                                    shutdown_lines);
}

TEST_F(program_run_test, WithoutACvarListTheProgramEndsInOrder) {
    test_support::fail_nothrow_allocations(1); // the log is made, the cvar list is not
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(log_from("+ creating cvar list"), "+ creating cvar list\n"
                                                "\n+ creating main objects\n"
                                                " (timer) creating timer : high performance "
                                                "ENABLED\n"
                                                "\n+ initialization abnormal\n" +
                                                    std::string(shutdown_lines));
}

TEST_F(program_run_test, WithoutALogTheProgramStillRunsAndEnds) {
    std::filesystem::create_directory(log_file_name);
    os::post_quit_message(0);
    EXPECT_EQ(run(), 1);
    test_support::fail_nothrow_allocations(0); // the log object itself
    os::post_quit_message(0);
    EXPECT_EQ(run(), 1);
}

TEST_F(program_run_test, AnInterruptSignalEndsTheRunThroughTheQuitMessage) {
    os::startup();
    std::raise(SIGINT);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(log_from("+ creating cvar list"), std::string(startup_lines) + shutdown_lines);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

} // namespace
