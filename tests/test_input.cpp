#include "app/log.h"
#include "os/fault.h"
#include "os/keyboard.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/video.h"
#include "os/window.h"
#include "platform/input.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <SDL.h>

#include <cstdio>

namespace {

class input_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        os::seam::set_focus(main_window->hwnd, true);
    }

    std::string input_lines() { return log_from(" (input)"); }

    cinput input;
};

const std::string created = " (input) initializing DirectInput\n"
                            " (input) creating DirectInput Object : OK\n"
                            " (input) creating DirectInput Device : OK\n"
                            " (input) setting DirectInput DataFormat : OK\n"
                            " (input) setting DirectInput CooperativeLevel : OK\n"
                            " (input) trying to acquire : ";
const std::string released = " (input) releasing DirectInput Device\n"
                             " (input) releasing DirectInput Object\n";

TEST_F(input_test, AKeyboardInFrontIsAcquiredAndReleasedInOrder) {
    ASSERT_EQ(input.init(), 1);
    EXPECT_EQ(input.unacquired, 0);
    EXPECT_EQ(input.release(), 1);
    EXPECT_EQ(input_lines(), created + "OK\n (input) releasing DirectInput\n" + released);
    EXPECT_EQ(input.device, 0u);
    EXPECT_EQ(os::seam::live_input_objects(), 0);
}

TEST_F(input_test, EachAcquireResultGetsItsVerdict) {
    struct acquire_case {
        os::hresult result;
        const char* verdict;
        int init, unacquired;
        bool device_kept;
    };
    const acquire_case cases[] = {
        {os::DIERR_OTHERAPPHASPRIO, "WARNING [other has the device]\n", 1, 1, true},
        {os::S_FALSE, "OK\n", 1, 0, true},
        {os::DIERR_NOTINITIALIZED, "FAILED [directInput not initialized]\n", 0, 1, false},
        {os::DIERR_INVALIDPARAM, "FAILED [invalid param]\n", 0, 1, false},
        {os::E_FAIL, "", 0, 1, false},
    };
    for (const auto& c : cases) {
        open_log(); // a fresh log for each case
        cinput keyboard;
        os::seam::fail_call("acquire", c.result);
        EXPECT_EQ(keyboard.init(), c.init) << std::hex << c.result;
        EXPECT_EQ(keyboard.unacquired, c.unacquired) << std::hex << c.result;
        EXPECT_EQ(keyboard.device != 0, c.device_kept) << std::hex << c.result;
        // On a failed acquire the verdict comes first, then the release lines.
        EXPECT_EQ(input_lines(), created + c.verdict + (c.device_kept ? "" : released));
        keyboard.release();
    }
    EXPECT_EQ(os::seam::live_input_objects(), 0);
}

TEST_F(input_test, EarlierFailuresReleaseBeforeTheVerdict) {
    os::seam::fail_call("direct_input_create");
    EXPECT_EQ(input.init(), 0);
    EXPECT_EQ(input_lines(), " (input) initializing DirectInput\n"
                             " (input) creating DirectInput Object : FAILED\n");

    struct step_case {
        const char* call;
        std::string expected;
    };
    const step_case cases[] = {
        {"create_device", " (input) creating DirectInput Device :  (input) releasing "
                          "DirectInput Object\nFAILED\n"},
        {"set_data_format", " (input) setting DirectInput DataFormat : " + released + "FAILED\n"},
        {"set_cooperative_level",
         " (input) setting DirectInput CooperativeLevel : " + released + "FAILED\n"},
    };
    for (const auto& c : cases) {
        cinput keyboard;
        os::seam::fail_call(c.call, os::E_FAIL);
        EXPECT_EQ(keyboard.init(), 0) << c.call;
        const std::string log = read_log();
        ASSERT_GE(log.size(), c.expected.size());
        EXPECT_EQ(log.substr(log.size() - c.expected.size()), c.expected) << c.call;
        EXPECT_EQ(os::seam::live_input_objects(), 0) << c.call;
    }
}

