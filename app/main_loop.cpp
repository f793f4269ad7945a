#include "app/main_loop.h"

#include "base/log.h"
#include "base/loop_request.h"
#include "base/timer.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "game/computer.h"
#include "game/game.h"
#include "game/menu.h"
#include "net/guest.h"
#include "net/host.h"
#include "os/clock.h"
#include "os/messages.h"
#include "os/process.h"
#include "platform/gamepad.h"
#include "platform/input.h"
#include "platform/window.h"
#include "render/render.h"
#include "replay/player.h"
#include "replay/recorder.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>

clog* main_log = nullptr;
cvars* main_cvars = nullptr;
ctimer* main_timer = nullptr;
cwindow* main_window = nullptr;
cgame* main_game = nullptr;
cmenu* main_menu = nullptr;
cgamepads* main_gamepads = nullptr;
std::int32_t loop_request = loop_run;
crecorder* main_recorder = nullptr;
cplayer* main_player = nullptr;
chost* main_host = nullptr;
cguest* main_guest = nullptr;
ccode_entry* main_code_entry = nullptr;

namespace {

// The process's exit status: the players ended the game, or its start or a video restart failed.
constexpr int exit_played = 0;
constexpr int exit_failed = 1;

// Set when a video restart (F1 or the menu's) failed, which ends the loop: the run did not end
// as the players wished.
bool restart_failed = false;

// A replay is being played: its records give the field's size, no video restart does.
bool playing_back = false;

// The paddles --computer gave the computer.
std::int32_t computer_sides = computer_none;

// The computer sits at its paddles once the game has started; it reads the game, which must
// exist as long as it plays.
int start_computer() {
    if (computer_sides == computer_none)
        return 1;
    static const char* const paddles[] = {"", "the left paddle", "the right paddle",
                                          "both paddles"};
    log_printf(main_log, " (computer) taking %s : ", paddles[computer_sides]);
    const auto seed = static_cast<std::uint32_t>(os::calendar_seconds());
    for (std::int32_t side = 0; side < 2; ++side) {
        if ((computer_sides & (side == 0 ? computer_left : computer_right)) == 0)
            continue;
        std::unique_ptr<ckey_source> computer(new (std::nothrow)
                                                  ccomputer(*main_game, side, seed + side));
        if (!computer) {
            log_printf(main_log, "FAILED\n");
            return 0;
        }
        main_seating.seat(side, std::move(computer));
    }
    log_printf(main_log, "OK\n");
    return 1;
}

// The other hands on the keys: the controllers play the paddles the computer leaves the people.
int start_other_hands() {
    main_gamepads->init(); // a failure is in the log; the keyboard still plays
    return start_computer();
}

void register_startup_cvars(os::hinstance instance) {
    main_cvars->register_string("windowname", window_title);
    main_cvars->register_int("width", 640);
    main_cvars->register_int("height", 480);
    main_cvars->register_int("bits", 16);
    main_cvars->register_int("fullscreen", 0);
    main_cvars->register_int("instance", static_cast<std::int32_t>(instance));
    main_cvars->register_int("cl_maxfps", 200);
}

// A main object whose allocation failed counts as a failed initialisation.
bool main_objects_allocated() {
    return main_cvars && main_timer && main_menu && main_window && main_render && main_game &&
           main_gamepads;
}

cvar_handle field_width("clwidth");
cvar_handle field_height("clheight");

// A replay in a window: the recorded frames the viewer's time covers. At its end mark the run
// ends; a difference, or a file that ends before its end mark, stays on the field until the
// viewer ends the run.
void play_replay_frames() {
    const bool was_finished = main_player->finished();
    main_player->play_for(main_timer->frame_ms);
    if (was_finished || !main_player->finished())
        return;
    const std::string& verdict = main_player->verdict();
    if (verdict.empty()) {
        loop_request = loop_quit;
        return;
    }
    screen_notice = verdict.c_str();
    log_printf(main_log, " (replay) %s\n", verdict.c_str());
    std::fprintf(stderr, "brevox: replay: %s\n", verdict.c_str());
}

// A join whose code is typed in the window: once Enter came, one frame says that the game is
// looked for, and the next one joins (which takes up to some seconds); a failure says why.
cjoin_settings typed_join;
std::int32_t typed_code = -1;

void join_by_typed_code() {
    if (typed_code < 0) {
        typed_code = main_code_entry->take_code();
        screen_notice = main_code_entry->line();
        return;
    }
    typed_join.code = static_cast<std::uint16_t>(typed_code);
    typed_code = -1;
    std::string error;
    if (!join_game(typed_join, error)) {
        log_printf(main_log, " (net) cannot join: %s\n", error.c_str());
        main_code_entry->failed();
        screen_notice = main_code_entry->line();
        return;
    }
    delete main_code_entry;
    main_code_entry = nullptr;
    screen_notice = nullptr;
    main_guest->start();
    main_seating.seat_last(main_guest);
}

void run_frame() {
    main_timer->begin_frame();
    if (main_code_entry)
        join_by_typed_code();
    if (main_player) {
        play_replay_frames();
    } else if (main_guest) {
        main_guest->frame(*main_game, main_timer->frame_ms);
    } else {
        if (main_host)
            main_host->before_frame(main_timer->frame_ms);
        if (main_recorder)
            main_recorder->begin_frame(field_width.value(), field_height.value(),
                                       main_game->speed);
        main_game->update(main_timer->frame_ms);
        if (main_recorder)
            main_recorder->end_frame(main_timer->frame_ms, *main_game);
        if (main_host)
            main_host->after_frame(main_timer->frame_ms);
    }
    main_render->draw_frame();
    main_timer->update();
}

// Releases a main object that exists with its own last step, then frees it.
template <typename object, typename step> void free_main_object(object*& main, step last_step) {
    if (!main)
        return;
    (main->*last_step)();
    delete main;
    main = nullptr;
}

void free_renderer() { free_main_object(main_render, &crender::release); }
void free_window() { free_main_object(main_window, &cwindow::destroy); }

// Destroys and re-creates what is bound to the window; the game goes on with a new keyboard.
int rebuild_window_and_renderer() {
    free_renderer(); // first, so the desktop's display mode is back before the window goes
    free_window();
    main_window = new (std::nothrow) cwindow;
    main_render = new (std::nothrow) crender;
    if (!main_window || !main_render || !main_window->create() || !main_render->init())
        return 0;
    if (main_game) {
        if (!main_game->reattach()) // the keyboard is bound to the old window
            return 0;
        main_game->take_client_width(main_cvars->get_int("clwidth"));
    }
    log_printf(main_log, "+ vid_restart successfull!\n");
    return 1;
}

cvar_handle max_fps_setting("cl_maxfps");

// Busy-waits until the frame has lasted 1000 / "cl_maxfps" ms. Neither sleeps nor pumps: the
// loop owns a whole processor while the game runs. A negative or missing "cl_maxfps" becomes a
// huge unsigned divisor, a minimum of 0: no cap.
void cap_frame_rate() {
    const std::int32_t max_fps = max_fps_setting.value();
    if (max_fps == 0)
        return;
    const std::uint32_t minimum_ms = 1000u / static_cast<std::uint32_t>(max_fps);
    while (main_timer->frame_ms < minimum_ms)
        main_timer->update();
}

// The recorder sits at the end of the seating's line and hears of the calendar and the timers.
void attach_recorder() {
    if (!main_recorder)
        return;
    main_seating.seat_last(main_recorder);
    game_outside = main_recorder;
}

// Network play: the guest's hands sit at the host's right paddle; a guest hears the keys first.
void attach_network() {
    if (main_host)
        main_host->start(*main_game);
    if (main_guest) {
        main_guest->start();
        main_seating.seat_last(main_guest);
    }
    if (main_code_entry) {
        main_seating.seat_last(main_code_entry);
        screen_notice = main_code_entry->line();
    }
}

} // namespace

