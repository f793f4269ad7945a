#include "os/timers.h"

#include "os/clock.h"
#include "os/fault.h"
#include "os/process.h"

#include <mutex>
#include <vector>

namespace {

struct timer_entry {
    os::thread_id owner;
    os::hwnd window;
    os::timer_id id;
    std::uint32_t elapse_ms;
    std::uint32_t period_start; // tick count at which the current period began
    os::timer_proc callback;
};

std::mutex timers_lock;
std::vector<timer_entry> timers;
os::timer_id last_thread_timer_id = 0;

// Ids chosen by the layer for window-less timers: never 0, never one in use.
os::timer_id choose_timer_id() {
    for (;;) {
        if (++last_thread_timer_id == 0)
            last_thread_timer_id = 1;
        bool in_use = false;
        for (const auto& t : timers)
            in_use = in_use || (t.window == 0 && t.id == last_thread_timer_id);
        if (!in_use)
            return last_thread_timer_id;
    }
}

timer_entry* find_timer(os::hwnd window, os::timer_id id) {
    for (auto& t : timers)
        if (t.window == window && t.id == id && (window != 0 || t.owner == os::current_thread_id()))
            return &t;
    return nullptr;
}

// A timer of 0 ms would fire on every pump; Windows raises such periods to its minimum.
constexpr std::uint32_t minimum_elapse_ms = 10;

// A window's timer 0 is filed and reported as timer 1, since 0 tells of a failure: the id that
// set_timer returns kills it, and so does the 0 it was set with.
os::timer_id window_timer_id(os::timer_id id) { return id == 0 ? 1 : id; }

} // namespace

namespace os {

timer_id set_timer(hwnd window, timer_id id, std::uint32_t elapse_ms, timer_proc callback) {
    if (detail::injected_fault("set_timer"))
        return 0;
    const std::uint32_t now = detail::tick_count_now();
    std::lock_guard guard(timers_lock);
    if (elapse_ms < minimum_elapse_ms)
        elapse_ms = minimum_elapse_ms;
    if (window != 0) {
        id = window_timer_id(id);
        if (timer_entry* existing = find_timer(window, id)) {
            existing->elapse_ms = elapse_ms;
            existing->period_start = now;
            existing->callback = callback;
            return id;
        }
    } else {
        id = choose_timer_id();
    }
    timers.push_back({current_thread_id(), window, id, elapse_ms, now, callback});
    return id;
}

bool kill_timer(hwnd window, timer_id id) {
    std::lock_guard guard(timers_lock);
    timer_entry* t = find_timer(window, window != 0 ? window_timer_id(id) : id);
    if (!t)
        return false;
    timers.erase(timers.begin() + (t - timers.data()));
    return true;
}

} // namespace os

namespace os::detail {

bool take_due_timer(std::uint32_t now, bool remove, hwnd& window, timer_id& id,
                    timer_proc& callback) {
    std::lock_guard guard(timers_lock);
    const thread_id self = current_thread_id();
    for (auto& t : timers) {
        // Unsigned difference: a period across the tick count's wrap still measures right.
        if (t.owner != self || now - t.period_start < t.elapse_ms)
            continue;
        window = t.window;
        id = t.id;
        callback = t.callback;
        if (remove)
            t.period_start = now;
        return true;
    }
    return false;
}

timer_proc timer_callback(hwnd window, timer_id id) {
    std::lock_guard guard(timers_lock);
    const timer_entry* t = find_timer(window, id);
    return t ? t->callback : nullptr;
}

bool next_timer_due_in(std::uint32_t now, std::uint32_t& wait_ms) {
    std::lock_guard guard(timers_lock);
    const thread_id self = current_thread_id();
    bool found = false;
    for (const auto& t : timers) {
        if (t.owner != self)
            continue;
        const std::uint32_t elapsed = now - t.period_start;
        const std::uint32_t left = elapsed >= t.elapse_ms ? 0 : t.elapse_ms - elapsed;
        if (!found || left < wait_ms)
            wait_ms = left;
        found = true;
    }
    return found;
}

void drop_all_timers() {
    std::lock_guard guard(timers_lock);
    timers.clear();
    last_thread_timer_id = 0;
}

} // namespace os::detail
