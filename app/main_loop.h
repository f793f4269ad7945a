// The program's spine: the entry point, the main objects, the main loop with its frame cap,
// the video restart and the orderly shut-down. Everything here runs on the main thread.
#pragma once

#include "app/version.h"
#include "os/types.h"

#include <cstdint>

class ctimer;

// What the main loop does on its next pass.
enum : std::int32_t {
    loop_run = 0,         // run one frame per pass
    loop_vid_restart = 1, // rebuild the window and the renderer instead of a frame
    loop_quit = 2,        // end the loop
};
extern std::int32_t loop_request;

// The main objects; each pointer is null while its object does not exist.
extern ctimer* main_timer;

inline constexpr const char* window_title = "brevox [build " BREVOX_VERSION "]";

// The process's exit status: the players ended the game, or its start or a video restart failed.
// A run ended in order by an interrupt or termination signal returns 128 + its number.
inline constexpr int exit_played = 0;
inline constexpr int exit_failed = 1;

// The program's entry point; only the instance handle is used. Returns the exit status.
int WinMain(os::hinstance instance, os::hinstance previous, const char* command_line,
            int show_command);

// The entry point's first and last steps: the log with its report and the cvar list with the
// start-up cvars; and their end.
void create_log_and_cvars(os::hinstance instance);
void free_cvars_and_log();
// Creates and initialises the main objects. 1 on success, 0 on the first failure.
int init_main_objects();
// Pumps the thread's messages and runs main_loop_step until one of them ends the loop.
void main_loop();
// One pass after the message pump. 1 to go on, 0 to end the loop.
int main_loop_step();
// Destroys and re-creates what is bound to the window, keeping the game running. 0 when it
// failed: the run then ends, and its exit status says it failed.
int vid_restart();
// Releases and frees every main object that exists. Always 1.
int cleanup_main_objects();
