// Which keys the system holds down, asked of the X server itself. SDL forgets every key when a
// window of ours loses the focus or goes (a video restart), and tells of a key held through it
// as of a new press at its next auto-repeat; a key let go before SDL knew it as held is never
// told of at all. The window part asks here instead (os/window.cpp).
#include "os/video.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// Set by a test: the system's keys, as the X server would report them.
bool held_by_test = false;
std::bitset<os::detail::system_keys> keys_by_test;

// X servers on Linux number their keys as the kernel does, plus 8, and the kernel numbers the
// keys of the main block as the PC's scan codes: there, a DirectInput scan code below 0x80 plus
// 8 is the X key code. Escape, at 9, tells whether this server numbers them so.
constexpr int x_code_offset = 8;

bool x_keys_held(SDL_Window* window, std::bitset<os::detail::system_keys>& held) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    Display* display = info.info.x11.display;
    if (XKeysymToKeycode(display, XK_Escape) != 1 + x_code_offset)
        return false;
    char map[32];
    XQueryKeymap(display, map);
    for (std::size_t dik = 1; dik < held.size(); ++dik) {
        const std::size_t code = dik + x_code_offset;
        held[dik] = (map[code / 8] >> (code % 8)) & 1;
    }
    return true;
}

} // namespace

namespace os::detail {

bool keys_held_by_system(SDL_Window* window, std::bitset<system_keys>& held) {
    if (held_by_test) {
        held = keys_by_test;
        return true;
    }
    return x_keys_held(window, held);
}

} // namespace os::detail

namespace os::seam {

void hold_keys_in_system(std::initializer_list<std::uint8_t> diks) {
    held_by_test = true;
    keys_by_test.reset();
    for (const std::uint8_t dik : diks)
        if (dik < keys_by_test.size())
            keys_by_test[dik] = true;
}

void ask_system_for_held_keys() { held_by_test = false; }

} // namespace os::seam
