// Costs on the main loop's path: the timer reading that the frame cap spins on, the cvar
// lookups made every frame, and one log line.
#include "app/log.h"
#include "app/main_loop.h" // window_title
#include "app/timer.h"
#include "cvar/cvars.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

// The ten cvars of a normal run, in their order.
void fill_like_a_normal_run(cvars& list) {
    list.register_string("windowname", window_title);
    const char* names[] = {"width",     "height", "bits",    "fullscreen", "instance",
                           "cl_maxfps", "hwnd",   "clwidth", "clheight"};
    for (const char* name : names)
        list.register_int(name, 1);
}

// Runs in a scratch directory so the benchmark's log lines land there.
struct scratch_dir {
    scratch_dir() : previous(std::filesystem::current_path()) {
        dir = std::filesystem::temp_directory_path() / "brevox-bench";
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    ~scratch_dir() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path previous, dir;
};

void timer_update(benchmark::State& state) {
    scratch_dir here;
    ctimer timer;
    timer.begin_frame();
    for (auto _ : state) {
        timer.update();
        benchmark::DoNotOptimize(timer.frame_ms);
    }
}
BENCHMARK(timer_update);

void cvar_lookup_last_record(benchmark::State& state) {
    scratch_dir here;
    cvars list;
    fill_like_a_normal_run(list);
    for (auto _ : state)
        benchmark::DoNotOptimize(list.get_int("CLHEIGHT"));
}
BENCHMARK(cvar_lookup_last_record);

void log_line(benchmark::State& state) {
    scratch_dir here;
    clog log;
    for (auto _ : state)
        log_printf(&log, " (cvar) registring int value %s : OK\n", "clwidth");
}
BENCHMARK(log_line);

} // namespace
