#include "os/window.h"

#include "os/fault.h"
#include "os/keymap.h"
#include "os/keys.h"
#include "os/video.h"

#include <bitset>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct class_record {
    std::string name;
    os::window_proc procedure;
    os::hinstance instance;
    os::handle icon;
};

struct icon_record {
    int width, height;
    std::vector<std::uint8_t> pixels;
};

struct window_record {
    SDL_Window* window;
    std::string title;
    bool focused;
    bool focus_by_test; // a test decides the focus; the system's word no longer counts
};

// Everything here lives on the main thread, the only one that makes windows.
std::vector<class_record> classes;
std::map<int, icon_record> icons;
std::map<os::hwnd, window_record> windows;
os::hwnd last_window = 0x00010000;
os::atom last_atom = 0xC000;
std::uint8_t polled_keys[256];
// Keys the system held down when a window of ours took the focus, and that SDL has not told of
// since: SDL forgot them at the focus change (a video restart makes one), and tells of their next
// auto-repeat as of a new press. That key-down is marked as a repeat, as the system's own key
// state would have it; the pump asks the system every frame whether they are still down, since
// SDL does not tell of a key let go that it did not know as held.
std::bitset<os::detail::system_keys> held_through_focus;
// The keys down when the window that had the focus was destroyed: only those can be held through
// to the next window. A key that is down when the next window takes the focus, but was not then,
// is a new press that SDL is about to tell of.
std::bitset<os::detail::system_keys> down_at_destroy;
bool video_up = false;
bool focus_new_windows_by_test = false;
os::window_failure last_failure = os::window_failure::none;
// SDL 2.26's Wayland driver frees a window while its client-side decorations (libdecor) still
// hold it, and their next event crashes the program; and a hidden window is never shown again
// by weston. There a destroyed window's system window stays as it is, and the next window
// created takes it up (a video restart makes one at once).
std::vector<SDL_Window*> spare_windows;

constexpr os::handle icon_handle_base = 0x00020000;
constexpr os::handle arrow_cursor = 0x00030001;

window_record* find_window(os::hwnd window) {
    const auto found = windows.find(window);
    return found == windows.end() ? nullptr : &found->second;
}

const class_record* find_class(const char* name) {
    for (const auto& c : classes)
        if (c.name == name)
            return &c;
    return nullptr;
}

os::hwnd window_of_sdl_id(std::uint32_t id) {
    for (const auto& [handle, record] : windows)
        if (SDL_GetWindowID(record.window) == id)
            return handle;
    return 0;
}

// The window a key belongs to. Right after a window takes the focus SDL may not name it yet
// (its X11 driver confirms a focus change a little later): the newest window is the one in front.
os::hwnd key_window(std::uint32_t sdl_id) {
    const os::hwnd named = window_of_sdl_id(sdl_id);
    return named != 0 || windows.empty() ? named : windows.rbegin()->first;
}

bool held(std::uint8_t dik) { return (polled_keys[dik] & 0x80) != 0; }

// The flags of a key message's lparam: repeat count, scan code, extended key, Alt held,
// previous state.
os::lparam key_flags(std::uint8_t dik, bool alt, bool repeat) {
    return static_cast<os::lparam>(1u | (dik & 0x7Fu) << 16 | (dik & 0x80u ? 1u << 24 : 0u) |
                                   (alt ? 1u << 29 : 0u) | (repeat ? 1u << 30 : 0u));
}

void key_event(os::hwnd window, std::uint8_t dik, std::uint32_t vk, bool down, bool repeat) {
    if (dik < held_through_focus.size()) {
        repeat = repeat || held_through_focus[dik];
        held_through_focus[dik] = false; // SDL knows of it from now on
    }
    if (down && dik != 0)
        polled_keys[dik] = 0x80;
    // Alt itself, keys pressed while it is held and F10 are system keys, left to the default
    // treatment. Not with Ctrl held too: Ctrl+Alt is AltGr, which types characters.
    const bool alt = held(os::DIK_LMENU) || held(os::DIK_RMENU);
    const bool ctrl = held(os::DIK_LCONTROL) || held(os::DIK_RCONTROL);
    const bool system = dik == os::DIK_F10 || (alt && !ctrl);
    if (!down && dik != 0)
        polled_keys[dik] = 0x00;
    if (vk == 0 || window == 0)
        return;
    const std::uint32_t message = system ? (down ? os::WM_SYSKEYDOWN : os::WM_SYSKEYUP)
                                         : (down ? os::WM_KEYDOWN : os::WM_KEYUP);
    os::post_message(window, message, vk, key_flags(dik, alt, repeat && down));
}

