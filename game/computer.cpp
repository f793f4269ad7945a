#include "game/computer.h"

#include "cvar/cvars.h"
#include "game/game.h"
#include "os/keys.h"

#include <cmath>

namespace {

// The paddle meets the ball once the ball's centre is this far from the paddle's line.
constexpr float hit_depth = hit_band_far + ball_front;

// How it plays: slower to react and less sure of its aim the faster the ball comes.
constexpr float reaction_base_ms = 100.0f;
constexpr float reaction_ms_per_speed = 25.0f;
constexpr float reaction_spread_ms = 100.0f;
constexpr float aim_error_base = 8.0f;
constexpr float aim_error_per_speed2 = 0.7f;
constexpr float fast_ball_speed = 6.0f; // beyond it the aim gets worse faster
constexpr float aim_error_per_fast_speed2 = 6.0f;
// A swing the ball's way speeds it up, one against it slows it down: slow balls get the first,
// fast ones the second.
constexpr float slow_ball_speed = 4.0f;
constexpr float swing_chance_slow = 0.9f;
constexpr float swing_chance = 0.5f;
constexpr float swing_with_slow_ball = 0.9f;
constexpr float swing_with_ball = 0.6f;
constexpr float swing_with_fast_ball = 0.3f;
constexpr float serve_pause_min_ms = 300.0f;
constexpr float serve_pause_max_ms = 1200.0f;
constexpr std::uint32_t serve_run_up_ms = 120; // a moving serve holds its key this long first
constexpr float dead_zone = 5.0f;

cvar_handle clheight("clheight");

float clamped(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// A position moved along a line between two walls, folded back at each bounce; `turned` tells
// whether it arrives going the other way.
float folded(float y, float lo, float hi, bool& turned) {
    const float span = hi - lo;
    float t = std::fmod(y - lo, 2.0f * span);
    if (t < 0)
        t += 2.0f * span;
    turned = t > span;
    return lo + (turned ? 2.0f * span - t : t);
}

} // namespace

ccomputer::ccomputer(const cgame& played, std::int32_t which_side, std::uint32_t seed)
    : game(played), side(which_side), random(seed) {}

// The seating has taken this paddle's keys from the people: it only holds its own.
void ccomputer::hold_keys(std::uint8_t (&keys)[256], std::uint32_t ms) {
    const cpaddle* paddle = side == 0 ? game.left : game.right;
    if (!paddle || !game.ball || game.state < game_serve_wait)
        return; // the menu, the intro and the pause are the people's
    if (ms > 0)
        step = static_cast<float>(ms) * game.speed * steps_per_ms_and_speed;

    bool space = false;
    const std::int32_t way =
        game.state == game_in_play ? in_play(*paddle, ms) : before_serve(*paddle, ms, space);
    if (space && game.state == game_serve_wait && game.server == side)
        hold_key(keys, os::DIK_SPACE);
    if (way > 0)
        hold_key(keys, paddle->up_key);
    else if (way < 0)
        hold_key(keys, paddle->down_key);
}

// Waits for the serve in the middle; as the server, serves after a pause of its own once the
// serve is ready, now and then with the paddle moving to send the ball up or down.
std::int32_t ccomputer::before_serve(const cpaddle& paddle, std::uint32_t ms, bool& space) {
    returning = false;
    target = field_height() / 2;
    if (game.state != game_serve_wait || game.server != side || !game.serve_is_ready()) {
        serve_planned = false;
        return steer(paddle, target);
    }
    if (!serve_planned)
        plan_serve(paddle); // the pause counts from this frame on
    else
        serve_pause_ms = serve_pause_ms > ms ? serve_pause_ms - ms : 0;
    space = serve_pause_ms == 0;
    if (serve_way != 0 && serve_pause_ms <= serve_run_up_ms)
        return serve_way;
    return steer(paddle, target);
}

void ccomputer::plan_serve(const cpaddle& paddle) {
    serve_planned = true;
    serve_pause_ms = static_cast<std::uint32_t>(uniform(serve_pause_min_ms, serve_pause_max_ms));
    serve_way = 0;
    if (uniform(0, 1) < 0.5f) {
        serve_way = uniform(0, 1) < 0.5f ? 1 : -1;
        // Towards an edge it would stop dead and serve level: the other way.
        if (serve_way > 0 ? paddle.y > field_height() - 2 * half_paddle
                          : paddle.y < 2 * half_paddle)
            serve_way = -serve_way;
    }
}

std::int32_t ccomputer::in_play(const cpaddle& paddle, std::uint32_t ms) {
    const bool coming = (game.ball->heading == 1) == (side == 1);
    if (!coming) {
        returning = false;
        target = field_height() / 2;
        return steer(paddle, target);
    }
    if (!returning)
        plan_return();
    if (reaction_ms > 0) {
        reaction_ms = reaction_ms > ms ? reaction_ms - ms : 0;
        return steer(paddle, target);
    }
    float steps_left = 0;
    std::int32_t ball_way = 0;
    const float meet = predicted_y(paddle, steps_left, ball_way) + aim_error;
    // With or against the ball's way up or down; a level ball has none, and any way will do.
    const std::int32_t swing = ball_way != 0 ? ball_way * swing_way : swing_way;
    if (swing != 0 && steps_left <= swing_steps)
        return swing;
    // A swing covers about steps² + steps · step units from a standstill: start that far back.
    const float run_up = swing_way == 0 ? 0.0f : swing_steps * (swing_steps + step);
    return steer(paddle, meet - static_cast<float>(swing) * run_up);
}

// Once per ball that heads this way: how long it takes to see it, how far off it aims, and
// whether it meets the ball with the paddle moving.
void ccomputer::plan_return() {
    returning = true;
    const float speed2 = game.ball->vx * game.ball->vx + game.ball->vy * game.ball->vy;
    const float speed = std::sqrt(speed2);
    reaction_ms = static_cast<std::uint32_t>(reaction_base_ms + reaction_ms_per_speed * speed +
                                             uniform(0, reaction_spread_ms));
    // The sum of three uniform draws: a bell of spread 1, never beyond 3.
    const float bell = uniform(-1, 1) + uniform(-1, 1) + uniform(-1, 1);
    const float fast = std::fmax(speed - fast_ball_speed, 0.0f);
    aim_error = bell * (aim_error_base + aim_error_per_speed2 * speed2 +
                        aim_error_per_fast_speed2 * fast * fast);
    // A swing goes with the ball or against it, as the ball comes; a level ball any way.
    const bool slow = speed < slow_ball_speed;
    const bool fast_ball = speed > fast_ball_speed;
    const float with_ball = slow        ? swing_with_slow_ball
                            : fast_ball ? swing_with_fast_ball
                                        : swing_with_ball;
    swing_way = 0;
    if (uniform(0, 1) < (slow ? swing_chance_slow : swing_chance))
        swing_way = uniform(0, 1) < with_ball ? 1 : -1;
    swing_steps = uniform(2, 4);
}

float ccomputer::predicted_y(const cpaddle& paddle, float& steps_left,
                             std::int32_t& ball_way) const {
    const cball& ball = *game.ball;
    const float line = side == 1 ? paddle.x - hit_depth : paddle.x + hit_depth;
    const float across = std::fabs(line - ball.x);
    const float per_frame_x = std::fmin(std::fabs(step * ball.vx), max_ball_move);
    const float frames = per_frame_x > 0 ? across / per_frame_x : 0.0f;
    steps_left = frames * step;
    const float per_frame_y = clamped(step * ball.vy, -max_ball_move, max_ball_move);
    bool turned = false;
    const float y =
        folded(ball.y + per_frame_y * frames, ball_radius, field_height() - ball_radius, turned);
    ball_way = ball.vy == 0 ? 0 : (ball.vy > 0) != turned ? 1 : -1;
    return y;
}

std::int32_t ccomputer::steer(const cpaddle& paddle, float to) const {
    const float goal = clamped(to, half_paddle, field_height() - half_paddle);
    const float off = goal - paddle.y;
    const float v = paddle.velocity;
    if (std::fabs(off) < dead_zone)
        return 0;
    const std::int32_t way = off > 0 ? 1 : -1;
    if (v * static_cast<float>(way) <= 0)
        return way; // still, or moving away: the other key brakes harder than friction
    const float glide = v * v / (2.0f * paddle_friction);
    return glide >= std::fabs(off) ? 0 : way;
}

float ccomputer::uniform(float lo, float hi) {
    const float unit = static_cast<float>(random()) / 4294967296.0f;
    return lo + (hi - lo) * unit;
}

float ccomputer::field_height() const { return static_cast<float>(clheight.value()); }
