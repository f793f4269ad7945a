// The OS layer's message queue of the main thread, its window procedures and timers, its events
// and the one wait on events and the queue together; the platform layer above it: the main window
// and its keys, the keyboard on SDL's own events, and the OpenGL driver and its choice of a
// display mode. (The sound player's tests run threads, their messages and their priority.)
#include "app/main_loop.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/gamepad.h"
#include "os/gl.h"
#include "os/keyboard.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/threads.h"
#include "os/timers.h"
#include "os/video.h"
#include "os/window.h"
#include "platform/driver.h"
#include "platform/input.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <SDL.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

// What the callbacks and window procedures saw: timer ids, or messages.
std::vector<std::uint32_t> calls;

void record_timer(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) { calls.push_back(id); }

void one_shot_timer(os::hwnd window, std::uint32_t message, os::timer_id id, std::uint32_t time) {
    record_timer(window, message, id, time);
    os::kill_timer(0, id);
}

// Pumps like the main loop does, dispatching everything that waits; returns the ids taken.
std::vector<std::uint32_t> pump() {
    std::vector<std::uint32_t> taken;
    for (os::msg m; os::peek_message(m, 0, 0, 0, os::PM_REMOVE) && m.message != os::WM_QUIT;) {
        taken.push_back(m.message);
        os::dispatch_message(m);
    }
    return taken;
}

using messages_test = brevox_test;

TEST_F(messages_test, PostedMessagesComeInOrderThenTheQuitThenTheTimers) {
    os::set_timer(0, 0, 100, record_timer);
    os::seam::advance_clock_ms(100);
    os::post_message(0, os::WM_USER + 1, 10, 20);
    os::post_quit_message(3);
    os::post_message(0, os::WM_USER + 2, 0, 0);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_NOREMOVE));
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message + m.w + m.l, os::WM_USER + 31u) << "the peek left it in place";
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message, os::WM_USER + 2u);
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 0);
    EXPECT_EQ(m.w, 3u);
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_TIMER}) << "one quit, taken once";
}

constexpr os::hwnd test_window = 0x1234;

// The id set_timer returns names the timer in its messages and kills it, also a window's timer 0.
TEST_F(messages_test, TimersAreNamedAndKilledByTheirIdsAndAKilledOnesMessageCallsNothing) {
    calls.clear();
    const os::timer_id killed = os::set_timer(0, 0, 5, record_timer);
    const os::timer_id window_timer = os::set_timer(test_window, 0, 5, record_timer);
    const os::timer_id serve = os::set_timer(0, 0, 10, one_shot_timer);
    const os::timer_id medal = os::set_timer(0, 0, 20, one_shot_timer);
    os::seam::advance_clock_ms(1'000);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    ASSERT_EQ(m.w, killed);
    EXPECT_TRUE(os::kill_timer(0, killed));
    os::dispatch_message(m);
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    EXPECT_EQ(m.message + m.window + m.w, os::WM_TIMER + test_window + window_timer);
    EXPECT_TRUE(os::kill_timer(test_window, window_timer));
    pump();
    EXPECT_EQ(calls, (std::vector<std::uint32_t>{serve, medal}));
    os::seam::advance_clock_ms(1'000);
    EXPECT_TRUE(pump().empty());
}

TEST_F(messages_test, AWindowDestroyedInsideItsOwnMessageLosesItsOtherMessages) {
    calls.clear();
    // The window's procedure destroys it while one of its messages is being dispatched.
    os::detail::bind_window(
        test_window,
        [](os::hwnd window, std::uint32_t message, os::wparam, os::lparam) -> os::lresult {
            calls.push_back(message);
            os::detail::unbind_window(window);
            return 7;
        });
    os::post_message(test_window, os::WM_KEYDOWN, 0x70, 0);
    os::post_message(test_window, os::WM_KEYDOWN, 0x1B, 0);
    os::post_message(0, os::WM_USER, 0, 0);
    os::msg m{};
    ASSERT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.window, test_window);
    EXPECT_EQ(os::dispatch_message(m), 7);
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_USER});
    EXPECT_EQ(calls, std::vector<std::uint32_t>{os::WM_KEYDOWN});
    EXPECT_EQ(os::dispatch_message(m), 0) << "a message for a gone window goes nowhere";
}