// A window of ours takes the focus (null: none has it).
void note_keys_held_at_focus(SDL_Window* focused) {
    held_through_focus.reset();
    if (focused && os::detail::keys_held_by_system(focused, held_through_focus))
        held_through_focus &= down_at_destroy;
    down_at_destroy.reset();
}

void focus_event(os::hwnd window, bool focused, bool from_test = false) {
    window_record* record = find_window(window);
    if (!record || (record->focus_by_test && !from_test))
        return;
    record->focus_by_test = record->focus_by_test || from_test;
    record->focused = focused;
    // Keys released while another window has the focus never reach us: forget them all.
    if (!focused)
        std::memset(polled_keys, 0, sizeof polled_keys);
    note_keys_held_at_focus(focused ? record->window : nullptr);
    os::detail::keyboard_focus_changed(window, focused);
    os::detail::gamepad_focus_changed(focused);
}

void translate_event(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const SDL_Keysym& key = event.key.keysym;
        key_event(key_window(event.key.windowID), os::detail::dik_from_scancode(key.scancode),
                  os::detail::vk_from_key(key.scancode, key.sym), event.type == SDL_KEYDOWN,
                  event.key.repeat != 0);
        break;
    }
    case SDL_WINDOWEVENT: {
        const os::hwnd window = window_of_sdl_id(event.window.windowID);
        if (event.window.event == SDL_WINDOWEVENT_CLOSE && window != 0)
            os::post_message(window, os::WM_CLOSE, 0, 0);
        else if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED)
            focus_event(window, true);
        else if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
            focus_event(window, false);
        break;
    }
    default:
        // The controllers' events are theirs. SDL's own quit request follows the last window's
        // close request (the close is enough), or a failed connection to the compositor (which
        // the pump looks at itself).
        os::detail::gamepad_event(event);
        break;
    }
}

// Showing a window activates it, as the players expect of a window that has just opened: a
// window manager would give it the focus, and where there is none (a bare X server) we take it.
void activate(SDL_Window* window) {
    SDL_RaiseWindow(window);
    if (os::detail::video_driver_is("x11"))
        SDL_SetWindowInputFocus(window);
}

Uint32 sdl_window_flags(std::uint32_t style) {
    Uint32 flags = SDL_WINDOW_OPENGL;
    flags |= (style & os::WS_POPUP) ? SDL_WINDOW_BORDERLESS : 0;
    flags |= (style & os::WS_THICKFRAME) ? SDL_WINDOW_RESIZABLE : 0;
    flags |= (style & os::WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    return flags;
}

void apply_icon(SDL_Window* window, os::handle icon) {
    const auto found = icons.find(static_cast<int>(icon - icon_handle_base));
    if (icon < icon_handle_base || found == icons.end())
        return;
    icon_record& image = found->second;
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormatFrom(image.pixels.data(), image.width, image.height, 32,
                                           image.width * 4, SDL_PIXELFORMAT_RGBA32);
    if (!surface)
        return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

// Whether the compositor has answered all that was asked about the spare window to be taken
// next; it has nothing to answer when there is none. A late answer to the way out of fullscreen
// would undo the new size, and a compositor that no longer answers gets no new window.
bool spare_window_settled() {
    return spare_windows.empty() || os::detail::wait_for_compositor(spare_windows.back());
}

// A spare system window made over into a new one; null for none. It stays on the screen, so a
// window created hidden shows at once.
SDL_Window* take_spare_window(const char* title, int width, int height, Uint32 flags) {
    if (spare_windows.empty())
        return nullptr;
    SDL_Window* window = spare_windows.back();
    spare_windows.pop_back();
    SDL_SetWindowTitle(window, title);
    SDL_SetWindowBordered(window, (flags & SDL_WINDOW_BORDERLESS) ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowAlwaysOnTop(window, SDL_FALSE);
    // The decorations hold a window that cannot be resized at its size: it takes its new size
    // while it can.
    SDL_SetWindowResizable(window, SDL_TRUE);
    SDL_SetWindowSize(window, width, height);
    SDL_SetWindowResizable(window, (flags & SDL_WINDOW_RESIZABLE) ? SDL_TRUE : SDL_FALSE);
    return window;
}

void destroy_system_window(SDL_Window* window) {
    if (os::detail::video_driver_is("wayland"))
        spare_windows.push_back(window);
    else
        SDL_DestroyWindow(window);
}

// Whether a comma-separated list of SDL video drivers names this one (SDL ignores case there).
bool names_driver(const char* list, const char* driver) {
    std::string_view rest = list ? list : "";
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        if (SDL_strcasecmp(std::string(rest.substr(0, comma)).c_str(), driver) == 0)
            return true;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return false;
}

// Without a display SDL falls back on a driver that draws nowhere: a game nobody sees. Such a
// driver counts only when SDL_VIDEODRIVER asks for it by name.
bool display_is_invisible() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0))
        return false;
    return !names_driver(SDL_GetHint(SDL_HINT_VIDEODRIVER), driver);
}

