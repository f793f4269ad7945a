#include "game/game.h"

#include "base/log.h"
#include "cvar/cvars.h"
#include "game/menu.h"
#include "os/clock.h"
#include "os/keys.h"
#include "os/timers.h"
#include "platform/input.h"
#include "sound/dxplay.h"

#include <new>
#include <random>

csample* sample_ace = nullptr;
csample* sample_fastball = nullptr;
csample* sample_slowball = nullptr;
csample* sample_voice = nullptr;
csample* sample_apply = nullptr;
std::int32_t medal_shown = 0;
std::int32_t medal_kind = medal_none;
coutside* game_outside = nullptr;
std::int32_t samples_muted = 0;

namespace {

std::int32_t rally_hits = 0; // paddle hits since the last point
std::int32_t medals_awarded = 0;
std::int32_t medals_heard = 0; // a guest's: the last medal it voiced
std::int32_t serve_ready = 0;  // a launch is allowed
os::timer_id serve_timer = 0;
os::timer_id medal_timer = 0;

// One-shot timers: each ends on its first call.
void end_timer_now(std::int32_t timer) {
    if (timer == 0) {
        serve_ready = 1;
        os::kill_timer(0, serve_timer);
    } else {
        medal_shown = 0;
        os::kill_timer(0, medal_timer);
    }
}

// The clock's firing, unless the outside says it does not count: the timer still ends.
void timer_went_off(std::int32_t timer) {
    if (!game_outside || game_outside->timer_fired(timer))
        end_timer_now(timer);
    else
        os::kill_timer(0, timer == 0 ? serve_timer : medal_timer);
}

void serve_timer_proc(os::hwnd, std::uint32_t, os::timer_id, std::uint32_t) { timer_went_off(0); }

void medal_timer_proc(os::hwnd, std::uint32_t, os::timer_id, std::uint32_t) { timer_went_off(1); }

// rand() mod (hi - lo + 1) + lo from a generator seeded anew with the calendar's whole seconds
// at every call: all calls within one second draw the same raw value.
std::int32_t random_range(std::int32_t lo, std::int32_t hi) {
    const std::int64_t seconds =
        game_outside ? game_outside->calendar_seconds() : os::calendar_seconds();
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
    const auto raw = static_cast<std::int32_t>(generator()); // below 2^31 - 1
    return raw % (hi - lo + 1) + lo;
}

float abs_value(float v) { return v < 0.0f ? -v : v; }

std::int32_t sign_of(float v) { return v >= 0.0f ? 1 : -1; }

constexpr std::uint32_t intro_serve_delay_ms = 500;
constexpr std::uint32_t point_serve_delay_ms = 1000;
constexpr std::uint32_t medal_show_ms = 3000;
// Squared speeds (vx² + vy²) that earn a medal.
constexpr float fast_ball_speed2 = 66.75f;
constexpr float slow_ball_speed2 = 3.8461537f;

cvar_handle clwidth("clwidth");
cvar_handle clheight("clheight");

float client_width() { return static_cast<float>(clwidth.value()); }
float client_height() { return static_cast<float>(clheight.value()); }

void zero_game_wide_state() {
    sample_ace = sample_fastball = sample_slowball = sample_voice = sample_apply = nullptr;
    serve_ready = 0;
    serve_timer = 0;
    medal_shown = 0;
    medal_timer = 0;
    medal_kind = medal_none;
    rally_hits = 0;
    medals_awarded = 0;
    medals_heard = 0;
}

csample* load_sample(const char* name) {
    log_printf(main_log, " (cgame) loading sound file %s : ", name);
    csample* sample = dxplay_load(name);
    log_printf(main_log, sample ? "OK\n" : "FAILED\n");
    return sample;
}

void open_sound() {
    log_printf(main_log, " (cgame) loading DXPLAY sound system : ");
    log_printf(main_log, dxplay_open(0) ? "OK\n" : "FAILED\n");
    sample_ace = load_sample("data/ace.wav");
    sample_fastball = load_sample("data/fastball.wav");
    sample_slowball = load_sample("data/slowball.wav");
    sample_voice = load_sample("data/voice.wav");
    sample_apply = load_sample("data/apply.wav");
}

// Without a timer the serve could never become ready: it is ready at once.
void start_serve_delay(std::uint32_t ms) {
    serve_ready = 0;
    serve_timer = os::set_timer(0, 0, ms, serve_timer_proc);
    if (serve_timer == 0)
        serve_ready = 1;
}

// The steps of game time a frame of `frame_ms` makes at game speed `speed`.
float steps_of(std::uint32_t frame_ms, float speed) {
    return static_cast<float>(frame_ms) * speed * steps_per_ms_and_speed;
}

// Keys push the paddle; without them friction brakes it to exactly 0. The edges stop it dead.
void move_paddle(cpaddle& paddle, bool up, bool down, float step, float height) {
    if (up) {
        paddle.velocity += paddle_push * step;
    } else if (down) {
        paddle.velocity -= paddle_push * step;
    } else if (paddle.velocity > 0) {
        paddle.velocity -= paddle_friction * step;
        if (paddle.velocity < 0)
            paddle.velocity = 0;
    } else if (paddle.velocity < 0) {
        paddle.velocity += paddle_friction * step;
        if (paddle.velocity > 0)
            paddle.velocity = 0;
    }
    paddle.y += step * paddle.velocity;
    if (paddle.y + half_paddle > height) {
        paddle.y = height - half_paddle;
        paddle.velocity = 0;
    } else if (paddle.y - half_paddle < 0) {
        paddle.y = half_paddle;
        paddle.velocity = 0;
    }
}

float limited(float move) {
    return move > max_ball_move ? max_ball_move : move < -max_ball_move ? -max_ball_move : move;
}

bool within_paddle_height(const cpaddle& paddle, const cball& ball) {
    return paddle.y - half_paddle <= ball.y + ball_radius &&
           paddle.y + half_paddle >= ball.y - ball_radius;
}

// The hit band is 5 units deep before the paddle's line. A ball that lands in it is hit, and so
// is one whose move in this frame (up to 10 units, on a long frame) carried it from before the
// band to beyond it: a paddle in the ball's way always returns it. `front` is the ball's centre
// moved 5 units towards the paddle (+ 5 on the right, - 5 on the left), before and after the
// move.
bool reaches_right_band(float front_before, float front_after, float paddle_x) {
    const float band_far = paddle_x - hit_band_far, band_near = paddle_x - hit_band_near;
    const bool in_band = band_far <= front_after && front_after <= band_near;
    const bool jumped_band = front_before < band_far && front_after > band_near;
    return in_band || jumped_band;
}

bool reaches_left_band(float front_before, float front_after, float paddle_x) {
    const float band_far = paddle_x + hit_band_far, band_near = paddle_x + hit_band_near;
    const bool in_band = band_near <= front_after && front_after <= band_far;
    const bool jumped_band = front_before > band_far && front_after < band_near;
    return in_band || jumped_band;
}

// A ball flying level takes half the paddle's velocity; a still paddle changes nothing.
void level_hit(cball& ball, float paddle_velocity) {
    if (paddle_velocity != 0)
        ball.vy = 0.5f * paddle_velocity;
}

// The two paddles return the ball differently: a same-way hit speeds it up by |v| on the right
// but by |v| / 2 on the left, an opposite-way hit slows it by |v| / 2 on the right but by
// |v| / 23 on the left.
void hit_by_right(cball& ball, float v) {
    const float product = ball.vy * v;
    if (product > 0) {
        ball.vy = ball.vy + 0.5f * v;
        ball.vx = ball.vx + abs_value(v);
    } else if (product < 0) {
        ball.vy = ball.vy / (abs_value(v) + 1.0f);
        ball.vx = ball.vx - 0.5f * abs_value(v);
    } else {
        level_hit(ball, v);
    }
    ball.vx = -abs_value(ball.vx);
    if (ball.vx > -0.5f)
        ball.vx = -0.5f;
    ball.heading = 0;
}

void hit_by_left(cball& ball, float v) {
    const float product = ball.vy * v;
    if (product > 0) {
        ball.vy = ball.vy + 0.5f * v;
        ball.vx = ball.vx - 0.5f * abs_value(v);
    } else if (product < 0) {
        ball.vy = ball.vy / (abs_value(v) + 1.0f);
        ball.vx = ball.vx + abs_value(v) * 0.04347826f;
    } else {
        level_hit(ball, v);
    }
    ball.vx = abs_value(ball.vx);
    if (ball.vx < 0.5f)
        ball.vx = 0.5f;
    ball.heading = 1;
}

// Over the limit a velocity is halved, not clamped: 20 becomes 5, not 8.
void apply_speed_limits(cball& ball) {
    while (abs_value(ball.vx) > 8.0f)
        ball.vx *= 0.5f;
    while (abs_value(ball.vy) > 5.0f)
        ball.vy *= 0.5f;
    if (abs_value(ball.vy) < 0.1f)
        ball.vy = 0;
}

std::int32_t medal_for(const cball& ball) {
    if (rally_hits == 0)
        return medal_ace; // nobody touched the ball since the serve
    const float speed2 = ball.vx * ball.vx + ball.vy * ball.vy;
    if (speed2 >= fast_ball_speed2)
        return medal_fast;
    if (speed2 <= slow_ball_speed2)
        return medal_slow;
    return medal_none;
}

void delete_paddle(cpaddle*& paddle) {
    if (!paddle)
        return;
    *paddle = cpaddle(0);
    delete paddle;
    paddle = nullptr;
}

void delete_input(cinput*& input) {
    if (!input)
        return;
    input->release();
    delete input;
    input = nullptr;
}

} // namespace

