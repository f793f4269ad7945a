// The game itself: two paddles at the left and right edges of the client area, a ball between
// them, the serve, the points and the medals. Coordinates are client-area units, one per pixel,
// origin at the lower-left corner, y upward. Everything here runs on the main thread: update()
// from the main loop, the operations the window procedure and the menu ask for, and the two timer
// callbacks from the message pump. Only the game changes its own state: the state machine is
// game/game.cpp's.
#pragma once

#include "os/types.h"

#include <cstdint>

class cinput;
class cmenu;
class csample;

// Game states; the transitions between them are listed in game/game.cpp.
enum : std::int32_t {
    game_menu = 0,       // the game menu is open
    game_intro = 1,      // the intro picture, waiting for SPACE
    game_paused = 2,     // paused with P
    game_serve_wait = 3, // waiting for the serve
    game_in_play = 4,    // the ball is in play
    game_point = 5,      // a point was scored, counted on the next update
};

// Medals, as medal_kind holds them.
enum : std::int32_t {
    medal_none = 0,
    medal_ace = 1,
    medal_fast = 2,
    medal_slow = 3,
};

// The game's measures, in client-area units and steps of game time. The computer player reckons
// with the same ones.
inline constexpr float half_paddle = 50.0f; // the paddle is 100 units tall
inline constexpr float ball_radius = 10.0f;
inline constexpr float max_ball_move = 10.0f;  // per frame, on each axis
inline constexpr float paddle_push = 2.0f;     // what a held key adds to the velocity per step
inline constexpr float paddle_friction = 0.8f; // what friction takes from it per step
// A frame of `ms` milliseconds at game speed `speed` lasts ms * speed * this many steps.
inline constexpr float steps_per_ms_and_speed = 0.006666667f;
// The hit band: a ball is returned while its front, this far ahead of its centre, lies 5 to 10
// units before the paddle's line.
inline constexpr float ball_front = 5.0f;
inline constexpr float hit_band_near = 5.0f;
inline constexpr float hit_band_far = 10.0f;

// What the game takes from outside besides its keys and frame lengths: the calendar's seconds
// for its random draws, and its timers going off. A replay's recorder keeps them; its player
// gives the calendar's back and sets the timers off itself (cgame::end_timer).
class coutside {
public:
    virtual ~coutside() = default;
    // The calendar's whole seconds for a random draw.
    virtual std::int64_t calendar_seconds() = 0;
    // The serve (0) or the medal (1) timer went off by the clock; false when that does not
    // count (a replay being played sets them off at its recorded frames).
    virtual bool timer_fired(std::int32_t timer) = 0;
};

// Null: the game reads the calendar itself and nobody hears of its timers.
extern coutside* game_outside;

class cpaddle {
public:
    explicit cpaddle(std::int32_t which_side)
        : side(which_side), x(0), y(0), velocity(0), up_key(0), down_key(0), score(0) {}

    std::int32_t side; // 0 left, 1 right
    float x;           // the outer edge: 0 for the left paddle, the client width for the right
    float y;           // vertical centre; the paddle is 100 units tall
    float velocity;    // units per step, positive upward
    std::int32_t up_key;
    std::int32_t down_key;
    std::int32_t score;
};

class cball {
public:
    cball() : x(0), y(0), vx(0), vy(0), heading(0), scorer(0) {}

    // Serves from a paddle: y and velocity are the server's, from_right 1 for the right paddle.
    void launch(float paddle_y, float paddle_velocity, std::int32_t from_right);

    float x; // centre; the radius is 10
    float y;
    float vx; // units per step
    float vy;
    std::int32_t heading; // 1 toward the right paddle, 0 toward the left one
    std::int32_t scorer;  // once the ball is out: 1 the left player scored, 2 the right one
};

// What a ball's move in one frame came to.
enum class ball_step { flew, returned, out };

// The ball's move in one frame of `step` steps of game time, by the rules: the walls, the paddle
// it heads for, the edge behind it, the speed limits. It changes nothing but the ball, so that a
// guest can run the host's ball on with it.
ball_step step_ball(cball& ball, float step, float width, float height, const cpaddle& left,
                    const cpaddle& right);