// In a Wayland session SDL would take XWayland, whose only display mode is the desktop's own;
// its Wayland driver offers every size, scaled by the compositor. That driver is chosen when the
// compositor can hold it, and X11 alone otherwise (SDL would still try Wayland without a
// display, and crash on a compositor without a seat). SDL_VIDEODRIVER, when set, decides.
void choose_video_driver() {
    const char* session = SDL_getenv("WAYLAND_DISPLAY");
    if (SDL_GetHint(SDL_HINT_VIDEODRIVER) || !session || !*session)
        return;
    SDL_SetHint(SDL_HINT_VIDEODRIVER,
                os::detail::wayland_compositor_usable() ? "wayland,x11" : "x11");
}

bool start_video() {
    // Our own interrupt handling turns Ctrl+C into an orderly quit; SDL must not take it over.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    choose_video_driver();
    const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!started || display_is_invisible()) {
        if (started)
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    // 16-bit colour and depth, double-buffered: a minimum, the system may give more.
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    video_up = true;
    return true;
}

} // namespace

namespace os {

void set_application_id(const char* id) {
    // SDL 2.26 reads both from the environment, not from its hints, as its video starts: the
    // Wayland driver falls back on the X11 name.
    SDL_setenv("SDL_VIDEO_X11_WMCLASS", id, 0);
    SDL_setenv("SDL_VIDEO_WAYLAND_WMCLASS", id, 0);
}

void add_icon_resource(int id, int width, int height, const std::uint8_t* rgba) {
    icons[id] = {width, height, std::vector<std::uint8_t>(rgba, rgba + width * height * 4)};
}

handle load_icon(hinstance, int id) {
    return icons.count(id) ? icon_handle_base + static_cast<handle>(id) : 0;
}

handle load_cursor(hinstance, std::uint32_t id) { return id == IDC_ARROW ? arrow_cursor : 0; }

atom register_class(const window_class& wc) {
    if (detail::injected_fault("register_class") || !wc.class_name || !wc.procedure ||
        find_class(wc.class_name))
        return 0;
    classes.push_back({wc.class_name, wc.procedure, wc.instance, wc.icon});
    return ++last_atom;
}

bool unregister_class(const char* class_name, hinstance) {
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        if (it->name == class_name) {
            classes.erase(it);
            return true;
        }
    }
    return false;
}

hwnd create_window(std::uint32_t, const char* class_name, const char* title, std::uint32_t style,
                   int x, int y, int width, int height, hwnd, handle, hinstance, void*) {
    last_failure = window_failure::other;
    const class_record* wc = find_class(class_name);
    if (!wc || detail::injected_fault("create_window"))
        return 0;
    if (!detail::ensure_video()) {
        last_failure = window_failure::no_display;
        return 0;
    }
    if (!spare_window_settled())
        return 0;
    const int left = x == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
    const int top = y == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
    const Uint32 flags = sdl_window_flags(style);
    SDL_Window* window = take_spare_window(title ? title : "", width, height, flags);
    if (!window)
        window = SDL_CreateWindow(title ? title : "", left, top, width, height, flags);
    if (!window)
        return 0;
    detail::watch_display(window);
    apply_icon(window, wc->icon);
    const hwnd handle = ++last_window;
    // A test may decree that new windows have the focus, whatever the X server says. A system
    // window taken up again keeps the focus it has, of which no new word will come.
    const bool focused =
        focus_new_windows_by_test || (SDL_GetWindowFlags(window) & SDL_WINDOW_INPUT_FOCUS) != 0;
    windows[handle] = {window, title ? title : "", focused, focus_new_windows_by_test};
    if (focused)
        note_keys_held_at_focus(window);
    detail::bind_window(handle, wc->procedure);
    last_failure = window_failure::none;
    return handle;
}

window_failure last_window_failure() { return last_failure; }

bool destroy_window(hwnd window) {
    window_record* record = find_window(window);
    if (!record || detail::injected_fault("destroy_window"))
        return false;
    SDL_Window* sdl = record->window;
    if (record->focused)
        for (std::size_t dik = 0; dik < down_at_destroy.size(); ++dik)
            down_at_destroy[dik] = held(static_cast<std::uint8_t>(dik));
    // The procedure hears of it first, while the window still exists.
    const msg destroyed{window, WM_DESTROY, 0, 0, 0};
    dispatch_message(destroyed);
    detail::unbind_window(window);
    detail::forget_window_gl(window, sdl);
    windows.erase(window);
    destroy_system_window(sdl);
    return true;
}

