// The program's own objects driven in-process on the real clock, for tools/run-bench:
//
//   brevox_bench frames W H TRACE     records one frame of each game state to TRACE for the
//                                     bare program and says "recorded"; then at each line
//                                     "STATE N" on standard input times N frames of that
//                                     state, uncapped
//   brevox_bench pace W H             at each line "STATE SECONDS" runs the real main loop at
//                                     the default cap for that long in that state
//   brevox_bench restart W H N        N video restarts with the log and N without; the time of
//                                     the log's start with its machine report
//   brevox_bench sound W H SECONDS    play() to the device, and the sound thread's work
//   brevox_bench replay W H SECONDS   the computer against itself for SECONDS at the default
//                                     cap, recorded: the recorder's time per frame beside the
//                                     frame's, the bytes per minute of play, then the file's
//                                     --check and its speed against the time it recorded
//   brevox_bench input W H N          N presses of the left paddle's key, then N of a virtual
//                                     controller's D-pad, at random moments of the real main
//                                     loop at the default cap: the time from each press
//                                     reaching the program to the first present that shows
//                                     the paddle moving; meanwhile the computer plays the
//                                     right paddle, and each frame's work of it is timed
//   brevox_bench keys W H SECONDS [HOST:PORT CODE]
//                                     the computer plays both paddles for SECONDS of the real
//                                     main loop at the default cap; with HOST:PORT and CODE
//                                     the game joins that host as its guest instead, and the
//                                     computer plays the guest's (right) paddle. Each time the
//                                     computer presses the right paddle's key while the paddle
//                                     stands still: the time from the frame's read of the key
//                                     to the end of the first present that shows the paddle
//                                     moving (the input mode's measure, the press being the
//                                     computer's, read at the start of a frame)
//
// Figures go to standard output, one row each (times in microseconds); run-bench does the rest.
// The frames and pace modes take their orders line by line, so that tools/bench_table.py can
// have the game and the bare program take turns without starting them anew.
#include "app/main_loop.h"
#include "app/resources.h"
#include "base/log.h"
#include "base/loop_request.h"
#include "base/timer.h"
#include "cvar/cvars.h"
#include "game/computer.h"
#include "game/game.h"
#include "net/guest.h"
#include "os/gamepad.h"
#include "os/process.h"
#include "os/sound.h"
#include "os/threads.h"
#include "os/keys.h"
#include "os/messages.h"
#include "platform/input.h"
#include "platform/window.h"
#include "render/render.h"
#include "replay/format.h"
#include "replay/recorder.h"
#include "sound/dxplay.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern "C" {
void gltrace_open(const char* path);
void gltrace_mark(const char* state);
extern void (*gltrace_on_swap)();
}

