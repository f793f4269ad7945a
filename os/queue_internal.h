// Shared between the message queues (os/messages.cpp) and the events and waits
// (os/threads.cpp): one lock guards both, so a thread that waits on events and its queue
// together sleeps on its queue's condition variable and cannot miss a wake-up.
#pragma once

#include "os/types.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace os::detail {

std::mutex& queue_lock();
// With queue_lock held: the calling thread's queue signal, creating the queue.
std::shared_ptr<std::condition_variable> own_queue_signal_locked();
// With queue_lock held: a posted message or a quit request waits in that thread's queue.
bool queue_has_input_locked(thread_id thread);
// A thread that ends takes its queue with it: later posts to its id fail.
void drop_own_queue();

// Thread ids are handed out by os/process.cpp; a new thread takes the one made for it.
thread_id new_thread_id();
void adopt_thread_id(thread_id id);

} // namespace os::detail
