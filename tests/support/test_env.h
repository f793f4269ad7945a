// The common ground of the tests: each runs in a fresh directory of its own (so brevox.log is
// its own), on the manual clock, with no faults armed, empty message queues, the real machine
// for system information, a pulled sound device and no main objects.
#pragma once

#include "os/types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

class csample;

class brevox_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The whole of brevox.log as it is on disk now ("" when there is none).
    static std::string read_log();
    // The log from the first occurrence of `marker` on (the whole log when marker is "").
    static std::string log_from(const std::string& marker);
    // The same with every OpenGL section (it differs from machine to machine) taken out.
    static std::string log_without_opengl_info(const std::string& marker);
    // Creates the program's log without its machine report noise mattering: a quiet synthetic
    // machine, then a fresh log.
    void open_log();
    // What the entry point does before the main objects: the log and the seven start-up cvars.
    void start_log_and_cvars();
    // The same, then the main window created from the cvars; call through
    // ASSERT_NO_FATAL_FAILURE.
    void start_with_main_window();
    // The same, the window focused, then the game on a 640 x 480 field (main_game); call through
    // ASSERT_NO_FATAL_FAILURE.
    void start_game_in_focused_window();

    // What whole runs of the program's entry point share: a quiet synthetic machine, new windows
    // in front whatever the X server says, and each clock reading taking 0.1 ms, so that the
    // frame cap's wait moves time on by itself.
    static void prepare_whole_run();

    // Dispatches every message that waits, as the main loop's pump does. Returns the last
    // message's result, -1 when none waited.
    static os::lresult dispatch_waiting_messages();
    // Delivers a key to the main window as the system would, then dispatches it.
    static os::lresult press_and_dispatch(std::uint8_t dik);
    // Whether the sample's buffer plays now.
    static bool is_playing(const csample* sample);

private:
    std::filesystem::path work_dir, previous_dir;
    std::uint64_t heap_calls_before = 0;
};

namespace test_support {

// The program's log, in the working directory.
inline constexpr const char* log_file = "brevox.log";

// From now until the test ends, glGetString answers GL_VERSION and GL_EXTENSIONS with these
// texts (a null leaves the driver's own), as an older driver would.
void fake_gl_strings(const char* version, const char* extensions);

// Makes the program's own allocations fail on demand. The program allocates with
// `new (std::nothrow)` and treats a null as a failure; only those allocations are counted, so the
// test framework's own allocations are never touched. Not in ThreadSanitizer builds, whose
// run-time library owns the nothrow operators: there nothing fails.
// Lets `skip` nothrow allocations through, then fails the next `count` of them.
void fail_nothrow_allocations(int skip, int count = 1);
void stop_failing_allocations();

// Appends the lowest `size` bytes of the value, little-endian, to a string or a vector of bytes.
void put_le(auto& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(
            static_cast<typename std::remove_cvref_t<decltype(out)>::value_type>(value >> (8 * i)));
}

// Allocations with operator new made so far by the calling thread. Only where the test program
// owns operator new: not in sanitizer builds, whose run-time libraries do.
bool counts_allocations();
std::uint64_t allocations_on_this_thread();
// Allocations and frees by any thread while it held the sound device's lock; every test checks
// at its end that it made none.
std::uint64_t heap_calls_under_sound_lock();

// Writes the bytes of a string or a vector of bytes to the file.
void write_file(const std::string& name, const auto& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace test_support