using threads_test = brevox_test;

TEST_F(threads_test, TheWaitTakesTheLowestSignalledEventAndAWaitingMessageFirst) {
    std::vector<os::handle> events;
    const auto wait = [&](std::uint32_t count, std::uint32_t wake_mask = os::QS_ALLINPUT) {
        return os::msg_wait_for_multiple_objects(count, events.data(), false, 0, wake_mask);
    };
    for (int i = 0; i < 64; ++i)
        events.push_back(os::create_event(i == 62, false));
    EXPECT_EQ(wait(63), os::WAIT_TIMEOUT);
    for (const int i : {62, 3, 1})
        os::set_event(events[i]);
    EXPECT_EQ(wait(64), os::WAIT_FAILED) << "one more than the wait takes";
    // Auto-reset events are reset by the wait that takes them; the manual-reset one stays set.
    for (const std::uint32_t taken : {1u, 3u, 62u, 62u})
        EXPECT_EQ(wait(63), taken);
    os::set_event(events[0]);
    os::post_thread_message(os::current_thread_id(), os::WM_USER, 0, 0);
    EXPECT_EQ(wait(4), 4u);
    EXPECT_EQ(wait(4, 0), 0u) << "without a wake mask the queue is not looked at";
    os::close_handle(events[5]);
    EXPECT_EQ(wait(10), os::WAIT_FAILED) << "a closed handle";
    events.erase(events.begin() + 5);
    for (const os::handle h : events)
        os::close_handle(h);
}

class window_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_NO_FATAL_FAILURE(start_with_main_window());
        ASSERT_EQ(menu.init(), 1);
        main_game = &game;
        main_menu = &menu;
    }
    void TearDown() override {
        main_game = nullptr;
        main_menu = nullptr;
        brevox_test::TearDown();
    }

    cgame game;
    cmenu menu;
};

TEST_F(window_test, FailuresAreLoggedWithTheirVerdict) {
    main_window->destroy();
    os::seam::fail_call("register_class");
    EXPECT_EQ(main_window->create(), 0);
    // A window that cannot be made leaves its class registered, so the next try fails early.
    os::seam::fail_call("create_window");
    EXPECT_EQ(main_window->create(), 0);
    main_window->destroy(); // no window: logs nothing, unregisters nothing
    EXPECT_EQ(main_window->create(), 0);
    ASSERT_EQ(main_window->hwnd, 0u);
    EXPECT_EQ(log_from(" (window) registring class : F"),
              " (window) registring class : FAILED\n"
              " (window) registring class : OK\n"
              " (window) creating main window : FAILED\n"
              " (window) registring class : FAILED\n");
}

using no_display_test = brevox_test;

// The program says so on standard error, once: the OS layer only gives the reason.
TEST_F(no_display_test, TheStartFailsInOrderAndSaysSoOnceOnStandardError) {
    // In a process of its own, since SDL's video starts once per process.
    const auto run_without_display = [] {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"})
            unsetenv(name);
        std::freopen("stderr.txt", "w", stderr); // SDL's drivers may have their own say there
        os::post_quit_message(0); // a run that wrongly gets going ends at once all the same
        const int code = WinMain(os::module_instance(), 0, "", 1);
        std::fclose(stderr);
        std::ifstream said("stderr.txt");
        const std::string text{std::istreambuf_iterator<char>(said), {}}, log = read_log();
        std::printf("status %d, standard error:\n%s\nlog:\n%s", code, text.c_str(), log.c_str());
        const auto said_at = text.find(": no display available (is DISPLAY set?)\n");
        const bool once = said_at != std::string::npos && text.rfind("no display") == said_at + 2;
        const bool logged = log.find(" (window) creating main window : FAILED\n\n+ initialization "
                                     "abnormal\n") != std::string::npos &&
                            log.ends_with("---- brevox ended ----\n\n");
        std::exit(code == 1 && once && logged ? 3 : 4);
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_without_display(), testing::ExitedWithCode(3), "");
}

using wayland_probe_test = brevox_test;

