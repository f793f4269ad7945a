#include "os/process.h"

#include "os/queue_internal.h"

#include <SDL.h>

#include <atomic>
#include <csignal>

namespace {

// The customary image base of a program: a recognisable, non-zero handle.
constexpr os::hinstance program_instance = 0x00400000;

std::atomic<os::thread_id> last_thread_id{0};
std::atomic<os::thread_id> startup_thread{0};
// Written by whichever thread the signal lands on and read by the main thread: atomics that take
// no lock, since the thread a handler interrupts may hold it.
std::atomic<int> quit_signal_seen{0};
std::atomic<int> last_quit_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
thread_local os::thread_id own_thread_id = 0;

extern "C" void on_quit_signal(int number) {
    // The first asks for the orderly end. A second one ends at once a run that hangs on its way
    // there, as the signal's own default action does: the shell then reports 128 + its number.
    if (last_quit_signal.exchange(number) != 0) {
        std::signal(number, SIG_DFL);
        std::raise(number); // delivered as the handler returns
        return;
    }
    quit_signal_seen = 1;
}

} // namespace

namespace os {

hinstance module_instance() { return program_instance; }

thread_id current_thread_id() {
    if (own_thread_id == 0)
        own_thread_id = ++last_thread_id;
    return own_thread_id;
}

void startup() {
    startup_thread = current_thread_id();
    quit_signal_seen = 0;
    last_quit_signal = 0;
    struct sigaction action {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void shutdown() { SDL_Quit(); }

int quit_signal() { return last_quit_signal; }

} // namespace os

namespace os::detail {

bool take_quit_signal() { return quit_signal_seen.exchange(0) != 0; }

bool quit_signal_pending() { return quit_signal_seen != 0; }

void forget_quit_signal() {
    quit_signal_seen = 0;
    last_quit_signal = 0;
}

thread_id main_thread() { return startup_thread; }

thread_id new_thread_id() { return ++last_thread_id; }

void adopt_thread_id(thread_id id) { own_thread_id = id; }

} // namespace os::detail
