// The program's spine: the entry point, the main objects, the main loop with its frame cap,
// the video restart and the orderly shut-down. Everything here runs on the main thread.
#pragma once

#include "os/types.h"

#include <cstdint>
#include <string>

struct creplay;
struct cjoin_settings;
class chost;
class cguest;

// Network play's sessions, while the game hosts or joins; null otherwise.
extern chost* main_host;
extern cguest* main_guest;

// The exit status when the command line asks for something the game does not know: nothing
// started.
inline constexpr int exit_usage = 2;

// The program's entry point; the instance handle and the command line (the arguments after the
// program's name, separated by spaces) are used. Returns the exit status: 0 when the players
// ended the game, 1 when its start or a video restart failed, exit_usage for a command line it
// does not take, 128 + n when signal n ended it in order.
int WinMain(os::hinstance instance, os::hinstance previous, const char* command_line,
            int show_command);

// The paddles a command line gives the computer with "--computer left|right|both" (or
// "--computer=..."; the last one counts), as game/computer.h numbers them: computer_none without
// the option, -1 when a value is missing or unknown.
std::int32_t computer_option(const char* command_line);

// --record: creates the replay file with its header before anything starts; the run is recorded
// into it from the first frame to the quit. 0 with the reason in `error` when it cannot be
// written.
int start_recording(const std::string& path, const std::string& options, std::string& error);
// --host [PORT]: opens the port for a guest before anything starts; the game then plays the
// left paddle for the host and waits for a guest at the right one. 0 with the reason in `error`.
int start_hosting(std::uint16_t port, std::string& error);
// --join: finds and joins the host before anything starts (within 5 s); the game then plays the
// right paddle and shows the host's game. 0 with what to tell the person in `error`.
int join_game(const cjoin_settings& settings, std::string& error);
// --join without --code: the game starts at this machine and the person types the host's code
// in its window; the game then joins with it, or says why it could not and asks again.
void join_by_code_typed_in_window(const cjoin_settings& settings);
// Tells the other side that this one leaves, and closes the network (the game's cleanup does it
// too).
void close_network();
// --replay FILE --check: plays a decoded replay without a window or sound, as fast as it goes,
// and prints its verdict (standard output when every check was equal, standard error when not).
// Returns the exit status: 0 all equal, 1 otherwise.
int check_replay(os::hinstance instance, const creplay& replay, const std::string& name);

// --replay FILE: plays a decoded replay in a window of the viewer's own, the recorded field
// scaled to fit it; P pauses, Right and Left change the speed, ESCAPE or the close button ends.
// Returns the exit status: 0 at its end or when the viewer ended it, 1 when it differed from the
// record or its file ended before its end mark, or the window could not be made.
int play_replay(os::hinstance instance, const creplay& replay, const std::string& name);

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
// Releases and frees every main object that exists. Always 1.
int cleanup_main_objects();