ball_step step_ball(cball& ball, float step, float width, float height, const cpaddle& left,
                    const cpaddle& right) {
    const float x_before = ball.x;
    ball.x += limited(step * ball.vx);
    ball.y += limited(step * ball.vy);
    if (ball.y + ball_radius >= height) {
        ball.vy = -ball.vy;
        ball.y = height - ball_radius - 1.0f;
    } else if (ball.y - ball_radius <= 0) {
        ball.vy = -ball.vy;
        ball.y = 11.0f;
    }

    // Only the paddle the ball is heading for can return it.
    if (ball.heading == 1) {
        if (ball.x >= width) {
            ball.scorer = 1;
            apply_speed_limits(ball); // also on the frame the ball went out
            return ball_step::out;
        }
        if (within_paddle_height(right, ball) &&
            reaches_right_band(x_before + ball_front, ball.x + ball_front, right.x)) {
            hit_by_right(ball, right.velocity);
            apply_speed_limits(ball);
            return ball_step::returned;
        }
    } else {
        if (ball.x <= 0) {
            ball.scorer = 2;
            apply_speed_limits(ball);
            return ball_step::out;
        }
        if (within_paddle_height(left, ball) &&
            reaches_left_band(x_before - ball_front, ball.x - ball_front, left.x)) {
            hit_by_left(ball, left.velocity);
            apply_speed_limits(ball);
            return ball_step::returned;
        }
    }
    apply_speed_limits(ball);
    return ball_step::flew;
}