void close_network() {
    if (main_guest || main_code_entry)
        main_seating.seat_last(nullptr);
    delete main_code_entry;
    main_code_entry = nullptr;
    delete main_host; // each closes on its way
    delete main_guest;
    main_host = nullptr;
    main_guest = nullptr;
}

namespace {

// Writes the end mark and closes the file; says where the replay went.
void stop_recording() {
    if (!main_recorder)
        return;
    main_seating.seat_last(nullptr);
    game_outside = nullptr;
    const bool whole = main_recorder->finish() != 0;
    const char* name = main_recorder->name().c_str();
    log_printf(main_log, " (replay) %s %s\n", whole ? "recorded to" : "recorded, cut short, to",
               name);
    std::printf("brevox: replay %s %s\n", whole ? "recorded to" : "cut short in", name);
    std::fflush(stdout);
    delete main_recorder;
    main_recorder = nullptr;
}

// The process's exit status for how the run ended: a run that an interrupt or termination signal
// ended is 128 + the signal's number, as shells report it, even when a step it broke off failed
// (a wait for the compositor); otherwise a failure is 1.
int exit_status(bool failed) {
    const int signal_number = os::quit_signal();
    if (signal_number != 0)
        return 128 + signal_number;
    return failed ? exit_failed : exit_played;
}

} // namespace

