// Timers of the calling thread. The callback runs inside dispatch_message, on the thread that
// set the timer, between frames; a timer keeps firing every `elapse_ms` until it is killed.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

using timer_proc = void (*)(hwnd window, std::uint32_t message, timer_id id, std::uint32_t time);

// With window 0 the layer chooses the id and returns it; 0 on failure. A window's timer keeps
// the id it is given, but for 0, which becomes 1. Either way the id returned kills it.
timer_id set_timer(hwnd window, timer_id id, std::uint32_t elapse_ms, timer_proc callback);
bool kill_timer(hwnd window, timer_id id);

} // namespace os

namespace os::detail {

// Finds the calling thread's first timer that is due; with `remove` its period starts anew.
bool take_due_timer(std::uint32_t now, bool remove, hwnd& window, timer_id& id,
                    timer_proc& callback);
// The callback of a live timer, or null.
timer_proc timer_callback(hwnd window, timer_id id);
// Milliseconds until the calling thread's next timer is due; false when it has none.
bool next_timer_due_in(std::uint32_t now, std::uint32_t& wait_ms);
void drop_all_timers();

} // namespace os::detail