// A compositor that takes the connection and never says a word counts as unusable once the
// patience is out (3 s on the layer's clock, here a second a reading), or at once when a signal
// asks the program to quit. A video restart on SDL's Wayland driver waits for the compositor the
// same way (which only a real compositor's window can reach).
TEST_F(wayland_probe_test, ACompositorThatNeverAnswersIsGivenUpOrLeftAtAnInterrupt) {
    const std::string path = (std::filesystem::current_path() / "silent").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    setenv("WAYLAND_DISPLAY", path.c_str(), 1);
    os::seam::set_clock_step_per_read(1'000'000);
    EXPECT_FALSE(os::detail::wayland_compositor_usable());
    EXPECT_GE(os::seam::manual_clock_us(), 3'000'000u) << "the patience not waited out";
    os::startup();
    std::raise(SIGINT);
    const std::uint64_t before = os::seam::manual_clock_us();
    EXPECT_FALSE(os::detail::wayland_compositor_usable());
    EXPECT_LT(os::seam::manual_clock_us() - before, 3'000'000u) << "waited on after the interrupt";
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    unsetenv("WAYLAND_DISPLAY");
    close(listener);
}

// The key messages the pump made, taken, as "down 26 x1 repeat, ": the key, its repeat count and
// whether it repeats; Alt and F10 make "sysdown" and "sysup".
std::string key_messages() {
    static const char* const names[] = {"down", "up", "", "", "sysdown", "sysup"};
    std::string text;
    char item[48];
    for (os::msg m; os::peek_message(m, 0, os::WM_KEYDOWN, os::WM_SYSKEYUP, os::PM_REMOVE);) {
        std::snprintf(item, sizeof item, "%s %X x%d%s, ", names[m.message - os::WM_KEYDOWN],
                      static_cast<unsigned>(m.w), static_cast<int>(m.l & 0xFFFF),
                      m.l & 1 << 30 ? " repeat" : "");
        text += item;
    }
    return text;
}

// The keyboard of a window in front, fed with SDL's own key and focus events through the OS
// layer's pump, as a player's keyboard sends them.
class keyboard_test : public window_test {
protected:
    void SetUp() override {
        window_test::SetUp();
        window_id = SDL_GetWindowID(os::detail::sdl_window(main_window->hwnd));
        focus(SDL_WINDOWEVENT_FOCUS_GAINED);
        ASSERT_EQ(keyboard.init(), 1);
    }

    void key(SDL_Scancode scancode, bool down, bool repeat = false) {
        const SDL_Keysym keysym{scancode, SDL_GetKeyFromScancode(scancode), 0, 0};
        push({.key = {down ? SDL_KEYDOWN : SDL_KEYUP, 0, window_id, down, repeat, 0, 0, keysym}});
    }
    void focus(SDL_WindowEventID change) {
        push(
            {.window = {SDL_WINDOWEVENT, 0, window_id, static_cast<Uint8>(change), 0, 0, 0, 0, 0}});
    }
    static void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1); }

    // What the pump makes of the events: the key messages, then the scan codes down.
    std::string pumped() {
        std::string text = key_messages();
        keyboard.read_state(5);
        for (int dik = 0; dik < 256; ++dik)
            if (keyboard.key_down(static_cast<std::uint8_t>(dik)))
                text += std::to_string(dik) + " ";
        return text;
    }

    Uint32 window_id = 0;
    cinput keyboard;
};

const std::string released_object = " (input) releasing DirectInput Object\n";
const std::string released = " (input) releasing DirectInput Device\n" + released_object;