std::int32_t computer_option(const char* command_line) {
    std::string_view rest = command_line ? command_line : "";
    std::int32_t sides = computer_none;
    bool value_due = false; // the last word was "--computer"
    for (;;) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return value_due ? -1 : sides;
        rest.remove_prefix(start);
        const std::string_view word = rest.substr(0, rest.find(' '));
        rest.remove_prefix(word.size());
        std::string_view value;
        if (value_due)
            value = word;
        else if (word.starts_with("--computer="))
            value = word.substr(11);
        value_due = word == "--computer" && !value_due;
        if (value_due || (value.empty() && !word.starts_with("--computer")))
            continue;
        sides = value == "left"    ? computer_left
                : value == "right" ? computer_right
                : value == "both"  ? computer_both
                                   : -1;
        if (sides < 0)
            return -1;
    }
}

int start_recording(const std::string& path, const std::string& options, std::string& error) {
    auto* recorder = new (std::nothrow) crecorder;
    if (!recorder) {
        error = "out of memory";
        return 0;
    }
    if (!recorder->open(path, options, os::calendar_seconds(), error)) {
        delete recorder;
        return 0;
    }
    main_recorder = recorder;
    return 1;
}

int start_hosting(std::uint16_t port, std::string& error) {
    auto* host = new (std::nothrow) chost;
    if (!host || !host->open(port, error)) {
        delete host;
        if (error.empty())
            error = "out of memory";
        return 0;
    }
    main_host = host;
    return 1;
}

void join_by_code_typed_in_window(const cjoin_settings& settings) {
    typed_join = settings;
    main_code_entry = new (std::nothrow) ccode_entry;
}

int join_game(const cjoin_settings& settings, std::string& error) {
    auto* guest = new (std::nothrow) cguest;
    if (!guest || !guest->join(settings, error)) {
        delete guest;
        if (error.empty())
            error = "out of memory";
        return 0;
    }
    main_guest = guest;
    return 1;
}

int check_replay(os::hinstance instance, const creplay& replay, const std::string& name) {
    create_log_and_cvars(instance);
    if (main_cvars) { // the field the records size
        main_cvars->register_int("clwidth", 640);
        main_cvars->register_int("clheight", 480);
    }
    int status = exit_failed;
    main_menu = new (std::nothrow) cmenu;
    main_game = new (std::nothrow) cgame;
    cplayer* player = new (std::nothrow) cplayer(replay);
    if (main_cvars && player && main_menu && main_game && main_menu->init() && main_game->init()) {
        log_printf(main_log, "\n+ checking replay %s\n", name.c_str());
        playing_back = true;
        loop_request = loop_run;
        main_seating.seat_last(player);
        game_outside = player;
        while (player->play_frame())
            continue;
        main_seating.seat_last(nullptr);
        game_outside = nullptr;
        playing_back = false;
        const std::string& verdict = player->verdict();
        if (verdict.empty()) {
            std::printf("replay %s: %lld frames, %lld checks, all equal\n", name.c_str(),
                        static_cast<long long>(player->frames()),
                        static_cast<long long>(player->checks()));
            status = exit_played;
        } else {
            std::fprintf(stderr, "replay %s: %s\n", name.c_str(), verdict.c_str());
        }
        log_printf(main_log, " (replay) %s\n", verdict.empty() ? "all checks equal" : verdict.c_str());
    } else {
        std::fprintf(stderr, "replay %s: the game could not start\n", name.c_str());
    }
    delete player;
    cleanup_main_objects();
    free_cvars_and_log();
    return status;
}

