#include "os/messages.h"

#include "os/clock.h"
#include "os/fault.h"
#include "os/process.h"
#include "os/queue_internal.h"
#include "os/timers.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct message_queue {
    std::deque<os::msg> posted;
    bool quit_pending = false;
    int quit_code = 0;
    // Shared so that a thread blocked in a wait keeps it even if its queue is dropped.
    std::shared_ptr<std::condition_variable> arrived = std::make_shared<std::condition_variable>();
};

struct window_binding {
    os::window_proc procedure;
    os::thread_id owner;
};

// One lock for every queue and binding, and for the events and waits of os/threads.cpp, so a
// wait on events and a queue together cannot miss a wake-up: a handful of messages per frame and
// sixteen sound events a second per sample never contend.
std::mutex queues_lock;
std::map<os::thread_id, std::unique_ptr<message_queue>> queues;
std::map<os::hwnd, window_binding> windows;
os::detail::event_pump pump = nullptr;
os::thread_id pump_thread = 0;

message_queue& own_queue_locked() {
    auto& slot = queues[os::current_thread_id()];
    if (!slot)
        slot = std::make_unique<message_queue>();
    return *slot;
}

bool in_range(std::uint32_t message, std::uint32_t first, std::uint32_t last) {
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

bool push_locked(message_queue& queue, const os::msg& message) {
    queue.posted.push_back(message);
    queue.arrived->notify_all();
    return true;
}

// Lets system events (windows, keys) and a pending quit signal into the calling thread's queue.
void collect_outside_events() {
    const os::thread_id self = os::current_thread_id();
    if (self == os::detail::main_thread() && os::detail::take_quit_signal())
        os::post_quit_message(0);
    os::detail::event_pump current = nullptr;
    {
        std::lock_guard guard(queues_lock);
        if (self == pump_thread)
            current = pump;
    }
    if (current)
        current();
}

bool take_posted(message_queue& queue, os::msg& out, os::hwnd window, std::uint32_t first,
                 std::uint32_t last, bool remove) {
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if ((window != 0 && it->window != window) || !in_range(it->message, first, last))
            continue;
        out = *it;
        if (remove)
            queue.posted.erase(it);
        return true;
    }
    return false;
}

bool take_quit(message_queue& queue, os::msg& out, std::uint32_t first, std::uint32_t last,
               bool remove) {
    if (!queue.quit_pending || !in_range(os::WM_QUIT, first, last))
        return false;
    out = {0, os::WM_QUIT, static_cast<os::wparam>(queue.quit_code), 0,
           os::detail::tick_count_now()};
    if (remove)
        queue.quit_pending = false;
    return true;
}

bool take_timer(os::msg& out, os::hwnd window, std::uint32_t first, std::uint32_t last,
                bool remove) {
    if (window != 0 || !in_range(os::WM_TIMER, first, last))
        return false;
    const std::uint32_t now = os::detail::tick_count_now();
    os::hwnd timer_window = 0;
    os::timer_id id = 0;
    os::timer_proc callback = nullptr;
    if (!os::detail::take_due_timer(now, remove, timer_window, id, callback))
        return false;
    out = {timer_window, os::WM_TIMER, id, reinterpret_cast<os::lparam>(callback), now};
    return true;
}

// Blocks until something may have arrived. False when nothing ever can.
bool wait_for_message() {
    std::uint32_t timer_wait = 0;
    const bool has_timer = os::detail::next_timer_due_in(os::detail::tick_count_now(), timer_wait);
    if (os::seam::manual_clock_active()) {
        // Time only moves when we move it: jump straight to the next timer.
        if (!has_timer)
            return false;
        os::seam::advance_clock_ms(timer_wait == 0 ? 1 : timer_wait);
        return true;
    }
    // System events cannot wake a condition variable, so wait in short slices.
    constexpr std::uint32_t slice_ms = 5;
    const std::uint32_t wait_ms = has_timer && timer_wait < slice_ms ? timer_wait : slice_ms;
    std::unique_lock guard(queues_lock);
    message_queue& queue = own_queue_locked();
    if (queue.posted.empty() && !queue.quit_pending)
        queue.arrived->wait_for(guard, std::chrono::milliseconds(wait_ms));
    return true;
}

} // namespace