void play_sample(csample* sample) {
    if (sample && !samples_muted)
        sample->play();
}

void cball::launch(float paddle_y, float paddle_velocity, std::int32_t from_right) {
    const std::int32_t direction = paddle_velocity == 0.0f ? 0 : sign_of(paddle_velocity);
    x = from_right ? client_width() - ball_radius - 1.0f : 11.0f;
    heading = from_right ? 0 : 1;
    const std::int32_t n = random_range(1, 8);
    vx = static_cast<float>(from_right ? -n : n);
    const std::int32_t m = random_range(0, n); // nearly always the same second: the same raw value
    y = paddle_y;
    vy = static_cast<float>(m * direction) * 0.6666667f;
}

void cgame::end_timer(std::int32_t timer) { end_timer_now(timer == 0 ? 0 : 1); }

bool cgame::serve_is_ready() const { return serve_ready != 0; }

std::int32_t cgame::hits_since_point() const { return rally_hits; }

namespace {

void play_medal(std::int32_t kind) {
    if (kind == medal_ace)
        play_sample(sample_ace);
    else if (kind == medal_fast)
        play_sample(sample_fastball);
    else if (kind == medal_slow)
        play_sample(sample_slowball);
}

} // namespace

cshown cgame::shown() const {
    cshown now;
    now.state = state;
    now.server = server;
    now.ball_x = ball->x;
    now.ball_y = ball->y;
    now.ball_vx = ball->vx;
    now.ball_vy = ball->vy;
    now.heading = ball->heading;
    now.left_y = left->y;
    now.left_velocity = left->velocity;
    now.right_y = right->y;
    now.right_velocity = right->velocity;
    now.left_score = left->score;
    now.right_score = right->score;
    now.medal_shown = medal_shown;
    now.medal_kind = medal_kind;
    now.medals_awarded = medals_awarded;
    now.speed = speed;
    return now;
}

