// The computer player: a pair of hands seated at one paddle. After every read of the keyboard it
// looks at the game as a player sees it (the ball's place and velocity, its own paddle) and holds
// that paddle's up and down keys and SPACE in the key picture, so the game's rules apply to it as
// to a person; it never writes the game. Seated, it takes the paddle's keys from the people, and
// SPACE while it is to serve. In the menu, the intro and the pause it keeps its hands off. It
// reckons time by the frame lengths the game is given, so it plays alike at every frame rate and
// on the tests' manual clock.
#pragma once

#include "platform/input.h"

#include <cstdint>
#include <random>

class cgame;
class cpaddle;

// Which paddles the computer plays, as --computer names them.
enum : std::int32_t {
    computer_none = 0,
    computer_left = 1,
    computer_right = 2,
    computer_both = computer_left | computer_right,
};

class ccomputer final : public ckey_source {
public:
    // Plays `side` (0 left, 1 right) of `game`, with its own random draws from `seed`.
    ccomputer(const cgame& game, std::int32_t side, std::uint32_t seed);

    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override;

private:
    // What to do this frame: -1 down, 0 nothing, 1 up; `space` set to serve.
    std::int32_t before_serve(const cpaddle& paddle, std::uint32_t ms, bool& space);
    std::int32_t in_play(const cpaddle& paddle, std::uint32_t ms);
    void plan_return();
    void plan_serve(const cpaddle& paddle);
    // Where the ball meets this paddle's line, in how many steps of game time, and which way it
    // goes then (1 up, -1 down, 0 level).
    float predicted_y(const cpaddle& paddle, float& steps_left, std::int32_t& ball_way) const;
    // Towards `target`, letting go in time for friction to stop the paddle there.
    std::int32_t steer(const cpaddle& paddle, float target) const;
    float uniform(float lo, float hi);
    float field_height() const;

    const cgame& game;
    std::int32_t side;
    std::mt19937 random;
    float step = 1.0f; // this frame's length in steps of game time

    bool returning = false; // a ball heading this way has been seen
    std::uint32_t reaction_ms = 0;
    float aim_error = 0;
    // The paddle's way as it meets the ball: 1 with the ball's, -1 against it, 0 standing.
    std::int32_t swing_way = 0;
    float swing_steps = 0;
    float target = 0; // where the paddle goes while it has not reacted yet

    bool serve_planned = false;
    std::uint32_t serve_pause_ms = 0;
    std::int32_t serve_way = 0;
};
