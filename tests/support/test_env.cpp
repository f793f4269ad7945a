#include "support/test_env.h"

#include "app/main_loop.h"
#include "app/resources.h"
#include "base/log.h"
#include "base/loop_request.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/sound.h"
#include "os/sysinfo.h"
#include "os/window.h"
#include "platform/window.h"
#include "sound/dxplay.h"

#include <GL/gl.h>

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <link.h>
#include <new>
#include <string_view>

namespace {

std::atomic<int> to_skip{0};
std::atomic<int> to_fail{0};

const char* fake_gl_version = nullptr;
const char* fake_gl_extensions = nullptr;

// The ordinary operator's heap, so that a plain delete frees what the nothrow form returns.
template <void* (*allocate)(std::size_t)> void* allocate_unless_failing(std::size_t size) noexcept {
    if (to_fail > 0 && to_skip-- <= 0) {
        --to_fail;
        return nullptr;
    }
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

// Mesa's driver is unloaded when the last display closes, and what it leaks at times (texturing
// on llvmpipe) would then be reported from an unknown module that no suppression can name.
// Kept loaded, its leaks carry its name and tests/lsan.supp passes them.
void keep_opengl_drivers_loaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            const std::string_view name = info->dlpi_name ? info->dlpi_name : "";
            if (name.ends_with("_dri.so"))
                dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

// No main objects, no faults armed, empty queues, the real machine and the pulled sound device.
void reset_shared_state() {
    cleanup_main_objects();
    delete main_cvars;
    main_cvars = nullptr;
    delete main_log;
    main_log = nullptr;
    loop_request = loop_run;
    os::seam::reset_video();
    test_support::stop_failing_allocations();
    os::seam::clear_faults();
    os::seam::reset_messages();
    os::seam::use_real_machine();
    test_support::fake_gl_strings(nullptr, nullptr);
    // The suite neither plays a sound nor depends on the machine having a sound device.
    os::seam::use_pulled_sound_device(true);
}

} // namespace

// Taken before the driver's own, by the program and by GLU alike.
const GLubyte* glGetString(GLenum name) {
    static const auto real = reinterpret_cast<decltype(&glGetString)>(dlsym(RTLD_NEXT, __func__));
    const char* fake = name == GL_VERSION      ? fake_gl_version
                       : name == GL_EXTENSIONS ? fake_gl_extensions
                                               : nullptr;
    return fake ? reinterpret_cast<const GLubyte*>(fake) : real(name);
}

void test_support::fake_gl_strings(const char* version, const char* extensions) {
    fake_gl_version = version;
    fake_gl_extensions = extensions;
}

void brevox_test::SetUp() {
    // The tests draw on X11; SDL's Wayland driver is played by the end-to-end test.
    unsetenv("WAYLAND_DISPLAY");
    previous_dir = std::filesystem::current_path();
    char pattern[] = "/tmp/brevox-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_dir = pattern;
    std::filesystem::current_path(work_dir);

    os::seam::use_manual_clock();
    reset_shared_state();
    heap_calls_before = test_support::heap_calls_under_sound_lock();
}

void brevox_test::prepare_whole_run() {
    os::seam::use_synthetic_cpu({});
    os::seam::focus_new_windows(true);
    os::seam::set_clock_step_per_read(100);
}

void brevox_test::TearDown() {
    keep_opengl_drivers_loaded();
    reset_shared_state();
    // The audio callback takes the sound device's lock: whatever holds it must never make the
    // callback wait behind the heap.
    EXPECT_EQ(test_support::heap_calls_under_sound_lock(), heap_calls_before)
        << "allocated or freed while holding the sound device's lock";
    os::seam::use_real_clock();
    std::filesystem::current_path(previous_dir);
    std::error_code ignored;
    std::filesystem::permissions(work_dir, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(work_dir, ignored);
}

std::string brevox_test::read_log() {
    std::ifstream file(test_support::log_file, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::string brevox_test::log_from(const std::string& marker) {
    const std::string log = read_log();
    const auto at = log.find(marker);
    return at == std::string::npos ? std::string() : log.substr(at);
}

std::string brevox_test::log_without_opengl_info(const std::string& marker) {
    std::string log = log_from(marker);
    const std::string head = "\n+ OpenGL info :\n";
    for (auto at = log.find(head); at != std::string::npos; at = log.find(head, at)) {
        const auto end = log.find("\n\n", log.find(" Total : ", at)); // npos without a total
        log.erase(at, end == std::string::npos ? end : end + 2 - at);
    }
    return log;
}

void brevox_test::open_log() {
    os::seam::use_synthetic_cpu({false, {}, 0}); // without CPUID the report is short and the same
    delete main_log;
    main_log = new clog;
}

void brevox_test::start_log_and_cvars() {
    os::seam::use_synthetic_cpu({false, {}, 0});
    register_program_resources();
    create_log_and_cvars(os::module_instance());
}

void brevox_test::start_with_main_window() {
    start_log_and_cvars();
    main_window = new cwindow;
    ASSERT_EQ(main_window->create(), 1);
}

void brevox_test::start_game_in_focused_window() {
    ASSERT_NO_FATAL_FAILURE(start_with_main_window());
    os::seam::set_focus(main_window->hwnd, true);
    main_cvars->register_int("clwidth", 640);
    main_cvars->register_int("clheight", 480);
    main_game = new cgame;
    ASSERT_EQ(main_game->init(), 1);
}

os::lresult brevox_test::dispatch_waiting_messages() {
    os::lresult last = -1;
    for (os::msg m; os::peek_message(m, 0, 0, 0, os::PM_REMOVE);)
        last = os::dispatch_message(m);
    return last;
}

os::lresult brevox_test::press_and_dispatch(std::uint8_t dik) {
    os::seam::press_key(main_window->hwnd, dik);
    return dispatch_waiting_messages();
}

bool brevox_test::is_playing(const csample* sample) {
    std::uint32_t status = 0;
    os::sound_buffer_get_status(sample->buffer, status);
    return (status & os::DSBSTATUS_PLAYING) != 0;
}

void test_support::fail_nothrow_allocations(int skip, int count) {
    to_skip = skip;
    to_fail = count;
}

void test_support::stop_failing_allocations() { fail_nothrow_allocations(0, 0); }

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BREVOX_TSAN_OWNS_NEW 1
#endif
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define BREVOX_SANITIZER_OWNS_NEW 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BREVOX_SANITIZER_OWNS_NEW 1
#endif

#ifdef BREVOX_SANITIZER_OWNS_NEW
bool test_support::counts_allocations() { return false; }
std::uint64_t test_support::allocations_on_this_thread() { return 0; }
std::uint64_t test_support::heap_calls_under_sound_lock() { return 0; }
#else
namespace {
thread_local std::uint64_t allocations = 0;
std::atomic<std::uint64_t> under_sound_lock{0};

void count_heap_call() {
    if (os::seam::holding_sound_device_lock())
        ++under_sound_lock;
}

void release(void* block) noexcept {
    count_heap_call();
    std::free(block);
}
} // namespace

bool test_support::counts_allocations() { return true; }
std::uint64_t test_support::allocations_on_this_thread() { return allocations; }
std::uint64_t test_support::heap_calls_under_sound_lock() { return under_sound_lock; }

// The ordinary operators, counted; the nothrow ones below come here too.
void* operator new(std::size_t size) {
    ++allocations;
    count_heap_call();
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return ::operator new(size); }
// Not one through another: GCC takes a block of new[] passed to operator delete for a mismatch.
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
#endif

#ifndef BREVOX_TSAN_OWNS_NEW
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate_unless_failing < ::operator new>(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate_unless_failing < ::operator new[]>(size);
}
#endif