// Each result of each step of the start: the log from the failing step's line on, with its
// verdict and release lines. (Whole runs hold the start that succeeds.)
TEST_F(keyboard_test, EachStepOfTheStartGetsItsVerdict) {
    keyboard.release(); // each case starts its own
    const std::tuple<const char*, os::hresult, std::string, std::string, int> cases[] = {
        {"acquire", os::DIERR_OTHERAPPHASPRIO, "acquire", "WARNING [other has the device]\n", 1},
        {"acquire", os::DIERR_NOTINITIALIZED, "acquire",
         "FAILED [directInput not initialized]\n" + released, 0},
        {"acquire", os::DIERR_INVALIDPARAM, "acquire", "FAILED [invalid param]\n" + released, 0},
        {"acquire", os::E_FAIL, "acquire", released, 0},
        {"direct_input_create", os::E_FAIL, "Object", "FAILED\n", 0},
        // Before the acquire the release lines come first, then the verdict.
        {"create_device", os::E_FAIL, "Device", released_object + "FAILED\n", 0},
        {"set_data_format", os::E_FAIL, "DataFormat", released + "FAILED\n", 0},
    };
    for (const auto& [call, result, step, log, init] : cases) {
        open_log(); // a fresh log for each case
        cinput keyboard;
        os::seam::fail_call(call, result);
        EXPECT_EQ(keyboard.init(), init) << call << std::hex << result;
        EXPECT_EQ(log_from(step + " : "), step + " : " + log) << call << std::hex << result;
        EXPECT_EQ(keyboard.unacquired, 1) << call;
        keyboard.set_key(os::DIK_UP, 0x80);
        // A keyboard that did not start reads every key up, whatever was set.
        EXPECT_EQ(keyboard.read_state(5) + keyboard.key_down(os::DIK_UP), init) << call;
        keyboard.release();
        EXPECT_EQ(os::seam::live_input_objects(), 0);
    }
}

TEST_F(keyboard_test, TheGameKeysArriveAsMessagesAndPolledKeys) {
    const std::tuple<SDL_Scancode, const char*, std::uint8_t> cases[] = {
        {SDL_SCANCODE_LSHIFT, "10", os::DIK_LSHIFT}, {SDL_SCANCODE_LCTRL, "11", os::DIK_LCONTROL},
        {SDL_SCANCODE_SPACE, "20", os::DIK_SPACE},   {SDL_SCANCODE_UP, "26", os::DIK_UP},
        {SDL_SCANCODE_DOWN, "28", os::DIK_DOWN},     {SDL_SCANCODE_ESCAPE, "1B", os::DIK_ESCAPE},
        {SDL_SCANCODE_P, "50", os::DIK_P},           {SDL_SCANCODE_RETURN, "D", os::DIK_RETURN},
        {SDL_SCANCODE_F1, "70", os::DIK_F1}};
    for (const auto& [scancode, vk, dik] : cases) {
        key(scancode, true);
        key(scancode, true, true);
        const std::string down = std::to_string(dik) + " ";
        EXPECT_EQ(pumped(), std::string("down ") + vk + " x1, down " + vk + " x1 repeat, " + down);
        EXPECT_EQ(pumped(), down) << "held, it reads down on every frame";
        key(scancode, false);
        EXPECT_EQ(pumped(), std::string("up ") + vk + " x1, ");
    }
}

// A read into a buffer of the wrong size is refused before a byte of it is written.
TEST_F(keyboard_test, AReadOfAnyOtherSizeThan256WritesNothing) {
    std::uint8_t keys[300];
    for (const std::uint32_t size : {0u, 255u, 257u}) {
        std::memset(keys, 0xAA, sizeof keys);
        EXPECT_EQ(os::keyboard_get_state(keyboard.device, size, keys), os::DIERR_INVALIDPARAM);
        EXPECT_EQ(std::count(keys, keys + sizeof keys, 0xAA), 300) << size;
    }
}

TEST_F(keyboard_test, AltAndF10AreSystemKeysAndAFocusLossLetsEveryKeyGo) {
    key(SDL_SCANCODE_LALT, true);
    key(SDL_SCANCODE_F1, true);
    key(SDL_SCANCODE_F1, false);
    key(SDL_SCANCODE_P, true);
    EXPECT_EQ(pumped(), "sysdown 12 x1, sysdown 70 x1, sysup 70 x1, sysdown 50 x1, 25 56 ");
    // Behind another window nothing reads down, and keys let go of there never stay down.
    focus(SDL_WINDOWEVENT_FOCUS_LOST);
    key(SDL_SCANCODE_DOWN, true);
    EXPECT_EQ(pumped(), "down 28 x1, ");
    focus(SDL_WINDOWEVENT_FOCUS_GAINED);
    key(SDL_SCANCODE_F1, true);
    key(SDL_SCANCODE_F10, true);
    EXPECT_EQ(pumped(), "down 70 x1, sysdown 79 x1, 59 68 208 ");
}

