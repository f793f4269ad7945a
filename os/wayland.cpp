// Words with the Wayland compositor beside SDL: a look at it before SDL's Wayland driver is
// trusted with it (SDL 2.26 crashes at start-up on a compositor without a seat), and a
// roundtrip on SDL's own connection. Neither waits longer than our patience for an answer, nor
// after an interrupt.
#include "os/clock.h"
#include "os/process.h"
#include "os/video.h"

#include <SDL_syswm.h>
#include <wayland-client.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct offered_globals {
    bool compositor, shell, seat;
};

void on_global(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    auto* offered = static_cast<offered_globals*>(data);
    offered->compositor |= std::strcmp(interface, "wl_compositor") == 0;
    offered->shell |= std::strcmp(interface, "xdg_wm_base") == 0;
    offered->seat |= std::strcmp(interface, "wl_seat") == 0;
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener registry_listener{on_global, on_global_remove};

void on_sync_done(void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }

constexpr wl_callback_listener sync_listener{on_sync_done};

// A compositor that stops answering must not hang the start or a video restart: after this
// long without a word it counts as gone. Measured on the layer's clock, which a test moves.
constexpr std::uint32_t patience_ms = 3000;

// Whether the compositor has a word for us within our patience. A signal that asks the program
// to quit breaks the wait off, as the interrupt it is, on whichever thread it landed: the wait
// looks for one between short slices. Any other signal that interrupts it does not.
bool word_in_time(wl_display* display) {
    constexpr std::uint32_t slice_ms = 50;
    const std::uint32_t start = os::get_tick_count();
    while (!os::detail::quit_signal_pending()) {
        const std::uint32_t waited = os::get_tick_count() - start;
        if (waited >= patience_ms)
            return false;
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(std::min(patience_ms - waited, slice_ms)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// Whether the compositor answers everything asked so far (wl_display_roundtrip would wait
// forever for one that does not).
bool answers(wl_display* display) {
    bool done = false;
    wl_callback* sync = wl_display_sync(display);
    if (!sync)
        return false;
    wl_callback_add_listener(sync, &sync_listener, &done);
    while (!done && wl_display_dispatch_pending(display) >= 0 && !done) {
        if (wl_display_prepare_read(display) != 0)
            continue;
        wl_display_flush(display);
        if (!word_in_time(display)) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) < 0)
            break;
    }
    wl_callback_destroy(sync);
    return done;
}

} // namespace

namespace os::detail {

bool wayland_compositor_usable() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    offered_globals offered{};
    wl_registry* registry = wl_display_get_registry(display);
    const bool answered = registry &&
                          wl_registry_add_listener(registry, &registry_listener, &offered) == 0 &&
                          answers(display);
    if (registry)
        wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && offered.compositor && offered.shell && offered.seat;
}

bool wait_for_compositor(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_WAYLAND)
        return true;
    return answers(info.info.wl.display);
}

} // namespace os::detail