void cgame::show(const cshown& host, std::int32_t own_side, bool joining) {
    if (state != game_menu)
        state = host.state == game_menu ? game_paused : host.state;
    server = host.server;
    ball->x = host.ball_x;
    ball->y = host.ball_y;
    ball->vx = host.ball_vx;
    ball->vy = host.ball_vy;
    ball->heading = host.heading;
    cpaddle& other = own_side == 0 ? *right : *left;
    other.y = own_side == 0 ? host.right_y : host.left_y;
    other.velocity = own_side == 0 ? host.right_velocity : host.left_velocity;
    left->score = host.left_score;
    right->score = host.right_score;
    medal_shown = host.medal_shown;
    medal_kind = host.medal_kind;
    speed = host.speed;
    // No serve delay runs here: the host's wait for a serve is ready as far as this side can
    // tell, so that a computer at this side's paddle serves; the host takes the SPACE once its
    // own delay is over.
    if (host.state == game_serve_wait)
        serve_ready = 1;
    if (host.medals_awarded != medals_heard) {
        medals_heard = host.medals_awarded;
        if (!joining)
            play_medal(host.medal_kind);
    }
}

std::uint8_t cgame::read_side_keys(std::int32_t side, std::uint32_t frame_ms) {
    input->read_state(frame_ms);
    const cpaddle& paddle = side == 0 ? *left : *right;
    std::uint8_t keys = 0;
    if (input->key_down(static_cast<std::uint8_t>(paddle.up_key)))
        keys |= side_key_up;
    if (input->key_down(static_cast<std::uint8_t>(paddle.down_key)))
        keys |= side_key_down;
    if (input->key_down(os::DIK_SPACE))
        keys |= side_key_space;
    return keys;
}

void cgame::push_paddle(std::int32_t side, std::uint8_t keys, std::uint32_t frame_ms) {
    const float step = steps_of(frame_ms, speed);
    move_paddle(side == 0 ? *left : *right, (keys & side_key_up) != 0, (keys & side_key_down) != 0,
                step, client_height());
}

void cgame::place_paddle(std::int32_t side, float y, float velocity) {
    cpaddle& paddle = side == 0 ? *left : *right;
    paddle.y = y;
    paddle.velocity = velocity;
}

int cgame::init() {
    zero_game_wide_state();
    left = new (std::nothrow) cpaddle(0);
    right = new (std::nothrow) cpaddle(1);
    ball = new (std::nothrow) cball;
    input = new (std::nothrow) cinput;
    if (!left || !right || !ball || !input)
        return 0;

    speed = 10.0f;
    left->x = 0.0f;
    right->x = client_width();
    input->init(); // a keyboard that fails is in the log; the game goes on without keys
    bind_player_keys();
    open_sound();
    return 1;
}

int cgame::reattach() {
    delete_input(input);
    input = new (std::nothrow) cinput;
    if (!input || !input->init())
        return 0;
    bind_player_keys();
    return 1;
}

void cgame::bind_player_keys() {
    set_keys(os::DIK_UP, os::DIK_DOWN, os::DIK_LSHIFT, os::DIK_LCONTROL);
}

int cgame::set_keys(std::int32_t right_up, std::int32_t right_down, std::int32_t left_up,
                    std::int32_t left_down) {
    if (!left || !right)
        return 0;
    right->up_key = right_up;
    right->down_key = right_down;
    left->up_key = left_up;
    left->down_key = left_down;
    return 1;
}

