#include "os/threads.h"

#include "os/clock.h"
#include "os/fault.h"
#include "os/process.h"
#include "os/queue_internal.h"

#include <chrono>
#include <map>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using cv_ptr = std::shared_ptr<std::condition_variable>;

// An event, or the end of a thread. Guarded by the queue lock.
struct waitable {
    bool manual_reset = false;
    bool signalled = false;
    std::vector<cv_ptr> waiters; // the signals of the threads waiting on it now
};
using waitable_ptr = std::shared_ptr<waitable>;

struct thread_record {
    std::thread worker;
    waitable_ptr ended = std::make_shared<waitable>();
    os::thread_id id = 0;
    bool finished = false;
    // What the thread waits on now, for settle_threads.
    bool in_wait = false;
    std::vector<waitable_ptr> waiting_on;
    bool wakes_on_queue = false;
};
using thread_ptr = std::shared_ptr<thread_record>;

std::map<os::handle, waitable_ptr> objects;
std::map<os::handle, thread_ptr> thread_handles;
std::map<os::thread_id, thread_ptr> live_threads;
std::condition_variable idle_changed;
os::handle last_handle = 0;

// Signal of a thread that waits without its queue.
thread_local cv_ptr own_signal;

os::handle new_handle_locked() {
    do
        ++last_handle;
    while (last_handle == 0 || objects.count(last_handle));
    return last_handle;
}

void signal_locked(waitable& object) {
    object.signalled = true;
    for (const auto& waiter : object.waiters)
        waiter->notify_all();
}

void stop_waiting_on(const std::vector<waitable_ptr>& waited, const cv_ptr& signal) {
    for (const auto& object : waited) {
        auto& list = object->waiters;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == signal) {
                list.erase(it);
                break;
            }
        }
    }
}

std::uint32_t wait_on(std::uint32_t count, const os::handle* handles, std::uint32_t timeout_ms,
                      bool wake_on_queue) {
    std::unique_lock lock(os::detail::queue_lock());
    std::vector<waitable_ptr> waited;
    waited.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto found = objects.find(handles[i]);
        if (found == objects.end())
            return os::WAIT_FAILED;
        waited.push_back(found->second);
    }
    const os::thread_id self = os::current_thread_id();
    cv_ptr signal;
    if (wake_on_queue) {
        signal = os::detail::own_queue_signal_locked();
    } else {
        if (!own_signal)
            own_signal = std::make_shared<std::condition_variable>();
        signal = own_signal;
    }
    thread_ptr record;
    if (const auto found = live_threads.find(self); found != live_threads.end())
        record = found->second;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);

    for (;;) {
        if (wake_on_queue && os::detail::queue_has_input_locked(self))
            return os::WAIT_OBJECT_0 + count;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (waited[i]->signalled) {
                if (!waited[i]->manual_reset)
                    waited[i]->signalled = false;
                return os::WAIT_OBJECT_0 + i;
            }
        }
        if (timeout_ms == 0)
            return os::WAIT_TIMEOUT;
        for (const auto& object : waited)
            object->waiters.push_back(signal);
        if (record) {
            record->in_wait = true;
            record->waiting_on = waited;
            record->wakes_on_queue = wake_on_queue;
            idle_changed.notify_all();
        }
        bool timed_out = false;
        if (timeout_ms == os::INFINITE)
            signal->wait(lock);
        else
            timed_out = signal->wait_until(lock, deadline) == std::cv_status::timeout;
        stop_waiting_on(waited, signal);
        if (record) {
            record->in_wait = false;
            record->waiting_on.clear();
        }
        if (timed_out)
            return os::WAIT_TIMEOUT;
    }
}

} // namespace

namespace os {

handle create_thread(thread_proc proc, void* parameter, thread_id* id) {
    if (detail::injected_fault("create_thread") || !proc)
        return 0;
    auto record = std::make_shared<thread_record>();
    record->ended->manual_reset = true;
    record->id = detail::new_thread_id();
    std::lock_guard guard(detail::queue_lock());
    try {
        record->worker = std::thread([record, proc, parameter] {
            detail::adopt_thread_id(record->id);
            proc(parameter);
            detail::drop_own_queue();
            std::lock_guard done(detail::queue_lock());
            record->finished = true;
            live_threads.erase(record->id);
            signal_locked(*record->ended);
            idle_changed.notify_all();
        });
    } catch (const std::system_error&) {
        return 0;
    }
    const handle h = new_handle_locked();
    objects[h] = record->ended;
    thread_handles[h] = record;
    live_threads[record->id] = record;
    if (id)
        *id = record->id;
    return h;
}

bool set_thread_priority(handle thread, int) {
    if (detail::injected_fault("set_thread_priority"))
        return false;
    std::lock_guard guard(detail::queue_lock());
    return thread_handles.count(thread) != 0;
}

handle create_event(bool manual_reset, bool initially_signalled) {
    if (detail::injected_fault("create_event"))
        return 0;
    auto event = std::make_shared<waitable>();
    event->manual_reset = manual_reset;
    event->signalled = initially_signalled;
    std::lock_guard guard(detail::queue_lock());
    const handle h = new_handle_locked();
    objects[h] = std::move(event);
    return h;
}

bool set_event(handle event) {
    std::lock_guard guard(detail::queue_lock());
    const auto found = objects.find(event);
    if (found == objects.end() || thread_handles.count(event))
        return false;
    signal_locked(*found->second);
    return true;
}

bool close_handle(handle object) {
    thread_ptr thread;
    {
        std::lock_guard guard(detail::queue_lock());
        if (objects.erase(object) == 0)
            return false;
        const auto found = thread_handles.find(object);
        if (found == thread_handles.end())
            return true;
        thread = found->second;
        thread_handles.erase(found);
        if (!thread->finished) {
            thread->worker.detach();
            return true;
        }
    }
    // It has finished: joining only waits for its last few instructions.
    thread->worker.join();
    return true;
}

std::uint32_t wait_for_single_object(handle object, std::uint32_t timeout_ms) {
    return wait_on(1, &object, timeout_ms, false);
}

std::uint32_t msg_wait_for_multiple_objects(std::uint32_t count, const handle* handles,
                                            bool wait_all, std::uint32_t timeout_ms,
                                            std::uint32_t wake_mask) {
    if (wait_all || count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && !handles))
        return WAIT_FAILED;
    return wait_on(count, handles, timeout_ms, wake_mask != 0);
}

void sleep_ms(std::uint32_t milliseconds) {
    if (seam::manual_clock_active()) {
        seam::advance_clock_ms(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace os

namespace os::seam {

bool settle_threads(std::uint32_t limit_ms) {
    std::unique_lock lock(detail::queue_lock());
    return idle_changed.wait_for(lock, std::chrono::milliseconds(limit_ms), [] {
        for (const auto& [id, thread] : live_threads) {
            if (!thread->in_wait)
                return false;
            for (const auto& object : thread->waiting_on)
                if (object->signalled)
                    return false;
            if (thread->wakes_on_queue && detail::queue_has_input_locked(id))
                return false;
        }
        return true;
    });
}

} // namespace os::seam
