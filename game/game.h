// The game object, as the window procedure and the renderer see it: its state. The rules, the
// paddles, the ball and the scores join it with the game simulation.
#pragma once

#include <cstdint>

// Game states.
enum : std::int32_t {
    game_menu = 0,       // the game menu is open
    game_intro = 1,      // the intro picture, waiting for SPACE
    game_paused = 2,     // paused with P
    game_serve_wait = 3, // waiting for the serve
    game_in_play = 4,    // the ball is in play
    game_point = 5,      // a point was scored, counted on the next update
};

class cgame {
public:
    cgame() : state(game_menu) {}

    std::int32_t state;
};

// The game, owned by the main loop; null while it does not exist.
extern cgame* main_game;