void cgame::shutdown() {
    log_printf(main_log, " (cgame) releasing sound samples\n");
    // apply.wav goes with the close, which releases every sample still loaded.
    for (csample* sample : {sample_ace, sample_voice, sample_fastball, sample_slowball})
        dxplay_unload(sample);
    log_printf(main_log, " (cgame) closing DXPLAY sound system\n");
    dxplay_close();
    // No timer outlives the game; the samples are gone with the sound system.
    os::kill_timer(0, serve_timer);
    os::kill_timer(0, medal_timer);
    zero_game_wide_state();
    delete_input(input);
    delete_paddle(left);
    delete_paddle(right);
    delete ball;
    ball = nullptr;
    state = game_menu;
}

// The game's state machine, whole. Nothing outside the game changes its state; the window
// procedure and the menu ask for it through the operations below.
//   game_menu        -> the state the menu remembered    "continue" in the menu (resume_from)
//   game_intro       -> game_serve_wait                  SPACE (update)
//   game_serve_wait  -> game_in_play                     SPACE once the serve is ready (update)
//   game_in_play     -> game_point                       the ball passes an edge (update)
//   game_point       -> game_serve_wait                  the next update counts the point
//   game_in_play     -> game_paused, and back            P (toggle_pause)
//   game_serve_wait, game_in_play -> game_menu           ESCAPE (open_menu)
// The game starts in game_menu, the menu remembering game_intro, and shutdown() leaves it there.
void cgame::open_menu(cmenu& menu) {
    if (state == game_serve_wait || state == game_in_play) {
        menu.resume_state = state;
        state = game_menu;
    }
}

void cgame::toggle_pause() {
    if (state == game_paused)
        state = game_in_play;
    else if (state == game_in_play)
        state = game_paused;
}

void cgame::resume_from(const cmenu& menu) { state = menu.resume_state; }

void cgame::take_client_width(std::int32_t width) {
    if (right)
        right->x = static_cast<float>(width);
}

int cgame::update(std::uint32_t frame_ms) {
    if (!left || !right || !input)
        return 0;
    input->read_state(frame_ms);
    const float width = client_width();
    const float height = client_height();
    const float step = steps_of(frame_ms, speed);

    if (state == game_intro && input->key_down(os::DIK_SPACE)) {
        state = game_serve_wait;
        input->set_key(os::DIK_SPACE, 0); // this press is used up
        start_serve_delay(intro_serve_delay_ms);
        return 1;
    }
    if (state < game_serve_wait)
        return 1; // menu, intro and pause: nothing moves
    if (state == game_serve_wait && input->key_down(os::DIK_SPACE) && serve_ready)
        launch_from_server();

    for (cpaddle* paddle : {right, left})
        move_paddle(*paddle, input->key_down(static_cast<std::uint8_t>(paddle->up_key)),
                    input->key_down(static_cast<std::uint8_t>(paddle->down_key)), step, height);
    if (state == game_in_play) {
        move_ball(step, width, height);
    } else if (state == game_point) {
        score_point();
    }
    return 1;
}

void cgame::launch_from_server() {
    state = game_in_play;
    serve_ready = 0;
    if (server == 1)
        ball->launch(right->y, right->velocity, 1);
    else
        ball->launch(left->y, left->velocity, 0);
    server = server == 0 ? 1 : 0; // alternates at every launch, whoever scored
    os::kill_timer(0, medal_timer);
}

void cgame::move_ball(float step, float width, float height) {
    switch (step_ball(*ball, step, width, height, *left, *right)) {
    case ball_step::returned:
        ++rally_hits;
        break;
    case ball_step::out:
        state = game_point;
        break;
    case ball_step::flew:
        break;
    }
}

void cgame::score_point() {
    cpaddle* scorer = ball->scorer == 1 ? left : right;
    scorer->score += 1;
    medal_timer = os::set_timer(0, 0, medal_show_ms, medal_timer_proc);
    medal_shown = medal_timer != 0; // without a timer to take it away, no medal is shown
    state = game_serve_wait;

    medal_kind = medal_for(*ball);
    if (medal_kind != medal_none)
        medals_awarded = (medals_awarded + 1) % 256;
    if (medal_kind == medal_none)
        medal_shown = 0; // no medal; its timer still runs and clears a flag already clear
    else
        play_medal(medal_kind);
    rally_hits = 0;
    start_serve_delay(point_serve_delay_ms);
}
