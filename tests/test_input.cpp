#include "os/fault.h"
#include "os/keyboard.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/video.h"
#include "platform/input.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <SDL.h>

#include <tuple>

namespace {

// The keyboard of a window in front, fed with SDL's own key and focus events through the OS
// layer's pump, as a player's keyboard sends them.
class keyboard_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
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

    // What the pump makes of the events: key messages as "down 26 repeat", the scan codes down.
    std::string pumped() {
        static const char* const names[] = {"down", "up", "", "", "sysdown", "sysup"};
        std::string text;
        os::msg m;
        char item[32];
        while (os::peek_message(m, 0, os::WM_KEYDOWN, os::WM_SYSKEYUP, os::PM_REMOVE)) {
            std::snprintf(item, sizeof item, "%s %X%s, ", names[m.message - os::WM_KEYDOWN],
                          static_cast<unsigned>(m.w), m.l & 1 << 30 ? " repeat" : "");
            text += item;
        }
        keyboard.read_state();
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
        EXPECT_EQ(keyboard.read_state() + keyboard.key_down(os::DIK_UP), init) << call;
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
        EXPECT_EQ(pumped(), std::string("down ") + vk + ", down " + vk + " repeat, " + down);
        EXPECT_EQ(pumped(), down) << "held, it reads down on every frame";
        key(scancode, false);
        EXPECT_EQ(pumped(), std::string("up ") + vk + ", ");
    }
}

TEST_F(keyboard_test, AltAndF10AreSystemKeysAndAFocusLossLetsEveryKeyGo) {
    key(SDL_SCANCODE_LALT, true);
    key(SDL_SCANCODE_F1, true);
    key(SDL_SCANCODE_F1, false);
    key(SDL_SCANCODE_P, true);
    EXPECT_EQ(pumped(), "sysdown 12, sysdown 70, sysup 70, sysdown 50, 25 56 ");
    // Behind another window nothing reads down, and keys let go of there never stay down.
    focus(SDL_WINDOWEVENT_FOCUS_LOST);
    key(SDL_SCANCODE_DOWN, true);
    EXPECT_EQ(pumped(), "down 28, ");
    focus(SDL_WINDOWEVENT_FOCUS_GAINED);
    key(SDL_SCANCODE_F1, true);
    key(SDL_SCANCODE_F10, true);
    EXPECT_EQ(pumped(), "down 70, sysdown 79, 59 68 208 ");
}

} // namespace
