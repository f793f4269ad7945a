#include "app/lost_display.h"
#include "app/main_loop.h"
#include "app/resources.h"
#include "base/log.h"
#include "base/loop_request.h"
#include "base/timer.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/gamepad.h"
#include "os/gl.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/sound.h"
#include "os/sysinfo.h"
#include "os/timers.h"
#include "os/window.h"
#include "platform/gamepad.h"
#include "platform/input.h"
#include "platform/window.h"
#include "render/render.h"
#include "sound/dxplay.h"
#include "support/test_env.h"

#include <GL/gl.h>
#include <SDL.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <memory>

// Texture names the program holds, counted on their way to OpenGL: each context's names die with
// it, so a name the program forgets to delete would leave no other trace.
int live_textures = 0;

void glGenTextures(GLsizei n, GLuint* names) {
    static const auto real = reinterpret_cast<decltype(&glGenTextures)>(dlsym(RTLD_NEXT, __func__));
    real(n, names);
    live_textures += n;
}

void glDeleteTextures(GLsizei n, const GLuint* names) {
    static const auto real =
        reinterpret_cast<decltype(&glDeleteTextures)>(dlsym(RTLD_NEXT, __func__));
    live_textures -= static_cast<int>(n - std::count(names, names + n, 0u));
    real(n, names);
}

// Frames presented, counted on their way to SDL.
int presents = 0;

extern "C" void SDL_GL_SwapWindow(SDL_Window* window) {
    static const auto real =
        reinterpret_cast<decltype(&SDL_GL_SwapWindow)>(dlsym(RTLD_NEXT, __func__));
    real(window);
    ++presents;
}

namespace {

const std::string input_released = " (input) releasing DirectInput\n"
                                   " (input) releasing DirectInput Device\n"
                                   " (input) releasing DirectInput Object\n";

// A frame step of the loop, on the program's own objects.
class loop_step_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        os::seam::focus_new_windows(true);
        ASSERT_EQ(init_main_objects(), 1);
    }

    // The manual clock's time that one pass of the loop took, in microseconds.
    static std::uint64_t time_of_one_step() {
        const std::uint64_t before = os::seam::manual_clock_us();
        EXPECT_EQ(main_loop_step(), 1);
        return os::seam::manual_clock_us() - before;
    }
};

TEST_F(loop_step_test, ARestartRebuildsTheWindowInsteadOfAFrameAndKeepsTheGame) {
    os::seam::advance_clock_ms(30);
    main_game->state = game_serve_wait;
    main_game->left->score = 3;
    const os::hwnd old_window = main_window->hwnd;
    main_cvars->set_int("width", 800);
    main_cvars->set_int("height", 600);
    loop_request = loop_vid_restart;
    const std::uint64_t reads_before = os::seam::clock_reads();
    EXPECT_EQ(main_loop_step(), 1);
    EXPECT_EQ(os::seam::clock_reads(), reads_before) << "no frame runs in the restart's pass";
    EXPECT_EQ(loop_request, loop_run);
    EXPECT_EQ(log_from("+ vid"), "+ vid_restart successfull!\n");
    EXPECT_NE(main_window->hwnd, old_window);
    EXPECT_EQ(main_cvars->get_int("clwidth"), 800);
    EXPECT_EQ(main_game->right->x, 800.0f) << "the right paddle stands at the new edge";
    EXPECT_EQ(main_game->state, game_serve_wait);
    EXPECT_EQ(main_game->left->score, 3);
    // The next pass runs a frame again, which measures the restart too.
    main_cvars->register_int("cl_maxfps", 0);
    EXPECT_EQ(main_loop_step(), 1);
    EXPECT_EQ(main_timer->frame_ms, 30u);
}

