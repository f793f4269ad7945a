// The process: its module instance handle, thread ids, and the layer's start and end.
#pragma once

#include "os/types.h"

namespace os {

// The handle of the program's module, as the entry point receives it. Never 0.
hinstance module_instance();
// The calling thread's id: a small integer, never 0, the same for the thread's whole life.
thread_id current_thread_id();

// Called once by the process's entry point before anything else of the layer, and once at
// the very end. startup() turns the terminal's interrupt and the system's termination request
// into a WM_QUIT on the calling thread's queue, so the program shuts down in order; a second
// one of them ends the process at once, by that signal.
void startup();
void shutdown();
// The number of the last interrupt or termination signal since startup(), 0 when none came.
int quit_signal();

} // namespace os

namespace os::detail {

// True once (and only once) after an interrupt or termination signal arrived.
bool take_quit_signal();
// Whether such a signal arrived and has not been taken yet: a wait it interrupts ends.
bool quit_signal_pending();
// Forgets any signal that came, taken or not: quit_signal() is 0 again.
void forget_quit_signal();
// The thread that called startup(): the one whose queue receives the signal's WM_QUIT.
thread_id main_thread();

} // namespace os::detail