namespace {

double now_us() {
    using us = std::chrono::duration<double, std::micro>;
    return us(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct game_state {
    const char* name;
    std::int32_t state;
};
// The medal is the serve's wait with the ace medal on show.
constexpr game_state states[] = {{"menu", game_menu},
                                 {"intro", game_intro},
                                 {"rally", game_in_play},
                                 {"paused", game_paused},
                                 {"medal", game_serve_wait}};
const game_state* shown = &states[0];
std::string size_name;

// Holds the game in the state under measure: the ball stays in mid-field, the medal on show.
void hold_state() {
    main_game->state = shown->state;
    medal_shown = medal_kind = shown->state == game_serve_wait ? medal_ace : medal_none;
    main_game->ball->x = static_cast<float>(main_cvars->get_int("clwidth")) / 2;
    main_game->ball->y = static_cast<float>(main_cvars->get_int("clheight")) / 2;
}

// The state named `name`, or null.
const game_state* find_state(const std::string& name) {
    for (const game_state& state : states)
        if (name == state.name)
            return &state;
    return nullptr;
}

void print_row(std::string row, const std::vector<double>& values) {
    for (const double value : values)
        (row += " ") += std::to_string(value);
    std::puts(row.c_str());
    std::fflush(stdout); // the other side waits for it
}

// Runs `measure` in the state named by each line "STATE ARGUMENT" of standard input, to its end.
template <typename measure_fn> void take_orders(measure_fn measure) {
    std::string name;
    double argument;
    while (std::cin >> name >> argument) {
        shown = find_state(name);
        if (!shown) {
            std::fprintf(stderr, "brevox_bench: no game state '%s'\n", name.c_str());
            std::exit(1);
        }
        measure(argument);
    }
}

void record_frames() {
    main_cvars->set_int("cl_maxfps", 0);
    for (shown = states; shown != std::end(states); ++shown) {
        hold_state();
        gltrace_mark(shown->name); // records this one frame
        main_loop_step();
    }
    print_row("recorded", {});
}

void time_frames(double count) {
    std::vector<double> times;
    for (int i = -static_cast<int>(count) / 10; i < count; ++i) { // the first tenth warms up
        hold_state();
        const double start = now_us();
        main_loop_step();
        if (i >= 0)
            times.push_back(now_us() - start);
    }
    print_row("frame " + size_name + " " + shown->name, times);
}

// What the present hook sees of the real main loop.
struct {
    double seconds, first_present, last_present;
    std::vector<double> intervals_us; // present to present, as the bare program measures them
    void (*each_frame)() = [] {};
} pace;

void on_present() {
    const double now = now_us();
    if (pace.first_present == 0)
        pace.first_present = now;
    else
        pace.intervals_us.push_back(now - pace.last_present);
    pace.last_present = now;
    hold_state();
    pace.each_frame();
    if (now - pace.first_present >= pace.seconds * 1e6)
        loop_request = loop_quit;
}

void run_paced(double seconds) {
    pace = {seconds, 0, 0, {}, pace.each_frame};
    gltrace_on_swap = on_present;
    loop_request = loop_run;
    main_loop();
}

// One row: the time from the first present to the last, then each frame's.
void pace_state(double seconds) {
    run_paced(seconds);
    pace.intervals_us.insert(pace.intervals_us.begin(), pace.last_present - pace.first_present);
    print_row("pace " + size_name + " " + shown->name, pace.intervals_us);
}

// `count` video restarts with the log, then as many without it: the difference is what its
// lines cost.
void restarts(int count) {
    clog* const log = main_log;
    std::vector<double> times[2];
    for (int i = 0; i < 2 * count; ++i) {
        main_log = i < count ? log : nullptr;
        loop_request = loop_vid_restart;
        const double start = now_us();
        main_loop_step();
        times[i >= count].push_back(now_us() - start);
    }
    main_log = log;
    print_row("restart " + size_name + " logged", times[0]);
    print_row("restart " + size_name + " unlogged", times[1]);
}

// The voice sample's frames, which the output must show from the first period after play().
struct {
    std::vector<std::int16_t> voice;
    std::vector<double> latencies;
    std::atomic<double> play_at;
    std::size_t next, compared, differing;
    double last_period, longest_gap, period_frames;
} watch;

void on_output(const std::int16_t* out, std::uint32_t frames, std::uint32_t playing) {
    const double now = now_us();
    if (!watch.latencies.empty()) // from the first play on, once the stream runs
        watch.longest_gap = std::max(watch.longest_gap, now - watch.last_period);
    watch.last_period = now;
    watch.period_frames = frames;
    if (watch.play_at != 0 && playing != 0) {
        watch.latencies.push_back(now - watch.play_at);
        watch.play_at = 0;
        watch.next = 0;
    }
    for (std::uint32_t j = 0; j < frames && playing && watch.next < watch.voice.size(); ++j) {
        ++watch.compared;
        watch.differing += out[2 * j] != watch.voice[watch.next++];
    }
}

void play_voice_now_and_then() {
    static double last_play = now_us(); // the first play once the stream runs steadily
    if (now_us() - last_play < 1.5e6)
        return;
    watch.play_at = last_play = now_us();
    sample_voice->play();
}

// The sound thread is the last thread the program starts (the game opens the sound system last)
// and, like every thread of its own, carries the process's name.
double sound_thread_cpu_ns() {
    std::string own_name, name;
    std::getline(std::ifstream("/proc/self/comm"), own_name);
    int newest = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        if (std::getline(std::ifstream(task.path() / "comm"), name) && name == own_name)
            newest = std::max(newest, std::stoi(task.path().filename()));
    double ns = -1;
    std::ifstream("/proc/self/task/" + std::to_string(newest) + "/schedstat") >> ns;
    return ns;
}

void sound(double seconds) {
    // A plain WAV file: 16-bit mono samples after the 44 bytes of its two chunks' headers.
    std::ifstream file("data/voice.wav", std::ios::binary | std::ios::ate);
    watch.voice.resize((static_cast<std::size_t>(file.tellg()) - 44) / 2);
    file.seekg(44).read(reinterpret_cast<char*>(watch.voice.data()), watch.voice.size() * 2);
    os::seam::observe_output(on_output);
    pace.each_frame = play_voice_now_and_then;
    shown = &states[2];
    const double cpu_before = sound_thread_cpu_ns();
    run_paced(seconds);
    const double cpu_ns = sound_thread_cpu_ns() - cpu_before;
    os::seam::observe_output(nullptr);
    os::sleep_ms(200); // a period may still be running
    print_row("latency", watch.latencies);
    std::printf("sound period_frames %.0f longest_gap %.1f compared %zu differing %zu cpu_ns %.0f "
                "seconds %.3f frames %zu\n",
                watch.period_frames, watch.longest_gap, watch.compared, watch.differing, cpu_ns,
                (pace.last_present - pace.first_present) / 1e6, pace.intervals_us.size());
}

// A press comes from another thread at a random moment while the left paddle stands still; the
// main loop's presents look for its effect and let the key go. Up and down take turns, so the
// paddle stays near the middle.
struct {
    std::atomic<double> pressed_at{0}; // 0: no press is waiting for its effect
    std::atomic<bool> still{false};    // the last present showed the paddle at rest
    std::atomic<bool> done{false};
    std::atomic<bool> up{false};
    void (*push)(bool down) = nullptr;
    Uint32 window_id = 0;
    std::uint32_t pad = 0;
    std::vector<double> delays_us;
    std::size_t wanted = 0;
} presses;

void push_key(bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.windowID = presses.window_id;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = presses.up ? SDL_SCANCODE_LSHIFT : SDL_SCANCODE_LCTRL;
    event.key.keysym.sym = presses.up ? SDLK_LSHIFT : SDLK_LCTRL;
    SDL_PushEvent(&event);
}

void push_button(bool down) {
    os::seam::press_virtual_button(
        presses.pad, presses.up ? os::XINPUT_GAMEPAD_DPAD_UP : os::XINPUT_GAMEPAD_DPAD_DOWN, down);
}

void watch_the_left_paddle() {
    const float velocity = main_game->left->velocity;
    if (presses.pressed_at != 0 && (presses.up ? velocity > 0 : velocity < 0)) {
        presses.delays_us.push_back(now_us() - presses.pressed_at);
        presses.push(false);
        presses.pressed_at = 0;
    }
    presses.still = presses.pressed_at == 0 && velocity == 0;
    if (presses.delays_us.size() >= presses.wanted)
        loop_request = loop_quit;
}

void press_now_and_then() {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> wait_us(0, 10'000);
    while (!presses.done) {
        if (!presses.still) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(wait_us(random)));
        presses.still = false;
        presses.up = !presses.up;
        presses.pressed_at = now_us();
        presses.push(true);
        while (presses.pressed_at != 0 && !presses.done)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// The computer on the right paddle, each frame's call timed.
class timed_computer final : public ckey_source {
public:
    timed_computer() : computer(*main_game, 1, 1) {}
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override {
        const double start = now_us();
        computer.hold_keys(keys, frame_ms);
        times_us.push_back(now_us() - start);
    }

    ccomputer computer;
    std::vector<double> times_us;
};

void measure_presses(const char* row, void (*push)(bool down)) {
    presses.push = push;
    presses.delays_us.clear();
    presses.done = false;
    std::thread presser(press_now_and_then);
    loop_request = loop_run;
    run_paced(3600);
    presses.done = true;
    presser.join();
    print_row(row, presses.delays_us);
}

void input_delay(int count) {
    presses.wanted = static_cast<std::size_t>(count);
    presses.window_id = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    pace.each_frame = watch_the_left_paddle;
    shown = &states[2];
    auto seated = std::make_unique<timed_computer>();
    const timed_computer& computer = *seated;
    main_seating.seat(1, std::move(seated));
    measure_presses("input key", push_key);
    presses.pad = os::seam::attach_virtual_gamepad("brevox_bench controller");
    if (presses.pad != 0) // plugged in at the next pump, it plays the left paddle
        measure_presses("input button", push_button);
    os::seam::detach_virtual_gamepad(presses.pad);
    print_row("computer us", computer.times_us);
    main_seating.seat(1, nullptr);
}

// The people's SPACE at the intro, so that the computers' game starts.
class intro_space final : public ckey_source {
public:
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t) override {
        if (main_game->state == game_intro)
            hold_key(keys, os::DIK_SPACE);
    }
};

// Out of the menu: "continue".
void continue_from_menu() {
    for (std::uint32_t vk : {os::VK_DOWN, os::VK_DOWN, os::VK_DOWN, os::VK_RETURN})
        key_down(vk, false);
}

// The computer's presses of the right paddle's keys, each from the frame's read of it to the
// first present that shows the paddle moving its way.
struct {
    std::int32_t way = 0; // of the press waiting for its present: 1 up, -1 down, 0 none
    double read_at = 0;
    bool still = false; // the last present showed the paddle at rest
    std::vector<double> delays_us;
    std::size_t unseen = 0; // let go before any present showed the paddle moving
    double seconds = 0, first_present = 0;
} keys_watch;

// The computer at the right paddle, watched as it holds its keys in the frame's read.
class watched_computer final : public ckey_source {
public:
    watched_computer() : computer(*main_game, 1, 11) {}
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override {
        computer.hold_keys(keys, frame_ms);
        const cpaddle& paddle = *main_game->right;
        const std::int32_t way = keys[static_cast<std::uint8_t>(paddle.up_key)]     ? 1
                                 : keys[static_cast<std::uint8_t>(paddle.down_key)] ? -1
                                                                                    : 0;
        if (keys_watch.way == 0 && keys_watch.still && way != 0) {
            keys_watch.way = way;
            keys_watch.read_at = now_us();
        } else if (keys_watch.way != 0 && way != keys_watch.way) {
            ++keys_watch.unseen;
            keys_watch.way = 0;
        }
    }

private:
    ccomputer computer;
};

void watch_the_right_paddle() {
    const double now = now_us();
    const float velocity = main_game->right->velocity;
    if (keys_watch.way != 0 && velocity * static_cast<float>(keys_watch.way) > 0) {
        keys_watch.delays_us.push_back(now - keys_watch.read_at);
        keys_watch.way = 0;
    }
    keys_watch.still = velocity == 0;
    if (keys_watch.first_present == 0)
        keys_watch.first_present = now;
    if (now - keys_watch.first_present >= keys_watch.seconds * 1e6)
        loop_request = loop_quit;
}

// Joins the host at "HOST:PORT" with its code, as --join does; false with the reason on
// standard error.
bool join_as_guest(const std::string& address, const char* code) {
    const std::size_t colon = address.rfind(':');
    cjoin_settings settings;
    std::string error = "not HOST:PORT";
    if (colon != std::string::npos) {
        settings.host_name = address.substr(0, colon);
        settings.port = static_cast<std::uint16_t>(std::atoi(address.c_str() + colon + 1));
        settings.code = static_cast<std::uint16_t>(std::atoi(code));
        error.clear();
    }
    if (!error.empty() || !join_game(settings, error)) {
        std::fprintf(stderr, "brevox_bench: cannot join %s: %s\n", address.c_str(), error.c_str());
        return false;
    }
    main_guest->start();
    main_seating.seat_last(main_guest);
    return true;
}

int key_delays(double seconds, const std::string& host, const char* code) {
    if (!host.empty() && !join_as_guest(host, code))
        return 0;
    intro_space space;
    main_seating.seat_people_hands(&space);
    if (host.empty())
        main_seating.seat(0, std::make_unique<ccomputer>(*main_game, 0, 10));
    main_seating.seat(1, std::make_unique<watched_computer>());
    continue_from_menu();
    keys_watch.seconds = seconds;
    gltrace_on_swap = watch_the_right_paddle;
    loop_request = loop_run;
    main_loop();
    main_seating.clear();
    print_row("keys to present", keys_watch.delays_us);
    print_row("keys unseen", {static_cast<double>(keys_watch.unseen)});
    return 1;
}

// The main loop's frames, with the recorder's part timed apart.
int record_replay(int seconds) {
    const std::string file = "/tmp/brevox_bench.replay";
    crecorder recorder;
    std::string error;
    if (!recorder.open(file, "--computer both", 0, error))
        return 0;
    intro_space space;
    main_seating.seat_people_hands(&space);
    main_seating.seat_last(&recorder);
    game_outside = &recorder;
    for (std::int32_t side = 0; side < 2; ++side)
        main_seating.seat(side, std::make_unique<ccomputer>(*main_game, side, 7 + side));
    continue_from_menu();
    std::vector<double> recorder_us, frame_us;
    std::uint64_t recorded_ms = 0;
    const int max_fps = main_cvars->get_int("cl_maxfps");
    while (recorded_ms < static_cast<std::uint64_t>(seconds) * 1000) {
        for (os::msg message; os::peek_message(message, 0, 0, 0, os::PM_REMOVE);)
            os::dispatch_message(message);
        const double start = now_us();
        main_timer->begin_frame();
        recorder.begin_frame(main_cvars->get_int("clwidth"), main_cvars->get_int("clheight"),
                             main_game->speed);
        const double between = now_us();
        main_game->update(main_timer->frame_ms);
        const double after = now_us();
        recorder.end_frame(main_timer->frame_ms, *main_game);
        recorder_us.push_back(between - start + now_us() - after);
        main_render->draw_frame();
        frame_us.push_back(now_us() - start);
        recorded_ms += main_timer->frame_ms;
        main_timer->update();
        while (main_timer->frame_ms < 1000u / static_cast<std::uint32_t>(max_fps))
            main_timer->update();
    }
    main_seating.clear();
    game_outside = nullptr;
    if (!recorder.finish())
        return 0;
    print_row("replay recorder us", recorder_us);
    print_row("replay frame us", frame_us);
    print_row("replay bytes per minute",
              {static_cast<double>(std::filesystem::file_size(file)) * 60000.0 /
               static_cast<double>(recorded_ms)});
    return 1;
}

// The recorded file's --check, without a window; its speed against the time it recorded.
int check_recorded_replay() {
    std::ifstream in("/tmp/brevox_bench.replay", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    creplay replay;
    std::string error;
    if (!decode_replay({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, replay,
                       error))
        return 0;
    std::uint64_t recorded_ms = 0;
    for (const crecord& record : replay.records)
        recorded_ms += record.kind == record_frame ? static_cast<std::uint64_t>(record.value) : 0;
    const double start = now_us();
    const int status = check_replay(os::module_instance(), replay, "/tmp/brevox_bench.replay");
    const double took_us = now_us() - start;
    print_row("replay check times real time",
              {static_cast<double>(recorded_ms) * 1000.0 / took_us});
    return status == 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const auto arg = [&](int i) { return i < argc ? std::atoi(argv[i]) : 0; };
    os::startup();
    register_program_resources();
    const double before = now_us();
    create_log_and_cvars(os::module_instance());
    const double report_us = now_us() - before;
    main_cvars->set_int("width", arg(2));
    main_cvars->set_int("height", arg(3));
    size_name = std::to_string(arg(2)) + "x" + std::to_string(arg(3));
    if (mode == "frames" && argc > 4)
        gltrace_open(argv[4]); // from the start, for the texture uploads
    if (!init_main_objects() || (mode == "sound" && !sample_voice)) // no sound device
        return 1;
    if (mode == "frames") {
        record_frames();
        take_orders(time_frames);
    }
    if (mode == "pace")
        take_orders(pace_state);
    if (mode == "restart")
        restarts(arg(4));
    if (mode == "input")
        input_delay(arg(4));
    if (mode == "replay" && !record_replay(arg(4)))
        return 1;
    if (mode == "keys" && !key_delays(arg(4), argc > 6 ? argv[5] : "", argc > 6 ? argv[6] : ""))
        return 1;
    print_row("report", {report_us});
    if (mode == "sound")
        sound(arg(4));
    cleanup_main_objects();
    free_cvars_and_log();
    const bool checked = mode != "replay" || check_recorded_replay();
    os::shutdown();
    return checked ? 0 : 1;
}
