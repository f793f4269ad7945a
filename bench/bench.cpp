// The program's own objects driven in-process on the real clock, for tools/run-bench:
//
//   brevox_bench frames W H N TRACE   N timed frames per game state, uncapped; one frame of
//                                     each state recorded to TRACE for the bare program
//   brevox_bench pace W H SECONDS     the real main loop at the default cap, per state
//   brevox_bench restart W H N        N video restarts, and the start's log with its report
//   brevox_bench sound SECONDS        play() to the device, and the sound thread's work
//
// Figures go to standard output, one line each (times in microseconds); run-bench does the rest.
#include "app/main_loop.h"
#include "app/resources.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "os/process.h"
#include "os/sound.h"
#include "sound/dxplay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
void gltrace_open(const char* path);
void gltrace_close();
void gltrace_mark(const char* state);
extern void (*gltrace_on_swap)();
}

namespace {

double now_us() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct game_state {
    const char* name;
    std::int32_t state;
    std::int32_t medal;
};
constexpr game_state states[] = {{"menu", game_menu, 0},
                                 {"intro", game_intro, 0},
                                 {"rally", game_in_play, 0},
                                 {"medal", game_serve_wait, medal_ace},
                                 {"paused", game_paused, 0}};
const game_state* shown = &states[0];

// Holds the game in the state under measure: the ball stays in mid-field, the medal on show.
void hold_state() {
    main_game->state = shown->state;
    medal_shown = shown->medal != 0;
    medal_kind = shown->medal;
    main_game->ball->x = static_cast<float>(main_cvars->get_int("clwidth")) / 2;
    main_game->ball->y = static_cast<float>(main_cvars->get_int("clheight")) / 2;
}

void print_row(const std::string& head, const std::vector<double>& values) {
    std::printf("%s", head.c_str());
    for (const double value : values)
        std::printf(" %.1f", value);
    std::printf("\n");
}

double start_program(int width, int height) {
    os::startup();
    register_program_resources();
    const double before = now_us();
    create_log_and_cvars(os::module_instance());
    const double report_us = now_us() - before;
    main_cvars->set_int("width", width);
    main_cvars->set_int("height", height);
    return report_us;
}

void frames(int width, int height, int count, const char* trace) {
    gltrace_open(trace);
    if (!init_main_objects())
        std::exit(1);
    main_cvars->set_int("cl_maxfps", 0);
    for (const auto& state : states) {
        shown = &state;
        hold_state();
        gltrace_mark(state.name);
        main_loop_step();
    }
    gltrace_close();
    for (const auto& state : states) {
        shown = &state;
        std::vector<double> times;
        for (int i = -count / 10; i < count; ++i) { // the first tenth warms up
            hold_state();
            const double start = now_us();
            main_loop_step();
            if (i >= 0)
                times.push_back(now_us() - start);
        }
        print_row("frame " + std::to_string(width) + "x" + std::to_string(height) + " " +
                      state.name,
                  times);
    }
}

// What the present hook sees of the real main loop.
struct pace_record {
    double seconds = 0;
    double first_present = 0;
    double last_present = 0;
    std::vector<double> frame_ms;
    void (*each_frame)() = nullptr;
} pace;

void on_present() {
    const double now = now_us();
    if (pace.first_present == 0)
        pace.first_present = now;
    else
        pace.frame_ms.push_back(main_timer->frame_ms); // the frame before this one, capped
    pace.last_present = now;
    hold_state();
    if (pace.each_frame)
        pace.each_frame();
    if (now - pace.first_present >= pace.seconds * 1e6)
        loop_request = loop_quit;
}

void run_paced(double seconds) {
    pace = {seconds, 0, 0, {}, pace.each_frame};
    gltrace_on_swap = on_present;
    loop_request = loop_run;
    main_loop();
    gltrace_on_swap = nullptr;
}

void pacing(int width, int height, double seconds) {
    if (!init_main_objects())
        std::exit(1);
    for (const auto& state : states) {
        shown = &state;
        run_paced(seconds);
        const double elapsed_us = pace.last_present - pace.first_present;
        std::printf("pace %dx%d %s %zu %.1f", width, height, state.name, pace.frame_ms.size(),
                    elapsed_us);
        print_row("", pace.frame_ms);
    }
}

void restarts(int width, int height, int count, double report_us) {
    if (!init_main_objects())
        std::exit(1);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        loop_request = loop_vid_restart;
        const double start = now_us();
        main_loop_step();
        times.push_back(now_us() - start);
    }
    print_row("restart " + std::to_string(width) + "x" + std::to_string(height), times);
    print_row("report", {report_us});
}

