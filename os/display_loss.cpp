// A display that goes away under the game: the X server or the Wayland compositor ends (a
// desktop session closed, a crash). Xlib's own answer is exit() from inside the call that found
// the connection gone, whose exit handlers and static destructors then run while the sound
// threads and SDL still use what they free. On SDL's Wayland driver the pump that finds the
// connection broken sends a quit, and the next one never returns: libdecor's dispatch loops
// forever on a failed connection that still holds events. Here the loss ends the process at
// once, after the program's last word, and nothing touches the display again.
#include "os/video.h"
#include "os/window.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <wayland-client.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<os::display_lost_handler> program_handler{nullptr};
// Set by the first thread to notice: the loss is answered once.
std::atomic_flag answered = ATOMIC_FLAG_INIT;
// SDL's connection to the compositor on the Wayland driver, once a window showed it.
std::atomic<wl_display*> wayland_connection{nullptr};

// The program's last word, or the layer's own when it gave none: a loss is never silent.
int last_word() {
    if (const os::display_lost_handler handler = program_handler.load())
        return handler();
    std::fputs("the display went away\n", stderr);
    return 1;
}

[[noreturn]] void end_process() {
    if (answered.test_and_set()) {
        for (;;) // another thread is answering, and ends the process
            pause();
    }
    _exit(last_word());
}

// Xlib calls it on the thread whose call found the connection broken, the display unlocked. It
// never returns, so neither Xlib's exit nor a call on the dead connection comes after it.
int on_x_connection_lost(Display*) { end_process(); }

} // namespace

namespace os {

void on_display_lost(display_lost_handler handler) { program_handler.store(handler); }

} // namespace os

namespace os::detail {

void watch_display(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info))
        return;
    if (info.subsystem == SDL_SYSWM_X11)
        XSetIOErrorHandler(on_x_connection_lost); // for every display of the process
    else if (info.subsystem == SDL_SYSWM_WAYLAND)
        wayland_connection.store(info.info.wl.display);
}

void end_if_display_lost() {
    wl_display* connection = wayland_connection.load();
    if (connection && wl_display_get_error(connection) != 0)
        end_process();
}

} // namespace os::detail

namespace os::seam {

int lose_display() { return last_word(); }

} // namespace os::seam
