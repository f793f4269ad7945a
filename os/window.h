// Windows: classes with their window procedure and icon, creation in a decorated or a
// borderless form, show, place, client size, title and destruction. System events become
// messages of the main thread's queue: WM_KEYDOWN (with auto-repeat), WM_SYSKEYDOWN for Alt,
// keys held with it and F10, their key-ups, and WM_CLOSE.
#pragma once

#include "os/messages.h"
#include "os/types.h"

#include <cstdint>
#include <initializer_list>

namespace os {

// Window styles, with their customary values.
constexpr std::uint32_t WS_OVERLAPPED = 0x00000000;
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_CLIPSIBLINGS = 0x04000000;
constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000;
constexpr std::uint32_t WS_MAXIMIZE = 0x01000000;
constexpr std::uint32_t WS_SYSMENU = 0x00080000;
constexpr std::uint32_t WS_THICKFRAME = 0x00040000;
constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;
constexpr std::uint32_t WS_MAXIMIZEBOX = 0x00010000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
constexpr int SW_SHOWNORMAL = 1;
constexpr hwnd HWND_TOPMOST = 0xFFFFFFFF;
constexpr std::uint32_t SWP_SHOWWINDOW = 0x0040;
constexpr std::uint32_t COLOR_MENU = 4;
constexpr std::uint32_t IDC_ARROW = 32512;

using atom = std::uint16_t;

struct window_class {
    std::uint32_t size;
    std::uint32_t style;
    window_proc procedure;
    int class_extra;
    int window_extra;
    hinstance instance;
    handle icon;
    handle cursor;
    std::uint32_t background; // a system colour index plus one
    const char* menu_name;
    const char* class_name;
    handle small_icon;
};

struct rect {
    int left, top, right, bottom;
};

// The name desktops know the program by (its reverse-DNS id, as its desktop entry's file name and
// StartupWMClass give it): the X11 class (WM_CLASS) and the Wayland app id of its windows, so
// that a dock groups them with the program's launcher and shows its icon. Takes effect when the
// system's video next starts; call it before the first window. A class the user's environment
// names (SDL_VIDEO_X11_WMCLASS, SDL_VIDEO_WAYLAND_WMCLASS) stays.
void set_application_id(const char* id);

// The program's own icons, as its resources hold them: R, G, B, A bytes, top row first.
void add_icon_resource(int id, int width, int height, const std::uint8_t* rgba);
// An icon of the program's resources; 0 when it has none with that id.
handle load_icon(hinstance instance, int id);
handle load_cursor(hinstance instance, std::uint32_t id);

// 0 on failure, for instance when a class of that name exists already.
atom register_class(const window_class& wc);
bool unregister_class(const char* class_name, hinstance instance);

// 0 on failure: unknown class, no display. The window's client area is width x height.
// last_window_failure tells why.
hwnd create_window(std::uint32_t ex_style, const char* class_name, const char* title,
                   std::uint32_t style, int x, int y, int width, int height, hwnd parent,
                   handle menu, hinstance instance, void* param);
enum class window_failure {
    none,       // the last create_window succeeded
    no_display, // the system's video could not start: no display to show a window on
    other,
};
// Why the last create_window call failed.
window_failure last_window_failure();
// Safe while one of the window's own messages is being dispatched; its waiting messages go.
bool destroy_window(hwnd window);
bool show_window(hwnd window, int command);
bool update_window(hwnd window);
bool set_window_pos(hwnd window, hwnd insert_after, int x, int y, int width, int height,
                    std::uint32_t flags);
// The drawable area in pixels, from 0, 0.
bool get_client_rect(hwnd window, rect& out);
bool set_window_text(hwnd window, const char* text);
// The window's title; "" for no window.
const char* window_text(hwnd window);
// The window of ours that has the keyboard focus; 0 while another program's window has it.
hwnd get_foreground_window();
// The default treatment of a message the window procedure does not handle itself.
lresult def_window_proc(hwnd window, std::uint32_t message, wparam w, lparam l);

// The program's last word when its display goes away (the X server or the Wayland compositor
// ended): it runs once, on the thread that noticed, and returns the exit status. It must not use
// a window, OpenGL or the display: right after it the process ends with that status, without
// exit handlers or static destructors, since other threads still run. Without one the process
// ends with status 1 and a line on standard error.
using display_lost_handler = int (*)();
void on_display_lost(display_lost_handler handler);

} // namespace os

namespace os::seam {

// Input as the system would deliver it: the key message with its virtual-key code (and the
// auto-repeat flag), the polled state of the key's scan code, a close request, focus changes.
// Once a test has set a window's focus, the system's focus changes for it are ignored.
void press_key(hwnd window, std::uint8_t dik, bool repeat = false);
void release_key(hwnd window, std::uint8_t dik);
void request_close(hwnd window);
void set_focus(hwnd window, bool focused);
// From now on the keys the system holds down are these (scan codes below 0x80), not the X
// server's: a key held through a focus change. ask_system_for_held_keys gives the server its
// word back; so does reset_video.
void hold_keys_in_system(std::initializer_list<std::uint8_t> diks);
void ask_system_for_held_keys();
// From now on every new window has the focus by a test's word (whole runs of the program that
// must not depend on which window the X server focuses while other tests run beside them).
void focus_new_windows(bool focused);
// Destroys every window, class, rendering context, keyboard device and game controller (virtual
// ones unplugged) a test left behind, and goes back to the real display modes: a clean slate
// for the next test.
void reset_video();
// Runs the program's last word for a lost display and returns its exit status, where a real
// loss would end the process with it.
int lose_display();

} // namespace os::seam