// What a game shows and sounds, as a host sends it across the network for its guest to draw.
struct cshown {
    std::int32_t state = game_menu;
    std::int32_t server = 0;
    float ball_x = 0, ball_y = 0, ball_vx = 0, ball_vy = 0;
    std::int32_t heading = 0;
    float left_y = 0, left_velocity = 0, right_y = 0, right_velocity = 0;
    std::int32_t left_score = 0, right_score = 0;
    std::int32_t medal_shown = 0, medal_kind = medal_none;
    std::int32_t medals_awarded = 0; // counts up, wrapping at 256: each new one is voiced once
    float speed = 10;
};

// The keys of one paddle as a byte: what a guest sends its host, and what it moves its own
// paddle by.
enum : std::uint8_t {
    side_key_up = 1,
    side_key_down = 2,
    side_key_space = 4,
};

class cgame {
public:
    cgame()
        : left(nullptr), right(nullptr), ball(nullptr), input(nullptr), state(game_menu), server(0),
          speed(0) {}
    cgame(const cgame&) = delete;
    cgame& operator=(const cgame&) = delete;

    // The paddles, the ball, the keyboard, the sound system and the samples. A failed keyboard
    // or sound system is only logged; 0 only when the game's own objects cannot be allocated.
    int init();
    // After a video restart: a keyboard object for the new window, and the key bindings.
    int reattach();
    int set_keys(std::int32_t right_up, std::int32_t right_down, std::int32_t left_up,
                 std::int32_t left_down);
    // One frame, scaled by the length of the last one (in ms) and by the game speed.
    int update(std::uint32_t frame_ms);
    // ESCAPE: opens the menu from play or before a serve; the menu remembers which to resume.
    void open_menu(cmenu& menu);
    // P: pauses play, or resumes it.
    void toggle_pause();
    // The menu's "continue": back to the state the menu remembered.
    void resume_from(const cmenu& menu);
    // After a video restart: the right paddle stands at the new edge.
    void take_client_width(std::int32_t width);
    void shutdown();
    // The serve (0) or the medal (1) timer's end, as its callback does it, without asking the
    // outside.
    void end_timer(std::int32_t timer);
    // A serve is allowed: the delay after the last point or the intro is over.
    bool serve_is_ready() const;
    // Paddle hits since the last point; none at a point makes it an ace.
    std::int32_t hits_since_point() const;

    // Across the network. The host's game sends what it shows; the guest's game runs none of
    // the rules but its own paddle's (it answers the guest's keys at once, as at home) and
    // shows the host's state for the rest, the medal's voice included. The menu open at the
    // guest stays on its screen; the host's menu shows there as a pause.
    cshown shown() const;
    // `joining`: the first state after a join, whose medal count is taken without a voice.
    void show(const cshown& host, std::int32_t own_side, bool joining = false);
    // The game's keys read as update() reads them (every pair of hands included); the keys of
    // `side`'s paddle.
    std::uint8_t read_side_keys(std::int32_t side, std::uint32_t frame_ms);
    // One frame of `frame_ms` of a paddle moved by `keys` (side_key_*) under the rules.
    void push_paddle(std::int32_t side, std::uint8_t keys, std::uint32_t frame_ms);
    // Sets a paddle where the host says it stood, before the guest's later frames are pushed
    // again.
    void place_paddle(std::int32_t side, float y, float velocity);

    cpaddle* left;
    cpaddle* right;
    cball* ball;
    cinput* input;
    std::int32_t state;
    std::int32_t server; // who serves next: 0 left, 1 right
    float speed;         // 10, 12 or 14

private:
    void bind_player_keys(); // right: UP and DOWN; left: LSHIFT and LCTRL
    void launch_from_server();
    void move_ball(float step, float width, float height);
    void score_point();
};

// The game, owned by the main loop; null while it does not exist.
extern cgame* main_game;

// Game-wide state beside the object, shared with the menu and the scene renderer.
extern csample* sample_ace;
extern csample* sample_fastball;
extern csample* sample_slowball;
extern csample* sample_voice;
extern csample* sample_apply;
extern std::int32_t medal_shown; // a medal is on show
extern std::int32_t medal_kind;

// Nonzero: samples are not played (a replay played faster or slower than it was recorded).
extern std::int32_t samples_muted;

// Plays a sample when it was loaded and samples are not muted.
void play_sample(csample* sample);
