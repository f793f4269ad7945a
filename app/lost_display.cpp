#include "app/lost_display.h"

#include "base/log.h"
#include "game/game.h"
#include "os/window.h"

#include <cerrno>
#include <cstdio>

namespace {

// Runs wherever the loss was noticed, even inside a frame's drawing, and the process ends right
// after: nothing of the window or OpenGL is released, the display being gone, and no main
// object is freed; the sound stops, since its threads would play on to the end.
int last_word() {
    log_printf(main_log, "+ display lost, ending..\n");
    if (main_game)
        main_game->shutdown();
    if (main_log)
        main_log->finish();
    std::fprintf(stderr, "%s: the display went away; the game ended (see brevox.log)\n",
                 program_invocation_short_name);
    return 1;
}

} // namespace

void end_on_lost_display() { os::on_display_lost(last_word); }
