// What the main loop does on its next pass: the window's messages and the menu ask for a
// video restart or the end of the game, and the main loop reads and answers the request.
#pragma once

#include <cstdint>

enum : std::int32_t {
    loop_run = 0,         // run one frame per pass
    loop_vid_restart = 1, // rebuild the window and the renderer instead of a frame
    loop_quit = 2,        // end the loop
};
extern std::int32_t loop_request;

// Destroys and re-creates what is bound to the window, keeping the game running; the main loop
// runs it for loop_vid_restart, the menu's "apply changes" at once. 0 when it failed: the run
// then ends, and its exit status says it failed. The main loop (app/) defines it.
int vid_restart();
