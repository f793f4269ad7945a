#include "platform/window.h"

#include "base/log.h"
#include "base/loop_request.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/keys.h"
#include "os/window.h"
#include "platform/gamepad.h"
#include "platform/input.h"

#include <cerrno>
#include <cstdio>

namespace {

// Borderless, covering the display mode the driver switches to.
constexpr std::uint32_t fullscreen_style =
    os::WS_POPUP | os::WS_MAXIMIZE | os::WS_CLIPSIBLINGS | os::WS_CLIPCHILDREN;
// Movable and minimisable, neither resizable nor maximisable.
constexpr std::uint32_t windowed_style = os::WS_OVERLAPPED | os::WS_SYSMENU | os::WS_MINIMIZEBOX |
                                         os::WS_VISIBLE | os::WS_CLIPSIBLINGS | os::WS_CLIPCHILDREN;
constexpr std::uint32_t vk_p = 'P';

cvar_handle hwnd_setting("hwnd"); // read at every frame, for the focus

// The class's window procedure: the one place that hears the keys.
os::lresult window_proc(os::hwnd window, std::uint32_t message, os::wparam w, os::lparam l);

os::window_class main_class(const char* class_name) {
    const os::hinstance instance = program_instance();
    return {48,
            0,
            window_proc,
            0,
            0,
            instance,
            os::load_icon(instance, main_icon_id),
            os::load_cursor(0, os::IDC_ARROW),
            os::COLOR_MENU + 1,
            nullptr,
            class_name,
            0};
}

void toggle_fullscreen() {
    loop_request = loop_vid_restart;
    main_cvars->set_int("fullscreen", main_cvars->get_int("fullscreen") == 0 ? 1 : 0);
}

} // namespace

// F1, ESCAPE and P act once per press: a held key's auto-repeats (`repeat`) switch no screen mode
// and toggle no pause. The menu's keys repeat as they always did.
os::lresult key_down(std::uint32_t vk, bool repeat) {
    if (main_seating.hear_key(vk, repeat))
        return 1;
    if (vk == os::VK_F1 && !repeat)
        toggle_fullscreen(); // and the key goes on, to the menu too
    if (!main_game)
        return 1;
    if (main_game->state == game_menu) {
        // The menu's apply action may destroy this very window: nothing of it is used after.
        return main_menu ? main_menu->handle_key(vk) : 1;
    }
    if (repeat)
        return 1;
    if (vk == os::VK_ESCAPE && main_menu)
        main_game->open_menu(*main_menu);
    else if (vk == vk_p)
        main_game->toggle_pause();
    return 1;
}

os::hinstance program_instance() {
    return static_cast<os::hinstance>(main_cvars->get_int("instance"));
}

os::hwnd main_hwnd() { return static_cast<os::hwnd>(hwnd_setting.value()); }

int cwindow::create() {
    const std::int32_t fullscreen = main_cvars->get_int("fullscreen");
    width = main_cvars->get_int("width");
    height = main_cvars->get_int("height");
    name = main_cvars->get_string("windowname");

    log_printf(main_log, " (window) registring class : ");
    if (!os::register_class(main_class(class_name))) {
        log_printf(main_log, "FAILED\n");
        return 0;
    }
    log_printf(main_log, "OK\n");

    log_printf(main_log, " (window) creating main window : ");
    hwnd = os::create_window(0, class_name, name, fullscreen ? fullscreen_style : windowed_style,
                             os::CW_USEDEFAULT, os::CW_USEDEFAULT, width, height, 0, 0,
                             program_instance(), nullptr);
    if (!hwnd) {
        log_printf(main_log, "FAILED\n");
        // The log holds the failure; a player at a terminal looks there first.
        if (os::last_window_failure() == os::window_failure::no_display)
            std::fprintf(stderr, "%s: no display available (is DISPLAY set?)\n",
                         program_invocation_short_name);
        return 0;
    }
    log_printf(main_log, "OK\n");

    os::rect client;
    os::get_client_rect(hwnd, client);
    main_cvars->register_int("hwnd", static_cast<std::int32_t>(hwnd));
    main_cvars->register_int("clwidth", fullscreen ? width : client.right - client.left);
    main_cvars->register_int("clheight", fullscreen ? height : client.bottom - client.top);

    os::show_window(hwnd, os::SW_SHOWNORMAL);
    os::update_window(hwnd);
    if (fullscreen)
        os::set_window_pos(hwnd, os::HWND_TOPMOST, 0, 0, width, height, os::SWP_SHOWWINDOW);
    return 1;
}

void cwindow::destroy() {
    if (hwnd) {
        log_printf(main_log, " (window) deleting main window : ");
        log_printf(main_log, os::destroy_window(hwnd) ? "OK\n" : "FAILED\n");
        os::unregister_class(class_name, program_instance());
    }
    width = 0;
    height = 0;
    hwnd = 0;
    name = nullptr;
}

namespace {

os::lresult window_proc(os::hwnd window, std::uint32_t message, os::wparam w, os::lparam l) {
    switch (message) {
    case os::WM_CLOSE:
        // The window stays until the shut-down destroys it.
        log_printf(main_log, " (window) close message received\n");
        loop_request = loop_quit;
        os::post_quit_message(0);
        return 1;
    case os::WM_KEYDOWN:
        // A controller's buttons act as the keys they stand for. Bit 30: the key was already down.
        return key_down(keyboard_key_of(static_cast<std::uint32_t>(w)), (l & (1u << 30)) != 0);
    default:
        return os::def_window_proc(window, message, w, l);
    }
}

} // namespace