TEST_F(input_test, AHeldKeyReadsDownOnEveryFrame) {
    ASSERT_EQ(input.init(), 1);
    os::seam::press_key(main_window->hwnd, os::DIK_UP);
    os::seam::press_key(main_window->hwnd, os::DIK_LSHIFT);
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(input.read_state(), 1);
        EXPECT_EQ(input.key_down(os::DIK_UP), 128);
        EXPECT_EQ(input.key_down(os::DIK_LSHIFT), 128);
        EXPECT_EQ(input.key_down(os::DIK_DOWN), 0);
    }
    os::seam::release_key(main_window->hwnd, os::DIK_UP);
    input.read_state();
    EXPECT_EQ(input.key_down(os::DIK_UP), 0);
    EXPECT_EQ(input.key_down(os::DIK_LSHIFT), 128);
}

TEST_F(input_test, ASetKeyHoldsUntilTheNextRead) {
    ASSERT_EQ(input.init(), 1);
    os::seam::press_key(main_window->hwnd, os::DIK_SPACE);
    input.read_state();
    EXPECT_EQ(input.set_key(os::DIK_SPACE, 0), 1);
    EXPECT_EQ(input.key_down(os::DIK_SPACE), 0);
    input.read_state();
    EXPECT_EQ(input.key_down(os::DIK_SPACE), 128);
}

TEST_F(input_test, NoKeyStaysDownWhileTheWindowIsBehindAndTheKeyboardComesBack) {
    ASSERT_EQ(input.init(), 1);
    os::seam::press_key(main_window->hwnd, os::DIK_DOWN);
    input.read_state();
    ASSERT_EQ(input.key_down(os::DIK_DOWN), 128);

    os::seam::set_focus(main_window->hwnd, false);
    EXPECT_EQ(input.read_state(), 0) << "lost, and it cannot be acquired behind another window";
    EXPECT_EQ(input.key_down(os::DIK_DOWN), 0);

    os::seam::set_focus(main_window->hwnd, true);
    os::seam::press_key(main_window->hwnd, os::DIK_DOWN);
    EXPECT_EQ(input.read_state(), 1) << "the read acquires again";
    EXPECT_EQ(input.key_down(os::DIK_DOWN), 128);
    EXPECT_EQ(input.unacquired, 0);
}

TEST_F(input_test, AKeyboardBusyAtTheStartIsAcquiredBeforeEveryRead) {
    os::seam::set_focus(main_window->hwnd, false);
    ASSERT_EQ(input.init(), 1);
    EXPECT_EQ(input_lines(), created + "WARNING [other has the device]\n");
    EXPECT_EQ(input.read_state(), 0);
    os::seam::set_focus(main_window->hwnd, true);
    os::seam::press_key(main_window->hwnd, os::DIK_LCONTROL);
    EXPECT_EQ(input.read_state(), 1);
    EXPECT_EQ(input.key_down(os::DIK_LCONTROL), 128);
    EXPECT_EQ(input.unacquired, 1) << "a read never changes how the keyboard started";
}

TEST_F(input_test, WithoutADeviceEveryKeyIsUp) {
    os::seam::fail_call("set_data_format");
    EXPECT_EQ(input.init(), 0);
    input.set_key(os::DIK_UP, 0x80);
    os::seam::press_key(main_window->hwnd, os::DIK_SPACE);
    EXPECT_EQ(input.read_state(), 0);
    EXPECT_EQ(input.key_down(os::DIK_UP), 0);
    EXPECT_EQ(input.key_down(os::DIK_SPACE), 0);
    open_log();
    input.release();
    EXPECT_EQ(input_lines(), " (input) releasing DirectInput\n");
}

} // namespace