// Controllers plugged in and out through SDL's own events: slots, states and key messages.
class gamepad_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_NO_FATAL_FAILURE(start_with_main_window());
        os::seam::set_focus(main_window->hwnd, true);
        ASSERT_TRUE(os::gamepads_start()); // stopped by the clean slate
    }

    // The key messages the pump made, then slot 0's buttons and stick.
    static std::string pumped() {
        const std::string text = key_messages();
        os::gamepad_state state;
        os::gamepad_get_state(0, state);
        char item[24];
        std::snprintf(item, sizeof item, "%X %d", state.buttons, state.left_thumb_y);
        return text + item;
    }
};

TEST_F(gamepad_test, ButtonsRepeatWhileHeldAndNothingStaysHeldBehindAnotherWindow) {
    const std::uint32_t first = os::seam::attach_virtual_gamepad("first");
    os::seam::attach_virtual_gamepad("second");
    EXPECT_EQ(pumped(), "0 0");
    os::seam::press_virtual_button(first, os::XINPUT_GAMEPAD_DPAD_UP, true);
    os::seam::tilt_virtual_stick(first, -20000);
    EXPECT_EQ(pumped(), "down CB x1, 1 -20000");
    EXPECT_STREQ(os::gamepad_name(1), "second");
    os::seam::advance_clock_ms(os::gamepad_repeat_delay_ms + os::gamepad_repeat_period_ms);
    EXPECT_EQ(pumped(), "down CB x2 repeat, 1 -20000") << "two repeats due, one message";
    // Behind another window: connected, nothing held, no message; back in front, a button held
    // meanwhile reads down but repeats only when pressed anew, and one let go there says nothing.
    os::seam::set_focus(main_window->hwnd, false);
    os::seam::press_virtual_button(first, os::XINPUT_GAMEPAD_START, true);
    os::seam::advance_clock_ms(1000);
    EXPECT_EQ(pumped(), "0 0");
    os::seam::set_focus(main_window->hwnd, true);
    os::seam::advance_clock_ms(1000);
    EXPECT_EQ(pumped(), "11 -20000");
    os::seam::set_focus(main_window->hwnd, false);
    os::seam::press_virtual_button(first, os::XINPUT_GAMEPAD_DPAD_UP, false);
    pumped();
    os::seam::set_focus(main_window->hwnd, true);
    os::seam::advance_clock_ms(1000);
    EXPECT_EQ(pumped(), "10 -20000");
    // Unplugged, its slot empties; the second keeps its own, a third takes the free one.
    os::seam::detach_virtual_gamepad(first);
    os::gamepad_state state;
    EXPECT_EQ(pumped(), "0 0");
    EXPECT_EQ(os::gamepad_get_state(0, state), os::ERROR_DEVICE_NOT_CONNECTED);
    os::seam::attach_virtual_gamepad("third");
    pumped();
    EXPECT_STREQ(os::gamepad_name(0), "third");
    EXPECT_STREQ(os::gamepad_name(1), "second");
}

os::devmode mode(std::uint32_t width, std::uint32_t height, std::uint32_t hz) {
    return {148, 0, 32, width, height, hz};
}

// The driver on the main window.
class driver_test : public window_test {
protected:
    static void fullscreen_at(std::int32_t width, std::int32_t height) {
        main_cvars->set_int("fullscreen", 1);
        main_cvars->set_int("width", width);
        main_cvars->set_int("height", height);
    }

    // The mode chosen among these, as the driver's start logs it: "640x480x16bits [75Hz]".
    static std::string choice_for(const std::vector<os::devmode>& modes) {
        os::seam::use_synthetic_display_modes(modes);
        cdriver starting;
        starting.init();
        starting.release();
        const std::string log = read_log();
        const std::string head = "found " + std::to_string(modes.size()) + " modes and choosed ";
        const std::size_t at = log.rfind(head);
        return at == std::string::npos
                   ? ""
                   : log.substr(at + head.size(), log.find('\n', at) - at - head.size());
    }
};

