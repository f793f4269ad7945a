// Message queues: every thread that asks for one has its own. The main thread pumps its queue
// with peek/get/translate/dispatch; other threads post to a thread id.
//
// Order of delivery, as the program expects it from Windows: posted messages first, in order;
// then the quit message once post_quit_message has been called; timer messages last, only
// when nothing else waits.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

// Message ids keep their customary values.
constexpr std::uint32_t WM_NULL = 0x0000;
constexpr std::uint32_t WM_DESTROY = 0x0002;
constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr std::uint32_t WM_KEYDOWN = 0x0100;
constexpr std::uint32_t WM_KEYUP = 0x0101;
constexpr std::uint32_t WM_CHAR = 0x0102;
constexpr std::uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr std::uint32_t WM_SYSKEYUP = 0x0105;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_USER = 0x0400;

// Peek flags.
constexpr unsigned PM_NOREMOVE = 0x0000;
constexpr unsigned PM_REMOVE = 0x0001;

struct msg {
    hwnd window;
    std::uint32_t message;
    wparam w;
    lparam l;
    std::uint32_t time; // tick count when the message was queued
};

using window_proc = lresult (*)(hwnd window, std::uint32_t message, wparam w, lparam l);

// Looks at the calling thread's queue. `window` 0 and a range of 0, 0 take any message.
// True when a message was found (and, with PM_REMOVE, taken off the queue).
bool peek_message(msg& out, hwnd window, std::uint32_t first, std::uint32_t last, unsigned flags);
// Takes the next message, waiting for one. Returns 0 for WM_QUIT, 1 for any other message,
// -1 when nothing can ever arrive (the manual clock stands still and no timer is set).
int get_message(msg& out, hwnd window, std::uint32_t first, std::uint32_t last);
// Produces character messages from key messages. No part of the program reads character
// messages, so key-downs pass untranslated; always false.
bool translate_message(const msg& message);
// Hands a message to its window's procedure, or a timer message to its timer's callback.
lresult dispatch_message(const msg& message);
// Asks the calling thread's loop to end: a WM_QUIT with this exit code follows the posted
// messages that already wait.
void post_quit_message(int exit_code);
// Posts to the queue of the thread that owns `window` (0: the calling thread). False on failure.
bool post_message(hwnd window, std::uint32_t message, wparam w, lparam l);
// Posts to another thread's queue; fails when that thread has no queue yet.
bool post_thread_message(thread_id thread, std::uint32_t message, wparam w, lparam l);
// Gives the calling thread a queue now, so that posts to it cannot fail.
void ensure_message_queue();

} // namespace os

namespace os::detail {

// The window layer binds each window to its procedure and owning thread.
void bind_window(hwnd window, window_proc procedure);
void unbind_window(hwnd window);
// Called at every peek on the thread that owns the windows: turns system events into messages.
using event_pump = void (*)();
void set_event_pump(event_pump pump);

} // namespace os::detail

namespace os::seam {

// Drops every queue, quit request, timer and window binding: a clean slate for the next test.
void reset_messages();

} // namespace os::seam