namespace {

// SDL's own key and focus events through the OS layer's pump, as a player's keyboard sends them.
class system_keys_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        sdl_id = SDL_GetWindowID(os::detail::sdl_window(main_window->hwnd));
        focus(SDL_WINDOWEVENT_FOCUS_GAINED);
        ASSERT_EQ(keyboard.init(), 1);
    }

    void key(SDL_Scancode scancode, SDL_Keycode sym, bool down, bool repeat = false) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key = {event.type,
                     0,
                     sdl_id,
                     static_cast<Uint8>(down ? SDL_PRESSED : SDL_RELEASED),
                     static_cast<Uint8>(repeat),
                     0,
                     0,
                     {scancode, sym, 0, 0}};
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }
    void focus(SDL_WindowEventID change) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.windowID = sdl_id;
        event.window.event = static_cast<Uint8>(change);
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    // The key messages of the pump, as "down 26 repeat", and the keys the keyboard reads down.
    std::string messages() {
        static const char* const names[] = {"down", "up", "", "", "sysdown", "sysup"};
        std::string text;
        os::msg m;
        while (os::peek_message(m, 0, os::WM_KEYDOWN, os::WM_SYSKEYUP, os::PM_REMOVE))
            text += std::string(text.empty() ? "" : ", ") + names[m.message - os::WM_KEYDOWN] +
                    " " + hex(m.w) + (m.l & 1 << 30 ? " repeat" : "");
        return text;
    }
    std::string keys_down() {
        keyboard.read_state();
        std::string text;
        for (int dik = 0; dik < 256; ++dik)
            if (keyboard.key_down(static_cast<std::uint8_t>(dik)))
                text += (text.empty() ? "" : " ") + hex(static_cast<std::uint32_t>(dik));
        return text;
    }
    static std::string hex(std::uint32_t value) {
        char text[9];
        std::snprintf(text, sizeof text, "%X", value);
        return text;
    }

    Uint32 sdl_id = 0;
    cinput keyboard;
};

TEST_F(system_keys_test, TheGameKeysArriveAsMessagesAndPolledKeys) {
    struct key_case {
        SDL_Scancode scancode;
        SDL_Keycode sym;
        const char *vk, *dik;
    };
    const key_case cases[] = {
        {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, "10", "2A"},
        {SDL_SCANCODE_LCTRL, SDLK_LCTRL, "11", "1D"},
        {SDL_SCANCODE_SPACE, SDLK_SPACE, "20", "39"},
        {SDL_SCANCODE_UP, SDLK_UP, "26", "C8"},
        {SDL_SCANCODE_DOWN, SDLK_DOWN, "28", "D0"},
        {SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, "1B", "1"},
        {SDL_SCANCODE_P, SDLK_p, "50", "19"},
        {SDL_SCANCODE_RETURN, SDLK_RETURN, "D", "1C"},
        {SDL_SCANCODE_F1, SDLK_F1, "70", "3B"},
    };
    for (const auto& c : cases) {
        key(c.scancode, c.sym, true);
        key(c.scancode, c.sym, true, true);
        EXPECT_EQ(messages(), std::string("down ") + c.vk + ", down " + c.vk + " repeat");
        EXPECT_EQ(keys_down(), c.dik) << c.vk;
        key(c.scancode, c.sym, false);
        EXPECT_EQ(messages(), std::string("up ") + c.vk);
        EXPECT_EQ(keys_down(), "") << c.vk;
    }
}

TEST_F(system_keys_test, AltAndF10AreSystemKeysAndTheFocusTakesEveryKeyAlong) {
    key(SDL_SCANCODE_LALT, SDLK_LALT, true);
    key(SDL_SCANCODE_F1, SDLK_F1, true);
    key(SDL_SCANCODE_F1, SDLK_F1, false);
    key(SDL_SCANCODE_P, SDLK_p, true);
    EXPECT_EQ(messages(), "sysdown 12, sysdown 70, sysup 70, sysdown 50");
    EXPECT_EQ(keys_down(), "19 38");
    // Keys released behind another window never come back up: the focus loss lets them go.
    focus(SDL_WINDOWEVENT_FOCUS_LOST);
    focus(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(keys_down(), "");
    key(SDL_SCANCODE_F1, SDLK_F1, true);
    key(SDL_SCANCODE_F10, SDLK_F10, true);
    key(SDL_SCANCODE_F10, SDLK_F10, false);
    EXPECT_EQ(messages(), "down 70, sysdown 79, sysup 79");
}

} // namespace
