// Threads, auto- and manual-reset events, and the one wait on several events plus the calling
// thread's own message queue. Threads and events are waitable objects named by handles; a
// thread's handle is signalled when the thread ends.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

constexpr std::uint32_t INFINITE = 0xFFFFFFFF;
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr std::uint32_t MAXIMUM_WAIT_OBJECTS = 64;
// Wake masks of msg_wait_for_multiple_objects: any message in the queue.
constexpr std::uint32_t QS_ALLINPUT = 0x04FF;

constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

using thread_proc = std::uint32_t (*)(void* parameter);

// Starts `proc(parameter)` on a new thread; 0 on failure. The id is known before the thread runs.
handle create_thread(thread_proc proc, void* parameter, thread_id* id);
// Only checks the handle: Linux does not let an ordinary user raise a thread above its process,
// so the scheduler is not asked; the refill margin of the sound player is large enough without it.
bool set_thread_priority(handle thread, int priority);

handle create_event(bool manual_reset, bool initially_signalled);
bool set_event(handle event);
// Closes an event or a thread handle (a thread goes on running without its handle).
bool close_handle(handle object);

// WAIT_OBJECT_0 when the object is signalled (an auto-reset event is reset by the wait),
// WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
std::uint32_t wait_for_single_object(handle object, std::uint32_t timeout_ms);
// Waits until one of `count` objects is signalled (WAIT_OBJECT_0 + its index, the lowest
// first) or, with a non-zero `wake_mask`, a message waits in the calling thread's queue
// (WAIT_OBJECT_0 + count). A waiting message wins over signalled objects: messages change what
// the objects stand for. Only `wait_all` false is supported. At most MAXIMUM_WAIT_OBJECTS - 1
// objects; more, or a bad handle, give WAIT_FAILED.
std::uint32_t msg_wait_for_multiple_objects(std::uint32_t count, const handle* handles,
                                            bool wait_all, std::uint32_t timeout_ms,
                                            std::uint32_t wake_mask);

// On the manual clock a sleep moves the clock on instead of waiting.
void sleep_ms(std::uint32_t milliseconds);

} // namespace os

namespace os::seam {

// Waits (in real time, at most `limit_ms`) until every thread made by create_thread is blocked
// in a wait that nothing can satisfy yet: all it was woken for has been handled. False on
// time-out. Lets a test that signals events by hand continue in lock step with the thread.
bool settle_threads(std::uint32_t limit_ms = 10'000);

} // namespace os::seam