int play_replay(os::hinstance instance, const creplay& replay, const std::string& name) {
    create_log_and_cvars(instance);
    restart_failed = false;
    computer_sides = computer_none;
    playing_back = true;
    main_player = new (std::nothrow) cplayer(replay);
    const bool started = main_player && init_main_objects();
    if (started) {
        log_printf(main_log, "\n+ playing replay %s\n", name.c_str());
        main_seating.seat_last(main_player);
        game_outside = main_player;
        main_loop();
    }
    const bool differed = started && !main_player->verdict().empty();
    if (started && main_player->finished() && !differed)
        std::printf("replay %s: %lld frames, %lld checks, all equal\n", name.c_str(),
                    static_cast<long long>(main_player->frames()),
                    static_cast<long long>(main_player->checks()));
    cleanup_main_objects(); // the seating and the outside let go of the player
    game_outside = nullptr;
    free_cvars_and_log();
    delete main_player;
    main_player = nullptr;
    playing_back = false;
    screen_notice = nullptr;
    field_line[0] = '\0';
    samples_muted = 0;
    return exit_status(!started || differed || restart_failed);
}

int WinMain(os::hinstance instance, os::hinstance, const char* command_line, int) {
    computer_sides = computer_option(command_line);
    if (computer_sides < 0)
        return exit_usage; // nothing started: no log, no window
    create_log_and_cvars(instance);
    restart_failed = false;
    const bool started = init_main_objects();
    if (started) {
        attach_recorder();
        attach_network();
        main_loop();
    }
    cleanup_main_objects();
    free_cvars_and_log();
    return exit_status(!started || restart_failed);
}

void create_log_and_cvars(os::hinstance instance) {
    main_log = new (std::nothrow) clog;
    log_printf(main_log, "+ creating cvar list\n");
    main_cvars = new (std::nothrow) cvars;
    if (main_cvars)
        register_startup_cvars(instance);
}

void free_cvars_and_log() {
    delete main_cvars; // destroys every record
    main_cvars = nullptr;
    if (main_log) {
        main_log->finish();
        delete main_log;
        main_log = nullptr;
    }
}

int init_main_objects() {
    log_printf(main_log, "\n+ creating main objects\n");
    main_timer = new (std::nothrow) ctimer;
    main_menu = new (std::nothrow) cmenu;
    main_window = new (std::nothrow) cwindow;
    main_render = new (std::nothrow) crender;
    main_game = new (std::nothrow) cgame;
    main_gamepads = new (std::nothrow) cgamepads;

    if (!main_objects_allocated() || !main_menu->init() || !main_window->create() ||
        !main_render->init() || !main_game->init() || !start_other_hands()) {
        log_printf(main_log, "\n+ initialization abnormal\n");
        return 0;
    }
    log_printf(main_log, "\n+ initialization successfull!\n");
    log_printf(main_log, "\n+ entering main loop..\n");
    loop_request = loop_run;
    return 1;
}

void main_loop() {
    for (;;) {
        os::msg message;
        while (os::peek_message(message, 0, 0, 0, os::PM_NOREMOVE)) {
            if (os::get_message(message, 0, 0, 0) == 0)
                return; // WM_QUIT
            os::translate_message(message);
            os::dispatch_message(message);
        }
        if (!main_loop_step())
            return;
    }
}

int main_loop_step() {
    if (loop_request == loop_vid_restart) {
        loop_request = vid_restart() ? loop_run : loop_quit;
        return 1; // no frame in this pass
    }
    if (loop_request == loop_quit) {
        log_printf(main_log, "+ loop quit requested..\n");
        return 0;
    }
    run_frame();
    cap_frame_rate();
    return 1;
}

int vid_restart() {
    if (playing_back)
        return 1;
    if (rebuild_window_and_renderer())
        return 1;
    restart_failed = true;
    return 0;
}

int cleanup_main_objects() {
    log_printf(main_log, "\n+ cleaning up main objects\n");
    close_network();
    stop_recording();
    main_seating.clear();                                 // the computer, before the game it reads
    free_main_object(main_gamepads, &cgamepads::release); // silent: logs as before without one
    free_main_object(main_game, &cgame::shutdown);
    free_renderer();
    free_window();
    delete main_timer; // it has no release step
    main_timer = nullptr;
    delete main_menu;
    main_menu = nullptr;
    return 1;
}