bool show_window(hwnd window, int) {
    window_record* record = find_window(window);
    if (!record)
        return false;
    SDL_ShowWindow(record->window);
    activate(record->window);
    return true;
}

bool update_window(hwnd window) { return find_window(window) != nullptr; }

bool set_window_pos(hwnd window, hwnd insert_after, int x, int y, int width, int height,
                    std::uint32_t flags) {
    window_record* record = find_window(window);
    if (!record)
        return false;
    SDL_SetWindowPosition(record->window, x, y);
    SDL_SetWindowSize(record->window, width, height);
    if (insert_after == HWND_TOPMOST)
        SDL_SetWindowAlwaysOnTop(record->window, SDL_TRUE);
    if (flags & SWP_SHOWWINDOW) {
        SDL_ShowWindow(record->window);
        activate(record->window);
    }
    return true;
}

bool get_client_rect(hwnd window, rect& out) {
    out = {0, 0, 0, 0};
    window_record* record = find_window(window);
    if (!record)
        return false;
    SDL_GL_GetDrawableSize(record->window, &out.right, &out.bottom);
    return true;
}

bool set_window_text(hwnd window, const char* text) {
    window_record* record = find_window(window);
    if (!record)
        return false;
    record->title = text ? text : "";
    SDL_SetWindowTitle(record->window, record->title.c_str());
    return true;
}

const char* window_text(hwnd window) {
    const window_record* record = find_window(window);
    return record ? record->title.c_str() : "";
}

hwnd get_foreground_window() { return detail::focused_window(); }

lresult def_window_proc(hwnd window, std::uint32_t message, wparam, lparam) {
    if (message == WM_CLOSE)
        destroy_window(window);
    return 0;
}

} // namespace os

namespace os::detail {

bool video_driver_is(const char* name) {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && SDL_strcmp(driver, name) == 0;
}

bool ensure_video() {
    if (!video_up && !start_video())
        return false;
    set_event_pump(pump_system_events);
    return true;
}

SDL_Window* sdl_window(hwnd window) {
    const window_record* record = find_window(window);
    return record ? record->window : nullptr;
}

SDL_Window* fullscreen_candidate() {
    // Handles only grow, so the last borderless one in the map is the newest.
    SDL_Window* newest = nullptr;
    for (const auto& [handle, record] : windows)
        if (SDL_GetWindowFlags(record.window) & SDL_WINDOW_BORDERLESS)
            newest = record.window;
    return newest;
}

void pump_system_events() {
    if (!video_up)
        return;
    // Any of SDL's pumps may find the display gone; the one after it must not run.
    SDL_Event event;
    for (;;) {
        end_if_display_lost();
        if (!SDL_PollEvent(&event))
            break;
        translate_event(event);
    }
    if (held_through_focus.any()) {
        std::bitset<system_keys> held;
        const window_record* front = find_window(focused_window());
        if (front && keys_held_by_system(front->window, held))
            held_through_focus &= held;
        else
            held_through_focus.reset();
    }
    repeat_gamepad_keys();
}

void copy_polled_keys(std::uint8_t keys[256]) { std::memcpy(keys, polled_keys, 256); }

bool window_has_focus(hwnd window) {
    const window_record* record = find_window(window);
    return record && record->focused;
}

hwnd focused_window() {
    for (const auto& [handle, record] : windows)
        if (record.focused)
            return handle;
    return 0;
}

} // namespace os::detail

namespace os::seam {

void press_key(hwnd window, std::uint8_t dik, bool repeat) {
    key_event(window, dik, vk_from_dik(dik), true, repeat);
}

void release_key(hwnd window, std::uint8_t dik) {
    key_event(window, dik, vk_from_dik(dik), false, false);
}

void request_close(hwnd window) { post_message(window, WM_CLOSE, 0, 0); }

void set_focus(hwnd window, bool focused) { focus_event(window, focused, true); }

void focus_new_windows(bool focused) { focus_new_windows_by_test = focused; }

void reset_video() {
    focus_new_windows_by_test = false;
    held_through_focus.reset();
    down_at_destroy.reset();
    ask_system_for_held_keys();
    detail::drop_gl_objects();
    detail::drop_input_objects();
    detail::drop_gamepads();
    while (!windows.empty()) {
        const hwnd window = windows.begin()->first;
        detail::unbind_window(window);
        SDL_DestroyWindow(windows.begin()->second.window);
        windows.erase(windows.begin());
    }
    for (SDL_Window* spare : spare_windows)
        SDL_DestroyWindow(spare);
    spare_windows.clear();
    classes.clear();
    std::memset(polled_keys, 0, sizeof polled_keys);
}

} // namespace os::seam