// The voice sample's frames, which the output must show from the first period after play().
struct sound_watch {
    std::vector<std::int16_t> voice;
    std::atomic<double> play_at{0};
    std::size_t next = SIZE_MAX;
    std::vector<double> latencies;
    std::size_t compared = 0, differing = 0;
    double last_period = 0, longest_gap = 0;
    std::uint32_t period_frames = 0;
} watch;

void on_output(const std::int16_t* out, std::uint32_t frames, std::uint32_t playing) {
    const double now = now_us();
    if (watch.last_period != 0)
        watch.longest_gap = std::max(watch.longest_gap, now - watch.last_period);
    watch.last_period = now;
    watch.period_frames = frames;
    const double asked = watch.play_at.load();
    if (asked != 0 && playing != 0) {
        watch.latencies.push_back(now - asked);
        watch.play_at = 0;
        watch.next = 0;
    }
    for (std::uint32_t j = 0; j < frames && playing && watch.next < watch.voice.size(); ++j) {
        ++watch.compared;
        watch.differing += out[2 * j] != watch.voice[watch.next++];
    }
}

void play_voice_now_and_then() {
    static double last_play = 0;
    if (now_us() - last_play < 1.5e6)
        return;
    last_play = now_us();
    watch.play_at = last_play;
    sample_voice->play();
}

// The sound thread is the one thread of the program's own that carries no name.
double sound_thread_cpu_ns() {
    const std::string self = std::to_string(getpid());
    std::string own_name;
    std::getline(std::ifstream("/proc/self/comm"), own_name);
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (task.path().filename() != self && name == own_name) {
            double ns = 0;
            std::ifstream(task.path() / "schedstat") >> ns;
            return ns;
        }
    }
    return -1;
}

void sound(double seconds) {
    std::ifstream file("data/voice.wav", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const std::size_t data = bytes.find("data") + 8; // "fmt " and "data" chunks only
    watch.voice.resize((bytes.size() - data) / 2);
    std::copy_n(bytes.data() + data, watch.voice.size() * 2,
                reinterpret_cast<char*>(watch.voice.data()));
    if (!init_main_objects() || !sample_voice)
        std::exit(1);
    watch.latencies.reserve(1000);
    shown = &states[2];
    os::seam::observe_output(on_output);
    pace.each_frame = play_voice_now_and_then;
    const double cpu_before = sound_thread_cpu_ns();
    run_paced(seconds);
    const double cpu_ns = sound_thread_cpu_ns() - cpu_before;
    os::seam::observe_output(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a period still running
    print_row("sound latency", watch.latencies);
    std::printf("sound period_frames %u\nsound longest_gap %.1f\n", watch.period_frames,
                watch.longest_gap);
    std::printf("sound compared %zu differing %zu\n", watch.compared, watch.differing);
    std::printf("sound thread_cpu_ns %.0f seconds %.3f frames %zu\n", cpu_ns,
                (pace.last_present - pace.first_present) / 1e6, pace.frame_ms.size());
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const auto arg = [&](int i) { return i < argc ? std::atoi(argv[i]) : 0; };
    const double report_us =
        start_program(mode == "sound" ? 640 : arg(2), mode == "sound" ? 480 : arg(3));
    if (mode == "frames" && argc == 6)
        frames(arg(2), arg(3), arg(4), argv[5]);
    else if (mode == "pace")
        pacing(arg(2), arg(3), arg(4));
    else if (mode == "restart")
        restarts(arg(2), arg(3), arg(4), report_us);
    else if (mode == "sound")
        sound(arg(2));
    else
        std::fprintf(stderr, "usage: brevox_bench frames|pace|restart|sound ...\n");
    std::fflush(stdout);
    cleanup_main_objects();
    free_cvars_and_log();
    os::shutdown();
    return 0;
}