TEST_F(loop_step_test, TheFrameCapBusyWaitsForOneThousandthOfTheMaximum) {
    os::seam::set_clock_step_per_read(100); // each reading of the clock takes 0.1 ms
    time_of_one_step();
    // A frame lasts at least 1000 / "cl_maxfps" whole milliseconds, read anew on every pass,
    // and the wait ends with the first reading that sees it. No usable maximum, no wait; nor at
    // 1000, since a frame always counts as at least 1 ms.
    const struct {
        std::int32_t max_fps;
        std::uint32_t frame_ms;
    } caps[] = {{200, 5}, {500, 2}, {0, 0}, {1001, 0}, {5000, 0}, {-1, 0}, {-200, 0}, {1000, 0}};
    for (const auto& cap : caps) {
        SCOPED_TRACE(testing::Message() << "cl_maxfps " << cap.max_fps);
        main_cvars->register_int("cl_maxfps", cap.max_fps);
        const std::uint64_t took_us = time_of_one_step();
        EXPECT_GE(took_us, cap.frame_ms * 1000u);
        EXPECT_LT(took_us, cap.frame_ms * 1000u + 1000u) << "the wait ends once it is reached";
        EXPECT_EQ(main_timer->frame_ms, std::max(cap.frame_ms, 1u));
    }
    main_cvars->register_int("cl_maxfps", 200);
    time_of_one_step();
    EXPECT_EQ(main_timer->fps, 200u);
    os::seam::set_clock_step_per_read(8'000); // a frame that lasted long enough already
    time_of_one_step();
    EXPECT_EQ(time_of_one_step(), 8'000u) << "no wait after the frame";
    EXPECT_EQ(main_timer->frame_ms, 8u);
}

// The display gone, wherever the loss was noticed: the program's last word logs it, stops the
// sound and ends the log, touching no window nor OpenGL, and asks for status 1 with one line on
// standard error. The suite's pulled sound device is there on any machine.
TEST_F(loop_step_test, ALostDisplayEndsTheLogAfterTheSoundWithStatus1) {
    end_on_lost_display();
    testing::internal::CaptureStderr();
    const int status = os::seam::lose_display();
    const std::string said = testing::internal::GetCapturedStderr();
    os::on_display_lost(nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_NE(read_log().find(" (cgame) loading DXPLAY sound system : OK\n"), std::string::npos);
    EXPECT_EQ(log_from("+ entering"), "+ entering main loop..\n+ display lost, ending..\n"
                                      " (cgame) releasing sound samples\n"
                                      " (cgame) closing DXPLAY sound system\n" +
                                          input_released + "\n\n---- brevox ended ----\n\n");
    EXPECT_EQ(dxplay.dsound, 0u) << "the sound plays on";
    EXPECT_EQ(said, std::string(program_invocation_short_name) +
                        ": the display went away; the game ended (see brevox.log)\n");
}

// Hands seated at a paddle that never move it.
struct still_hands final : ckey_source {
    void hold_keys(std::uint8_t (&)[256], std::uint32_t) override {}
};

// A player with a controller, through the main loop's passes on the manual clock.
class gamepad_play_test : public loop_step_test {
protected:
    void SetUp() override {
        loop_step_test::SetUp();
        os::seam::set_clock_step_per_read(100); // the frame cap's wait makes a frame 5 ms
    }

    // The loop's passes for `ms`: the message pump, then a frame. False once the loop ends.
    static bool play_for(std::uint32_t ms) {
        const std::uint64_t end = os::seam::manual_clock_us() + ms * 1000ull;
        while (os::seam::manual_clock_us() < end) {
            dispatch_waiting_messages();
            if (!main_loop_step())
                return false;
        }
        return true;
    }
    void press(std::uint16_t button, std::uint32_t hold_ms = 20) {
        os::seam::press_virtual_button(pad, button, true);
        play_for(hold_ms);
        os::seam::press_virtual_button(pad, button, false);
        play_for(20);
    }
    static bool held(std::int32_t key) {
        return main_game->input->key_down(static_cast<std::uint8_t>(key)) != 0;
    }

    std::uint32_t pad = 0;
};

TEST_F(gamepad_play_test, AControllerPlaysARallyFromTheMenuToQuit) {
    pad = os::seam::attach_virtual_gamepad("Test Pad");
    play_for(20);
    // Held, the D-pad moves the menu on as a key does: at once, then after the repeat's delay.
    press(os::XINPUT_GAMEPAD_DPAD_DOWN, os::gamepad_repeat_delay_ms + 60);
    EXPECT_EQ(main_menu->selected, 3) << "on \"continue\"";
    os::seam::press_virtual_button(pad, os::XINPUT_GAMEPAD_A, true);
    play_for(100);
    EXPECT_EQ(main_game->state, game_intro) << "the press that continued does not serve too";
    os::seam::press_virtual_button(pad, os::XINPUT_GAMEPAD_A, false);
    play_for(20);
    press(os::XINPUT_GAMEPAD_A);
    EXPECT_EQ(main_game->state, game_serve_wait);
    play_for(500);
    press(os::XINPUT_GAMEPAD_A);
    EXPECT_EQ(main_game->state, game_in_play) << "served";

    cpaddle& left = *main_game->left;
    os::seam::press_virtual_button(pad, os::XINPUT_GAMEPAD_DPAD_UP, true);
    play_for(50);
    EXPECT_GT(left.velocity, 0.0f);
    os::seam::press_virtual_button(pad, os::XINPUT_GAMEPAD_DPAD_UP, false);
    for (const std::int16_t y : {-13000, -20000}) { // up to half its travel, the stick is still
        os::seam::tilt_virtual_stick(pad, y);
        play_for(10);
        EXPECT_EQ(held(left.down_key), y == -20000) << y;
    }
    press(os::XINPUT_GAMEPAD_BACK);
    EXPECT_EQ(main_game->state, game_paused);
    press(os::XINPUT_GAMEPAD_BACK);
    press(os::XINPUT_GAMEPAD_START);
    EXPECT_EQ(main_game->state, game_menu);
    press(os::XINPUT_GAMEPAD_A);
    EXPECT_NE(main_game->state, game_menu);

    // Unplugged with the stick down: nothing holds the paddle, which glides to a stop.
    ASSERT_TRUE(held(left.down_key));
    os::seam::detach_virtual_gamepad(pad);
    play_for(1000);
    EXPECT_FALSE(held(left.down_key));
    EXPECT_EQ(left.velocity, 0.0f);

    // Plugged in again with a second one: it plays the right paddle at once.
    pad = os::seam::attach_virtual_gamepad("Test Pad");
    const std::uint32_t second = os::seam::attach_virtual_gamepad("Other Pad");
    play_for(20);
    os::seam::tilt_virtual_stick(pad, 32767);
    os::seam::press_virtual_button(second, os::XINPUT_GAMEPAD_DPAD_DOWN, true);
    play_for(10);
    EXPECT_TRUE(held(left.up_key) && held(main_game->right->down_key));
    os::seam::detach_virtual_gamepad(second);
    main_seating.seat(0, std::make_unique<still_hands>()); // somebody else plays the left paddle
    os::seam::tilt_virtual_stick(pad, 32767);
    play_for(10);
    EXPECT_TRUE(held(main_game->right->up_key) && !held(left.up_key));
    os::seam::tilt_virtual_stick(pad, 0);

    press(os::XINPUT_GAMEPAD_START);
    press(os::XINPUT_GAMEPAD_DPAD_DOWN);
    press(os::XINPUT_GAMEPAD_DPAD_DOWN);
    os::seam::press_virtual_button(pad, os::XINPUT_GAMEPAD_A, true);
    EXPECT_FALSE(play_for(100)) << "\"quit\" ends the loop";
    EXPECT_EQ(log_from(" (input) gamepad"),
              " (input) gamepad connected: Test Pad, plays the left paddle\n"
              " (input) gamepad removed: Test Pad, played the left paddle\n"
              " (input) gamepad connected: Test Pad, plays the left paddle\n"
              " (input) gamepad connected: Other Pad, plays the right paddle\n"
              " (input) gamepad removed: Other Pad, played the right paddle\n"
              "+ loop quit requested..\n");
}

// F1, P and ESCAPE, and the buttons that stand for them, act once however long they are held.
// SDL forgets a key at the focus change of a restart and tells of its next auto-repeat in the new
// window as of a new press; the system still holds it.
TEST_F(gamepad_play_test, AHeldEventKeyActsOncePerPress) {
    os::seam::use_synthetic_display_modes({{148, 0, 32, 640, 480, 60}});
    const auto restarts = [] {
        const std::string log = read_log();
        int count = 0;
        for (auto at = log.find("+ vid_restart"); at != std::string::npos;
             at = log.find("+ vid_restart", at + 1))
            ++count;
        return count;
    };
    os::seam::hold_keys_in_system({os::DIK_F1});
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
    for (int repeat = 0; repeat < 3; ++repeat)
        os::seam::press_key(main_window->hwnd, os::DIK_F1, true);
    play_for(20);
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
    play_for(20);
    EXPECT_EQ(main_cvars->get_int("fullscreen"), 1);
    EXPECT_EQ(restarts(), 1);
    // Pressed anew, and let go during the restart before SDL knew it as held again (SDL never
    // tells of that): the next press acts.
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
    play_for(20);
    os::seam::hold_keys_in_system({});
    play_for(20);
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
    play_for(20);
    EXPECT_EQ(restarts(), 3);
    // Down as the new window takes the focus, but not before the restart: a new press.
    os::seam::release_key(main_window->hwnd, os::DIK_F1);
    play_for(20);
    loop_request = loop_vid_restart;
    os::seam::hold_keys_in_system({os::DIK_F1});
    play_for(20);
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
    play_for(20);
    EXPECT_EQ(restarts(), 5);

    *main_game->ball = cball();
    main_game->ball->x = 320;
    main_game->state = game_in_play;
    pad = os::seam::attach_virtual_gamepad("Test Pad");
    play_for(20);
    press(os::XINPUT_GAMEPAD_BACK, os::gamepad_repeat_delay_ms + 20); // one repeat
    EXPECT_EQ(main_game->state, game_paused);
    os::seam::press_key(main_window->hwnd, os::DIK_P);
    os::seam::press_key(main_window->hwnd, os::DIK_P, true);
    play_for(20);
    EXPECT_EQ(main_game->state, game_in_play);
}

class init_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
    }
};

TEST_F(init_test, AFailedAllocationEndsTheStartInOrderOrIsPassedOver) {
    // The first ten: the timer, the menu, the window, the renderer, the game, the controllers,
    // the menu's items and its three arrays of choices. Later ones (driver, font, game objects,
    // sound) either fail the start or are only logged, never a crash.
    for (int which = 0; which < 30; ++which) {
        test_support::fail_nothrow_allocations(which);
        const int started = init_main_objects();
        test_support::stop_failing_allocations();
        if (which < 10) {
            EXPECT_EQ(started, 0) << which;
        }
        const std::string ending =
            started ? "\n+ entering main loop..\n" : "\n+ initialization abnormal\n";
        const std::string log = read_log();
        EXPECT_EQ(log.substr(log.size() - ending.size()), ending) << which;
        cleanup_main_objects();
        EXPECT_TRUE(!main_menu && !main_game && !main_render) << which;
    }
}

TEST_F(init_test, AFailedRestartAsksTheLoopToQuit) {
    ASSERT_EQ(init_main_objects(), 1);
    os::seam::fail_call("gl_create_context");
    loop_request = loop_vid_restart;
    EXPECT_EQ(main_loop_step(), 1);
    EXPECT_EQ(loop_request, loop_quit);
    EXPECT_EQ(main_loop_step(), 0);
    EXPECT_EQ(log_from(" (driver) creating opengl rendering context : FAILED"),
              " (driver) creating opengl rendering context : FAILED\n"
              "+ loop quit requested..\n");
    // The half-built renderer is freed without a release of its own, the window destroyed.
    cleanup_main_objects();
    EXPECT_EQ(log_from("\n+ cleaning up"), "\n+ cleaning up main objects\n"
                                           " (cgame) releasing sound samples\n"
                                           " (cgame) closing DXPLAY sound system\n" +
                                               input_released +
                                               " (window) deleting main window : OK\n");
}

// Whole runs of the program's entry point on the manual clock, with a sound device.
class program_run_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        prepare_whole_run();
    }

    // The whole program; its exit status.
    static int run() { return WinMain(os::module_instance(), 0, "", 1); }
    static constexpr int ended_by_players = 0;
    static constexpr int failed = 1;

    // Timer callbacks standing in for the menu's quit action and for a change of the cap.
    static void request_quit(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
        os::kill_timer(0, id);
        loop_request = loop_quit;
    }
    static void lift_the_cap(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
        os::kill_timer(0, id);
        main_cvars->set_int("cl_maxfps", 0);
    }
};

