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
volatile std::sig_atomic_t quit_signal_seen = 0;
volatile std::sig_atomic_t last_quit_signal = 0;
thread_local os::thread_id own_thread_id = 0;

extern "C" void on_quit_signal(int number) {
    last_quit_signal = number;
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

bool take_quit_signal() {
    if (!quit_signal_seen)
        return false;
    quit_signal_seen = 0;
    return true;
}

void forget_quit_signal() {
    quit_signal_seen = 0;
    last_quit_signal = 0;
}

thread_id main_thread() { return startup_thread; }

thread_id new_thread_id() { return ++last_thread_id; }

void adopt_thread_id(thread_id id) { own_thread_id = id; }

} // namespace os::detail