namespace os {

bool peek_message(msg& out, hwnd window, std::uint32_t first, std::uint32_t last, unsigned flags) {
    collect_outside_events();
    const bool remove = (flags & PM_REMOVE) != 0;
    {
        std::lock_guard guard(queues_lock);
        message_queue& queue = own_queue_locked();
        if (take_posted(queue, out, window, first, last, remove) ||
            take_quit(queue, out, first, last, remove))
            return true;
    }
    return take_timer(out, window, first, last, remove);
}

int get_message(msg& out, hwnd window, std::uint32_t first, std::uint32_t last) {
    while (!peek_message(out, window, first, last, PM_REMOVE)) {
        if (!wait_for_message())
            return -1;
    }
    return out.message == WM_QUIT ? 0 : 1;
}

bool translate_message(const msg&) { return false; }

lresult dispatch_message(const msg& message) {
    if (message.message == WM_TIMER && message.l != 0) {
        // Only a live timer's own callback runs: a stale or forged message does nothing.
        const timer_proc callback = detail::timer_callback(message.window, message.w);
        if (callback)
            callback(message.window, WM_TIMER, static_cast<timer_id>(message.w),
                     detail::tick_count_now());
        return 0;
    }
    window_proc procedure = nullptr;
    {
        std::lock_guard guard(queues_lock);
        const auto found = windows.find(message.window);
        if (found != windows.end())
            procedure = found->second.procedure;
    }
    // Called without the lock: the procedure may post, or destroy its own window.
    return procedure ? procedure(message.window, message.message, message.w, message.l) : 0;
}

void post_quit_message(int exit_code) {
    std::lock_guard guard(queues_lock);
    message_queue& queue = own_queue_locked();
    queue.quit_pending = true;
    queue.quit_code = exit_code;
    queue.arrived->notify_all();
}

bool post_message(hwnd window, std::uint32_t message, wparam w, lparam l) {
    if (detail::injected_fault("post_message"))
        return false;
    std::lock_guard guard(queues_lock);
    if (window == 0)
        return push_locked(own_queue_locked(), {0, message, w, l, detail::tick_count_now()});
    const auto bound = windows.find(window);
    if (bound == windows.end())
        return false;
    auto& queue = queues[bound->second.owner];
    if (!queue)
        queue = std::make_unique<message_queue>();
    return push_locked(*queue, {window, message, w, l, detail::tick_count_now()});
}

bool post_thread_message(thread_id thread, std::uint32_t message, wparam w, lparam l) {
    if (detail::injected_fault("post_thread_message"))
        return false;
    std::lock_guard guard(queues_lock);
    const auto found = queues.find(thread);
    if (found == queues.end())
        return false;
    return push_locked(*found->second, {0, message, w, l, detail::tick_count_now()});
}

void ensure_message_queue() {
    std::lock_guard guard(queues_lock);
    own_queue_locked();
}

} // namespace os

namespace os::detail {

std::mutex& queue_lock() { return queues_lock; }

std::shared_ptr<std::condition_variable> own_queue_signal_locked() {
    return own_queue_locked().arrived;
}

bool queue_has_input_locked(thread_id thread) {
    const auto found = queues.find(thread);
    return found != queues.end() && (!found->second->posted.empty() || found->second->quit_pending);
}

void drop_own_queue() {
    std::lock_guard guard(queues_lock);
    queues.erase(current_thread_id());
}

void bind_window(hwnd window, window_proc procedure) {
    std::lock_guard guard(queues_lock);
    windows[window] = {procedure, current_thread_id()};
}

void unbind_window(hwnd window) {
    std::lock_guard guard(queues_lock);
    windows.erase(window);
    // Messages still queued for a destroyed window are dropped, as Windows does.
    for (auto& [thread, queue] : queues)
        std::erase_if(queue->posted, [&](const msg& m) { return m.window == window; });
}

void set_event_pump(event_pump new_pump) {
    std::lock_guard guard(queues_lock);
    pump = new_pump;
    pump_thread = current_thread_id();
}

} // namespace os::detail

namespace os::seam {

void reset_messages() {
    {
        std::lock_guard guard(queues_lock);
        queues.clear();
        windows.clear();
        pump = nullptr;
        pump_thread = 0;
    }
    detail::drop_all_timers();
    detail::forget_quit_signal();
}

} // namespace os::seam