std::vector<std::string> lines_of(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The whole log of a run (OpenGL sections left out), from tests/logs/: the tests run where there
// is no data/ directory, on a pulled sound device. The quit's log is written out whole,
// quit.log; every other is NAME.diff, its differences from that one (`diff -U0`).
std::string expected_log(const std::string& name) {
    const std::string logs = std::string(BREVOX_SOURCE_DIR) + "/tests/logs/";
    const std::vector<std::string> base = lines_of(logs + "quit.log");
    std::vector<std::string> lines;
    std::size_t next = 0; // the first line of quit.log not yet taken
    bool in_hunks = false;
    const auto diff = name == "quit" ? std::vector<std::string>{} : lines_of(logs + name + ".diff");
    for (const std::string& line : diff) {
        if (line.starts_with("@@ -")) {
            // "-START,COUNT": the hunk takes COUNT lines from START on, or with a COUNT of 0
            // adds its lines after line START. COUNT is 1 when left out.
            std::size_t start = 0, count = 1;
            std::sscanf(line.c_str(), "@@ -%zu,%zu", &start, &count);
            const std::size_t upto = count == 0 ? start : start - 1;
            lines.insert(lines.end(), base.begin() + next, base.begin() + upto);
            next = upto;
            in_hunks = true;
        } else if (in_hunks && line.starts_with("-")) {
            EXPECT_EQ(line.substr(1), base.at(next)) << name << ".diff takes another line";
            ++next;
        } else if (in_hunks && line.starts_with("+")) {
            lines.push_back(line.substr(1));
        }
    }
    lines.insert(lines.end(), base.begin() + next, base.end());
    std::string log;
    for (const std::string& line : lines)
        log += line + "\n";
    return log;
}

TEST_F(program_run_test, FramesRunBackToBackUntilAQuitRequestEndsTheRunInOrder) {
    ASSERT_NE(os::set_timer(0, 0, 1, lift_the_cap), 0u);
    ASSERT_NE(os::set_timer(0, 0, 25, request_quit), 0u);
    const int presents_before = presents;
    EXPECT_EQ(run(), ended_by_players);
    EXPECT_EQ(log_without_opengl_info("+ creating cvar list"), expected_log("quit"));
    // Without a cap a frame takes 0.1 ms, one reading of the clock. From the lifted cap (at
    // 10 ms, the shortest timer) to the quit at 25 ms nothing is queued: the loop must not wait
    // for a message but present frame after frame.
    EXPECT_GE(presents - presents_before, 150);
    EXPECT_EQ(main_log, nullptr);
    EXPECT_EQ(main_cvars, nullptr);
    EXPECT_EQ(main_timer, nullptr);
}

// The players' script: F1 into fullscreen, F1 back, then the window's close button.
void play_script(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    static int step = 0;
    if (main_window == nullptr)
        return;
    if (step < 2) {
        os::seam::press_key(main_window->hwnd, os::DIK_F1);
        ++step;
    } else {
        os::seam::request_close(main_window->hwnd);
        os::kill_timer(0, id);
        step = 0;
    }
}

void press_f1(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    os::kill_timer(0, id);
    os::seam::press_key(main_window->hwnd, os::DIK_F1);
}

TEST_F(program_run_test, F1TwiceThenCloseRunsThroughBothDisplayModes) {
    os::seam::use_synthetic_display_modes(
        {{148, 0, 32, 1024, 768, 60}, {148, 0, 32, 640, 480, 60}});
    register_program_resources();
    ASSERT_NE(os::set_timer(0, 0, 30, play_script), 0u);
    const int textures_before = live_textures;
    EXPECT_EQ(run(), ended_by_players);
    EXPECT_EQ(live_textures, textures_before) << "every texture name made is deleted";

    EXPECT_EQ(log_without_opengl_info("+ creating cvar list"), expected_log("f1_twice_then_close"));
    // Three OpenGL sections: the start and each restart.
    const std::string log = read_log();
    int sections = 0;
    for (auto at = log.find("+ OpenGL info :"); at != std::string::npos;
         at = log.find("+ OpenGL info :", at + 1))
        ++sections;
    EXPECT_EQ(sections, 3);
    os::devmode in_force{};
    EXPECT_FALSE(os::seam::changed_display_mode(in_force)) << "the desktop's mode is back";
}

// With the computer on the left paddle, the first controller plays the people's right one.
TEST_F(program_run_test, TheComputersPaddleIsNotAControllers) {
    const std::uint32_t pad = os::seam::attach_virtual_gamepad("Test Pad");
    ASSERT_NE(os::set_timer(0, 0, 25, request_quit), 0u);
    EXPECT_EQ(WinMain(os::module_instance(), 0, "--computer left", 1), ended_by_players);
    const std::string log = read_log();
    EXPECT_NE(log.find(" (computer) taking the left paddle : OK\n"), std::string::npos);
    EXPECT_NE(log.find(" (input) gamepad connected: Test Pad, plays the right paddle\n"),
              std::string::npos);
    os::seam::detach_virtual_gamepad(pad);
}

TEST_F(program_run_test, WithoutACvarListTheProgramEndsInOrder) {
    test_support::fail_nothrow_allocations(1); // the log is made, the cvar list is not
    EXPECT_EQ(run(), failed);
    EXPECT_EQ(log_from("+ creating cvar list"),
              "+ creating cvar list\n"
              "\n+ creating main objects\n"
              " (timer) creating timer : high performance ENABLED\n"
              "\n+ initialization abnormal\n"
              "\n+ cleaning up main objects\n"
              " (cgame) releasing sound samples\n"
              " (cgame) closing DXPLAY sound system\n"
              "\n\n---- brevox ended ----\n\n");
}

TEST_F(program_run_test, WithoutALogTheProgramStillRunsAndEnds) {
    std::filesystem::create_directory(test_support::log_file);
    os::post_quit_message(0);
    EXPECT_EQ(run(), ended_by_players);
    test_support::fail_nothrow_allocations(0); // the log object itself
    os::post_quit_message(0);
    EXPECT_EQ(run(), ended_by_players);
}

TEST_F(program_run_test, AFullscreenSwitchWithoutAUsableModeEndsTheRunAsAFailure) {
    os::seam::use_synthetic_display_modes({{148, 0, 32, 1024, 768, 60}});
    ASSERT_NE(os::set_timer(0, 0, 30, press_f1), 0u);
    EXPECT_EQ(run(), failed);
    EXPECT_NE(read_log().find("+ loop quit requested..\n"), std::string::npos);
}

TEST_F(program_run_test, AnInterruptSignalEndsTheRunThroughTheQuitMessageASecondOneAtOnce) {
    os::startup();
    std::raise(SIGINT);
    EXPECT_EQ(run(), 128 + SIGINT);
    EXPECT_EQ(log_without_opengl_info("+ creating cvar list"), expected_log("interrupt"));
    // A step that the signal broke off fails (a wait for the compositor): the run still ends as
    // the interrupt it is.
    os::detail::forget_quit_signal();
    std::raise(SIGTERM);
    os::seam::fail_call("create_window");
    EXPECT_EQ(run(), 128 + SIGTERM);
    // A second one ends a run that hangs on its way out at once, by that signal.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::raise(SIGTERM), testing::KilledBySignal(SIGTERM), "");
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

} // namespace