// Failures on release are only logged; a failing step of the start ends its line and the start.
TEST_F(driver_test, EachFailingStepEndsItsLine) {
    cdriver driver;
    ASSERT_EQ(driver.init(), 1);
    EXPECT_EQ(driver.swap_buffers(), 1);
    for (const char* call : {"gl_make_current", "gl_delete_context", "release_dc", "swap_buffers"})
        os::seam::fail_call(call);
    driver.release();
    EXPECT_EQ(log_from(" (driver) unapplying"),
              " (driver) unapplying OpenGL rendering context : FAILED\n"
              " (driver) deleting OpenGL rendering context : FAILED\n"
              " (driver) deleting Window device context : FAILED\n");
    EXPECT_EQ(driver.swap_buffers(), 0);
    // A start that fails half way gives back what it acquired.
    const int live_before = os::seam::live_gl_objects();
    const char* const steps[][2] = {
        {"choose_pixel_format", " (driver) choosing pixel format : "},
        {"set_pixel_format", " (driver) applying pixel format : "},
        {"gl_make_current", " (driver) applying opengl rendering context : "},
        {"change_display_settings", " (driver) trying to apply the mode : "}};
    for (const auto& step : steps) {
        fullscreen_at(640, 480);
        os::seam::use_synthetic_display_modes({mode(640, 480, 60)});
        os::seam::fail_call(step[0]);
        cdriver failing;
        EXPECT_EQ(failing.init(), 0) << step[0];
        EXPECT_TRUE(read_log().ends_with(std::string(step[1]) + "FAILED\n")) << step[0];
        EXPECT_EQ(os::seam::live_gl_objects(), live_before) << step[0];
    }
}

// Whatever the order of the program's calls, nothing of a destroyed window is used or kept: its
// display mode goes with it (SDL would be handed the freed window by the way back to the
// desktop's mode, which AddressSanitizer builds see), and so does its pixel format.
TEST_F(driver_test, DestroyingTheFullscreenWindowFirstGivesTheDesktopItsModeBack) {
    os::devmode desktop{};
    ASSERT_TRUE(os::enum_display_settings(nullptr, 0, desktop));
    fullscreen_at(static_cast<std::int32_t>(desktop.pels_width),
                  static_cast<std::int32_t>(desktop.pels_height));
    main_window->destroy();
    ASSERT_EQ(main_window->create(), 1); // a window of the desktop's size, to go fullscreen
    cdriver driver;
    ASSERT_EQ(driver.init(), 1);
    os::devmode in_force{};
    ASSERT_TRUE(os::seam::changed_display_mode(in_force));
    EXPECT_EQ(os::seam::pixel_format_records(), 1);
    main_window->destroy();
    EXPECT_FALSE(os::seam::changed_display_mode(in_force)) << "the desktop's mode is back";
    EXPECT_EQ(os::seam::pixel_format_records(), 0);
    driver.release();
}

TEST_F(driver_test, TheFullscreenModeIsTheWantedSizeAtTheBestRateUpTo100Hz) {
    fullscreen_at(640, 480);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(640, 480, 75), mode(640, 480, 120)}),
              "640x480x16bits [75Hz]");
    EXPECT_EQ(choice_for({mode(640, 480, 100), mode(800, 600, 85)}), "640x480x16bits [100Hz]");
    // The hardware's default rate (0 or 1) counts only while nothing better was found.
    EXPECT_EQ(choice_for({mode(640, 480, 0), mode(640, 480, 60), mode(640, 480, 1)}),
              "640x480x16bits [60Hz]");
    EXPECT_EQ(choice_for({mode(640, 480, 1)}), "640x480x16bits [1Hz]");
    fullscreen_at(1024, 768);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(1024, 768, 70), mode(1024, 768, 60)}),
              "1024x768x16bits [70Hz]");
}

// 800x600 at 120 Hz: refused where it would switch the display, taken at the display's default
// rate where the compositor scales the window to its output.
TEST_F(driver_test, AFullscreenModeAbove100HzServesOnlyWhereTheCompositorScales) {
    fullscreen_at(800, 600);
    for (const bool scaled : {false, true}) {
        os::seam::use_synthetic_display_modes({mode(1280, 1024, 60), mode(800, 600, 120)}, scaled);
        cdriver starting;
        EXPECT_EQ(starting.init(), scaled ? 1 : 0);
        const std::string chosen =
            scaled ? "800x600x16bits [0Hz]\n (driver) trying to apply the mode : OK"
                   : "0x0x16bits [0Hz]\n (driver) trying to apply the mode : FAILED";
        EXPECT_NE(read_log().find("found 2 modes and choosed " + chosen + "\n"), std::string::npos);
    }
}

} // namespace
