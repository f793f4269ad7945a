// Words with the Wayland compositor beside SDL: a look at it before SDL's Wayland driver is
// trusted with it (SDL 2.26 crashes at start-up on a compositor without a seat), and a
// roundtrip on SDL's own connection. Neither waits longer than our patience for an answer.
#include "os/video.h"

#include <SDL_syswm.h>
#include <wayland-client.h>

#include <poll.h>

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
// long without a word it counts as gone.
constexpr int patience_ms = 3000;

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
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&fd, 1, patience_ms) <= 0) {
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
