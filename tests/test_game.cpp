#include "cvar/cvars.h"
#include "game/computer.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/sound.h"
#include "os/window.h"
#include "platform/input.h"
#include "platform/window.h"
#include "sound/dxplay.h"
#include "support/test_env.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>

namespace {

void hold(std::uint8_t key) { os::seam::press_key(main_window->hwnd, key); }
void let_go(std::uint8_t key) { os::seam::release_key(main_window->hwnd, key); }

// The game on a 640 x 480 client area, driven frame by frame on the manual clock.
class game_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_NO_FATAL_FAILURE(start_game_in_focused_window());
        game = main_game;
    }

    // What the main loop does around one update: time passes, the messages (timers) are
    // dispatched, and the update sees the frame's length.
    void frame(std::uint32_t ms = 15) {
        os::seam::advance_clock_ms(ms);
        dispatch_waiting_messages();
        game->update(ms);
    }

    // Both paddles at the bottom, still, the ball in play as given.
    void ball_in_play(float x, float y, float vx, float vy, std::int32_t heading) {
        game->state = game_serve_wait;
        frame();
        *game->ball = cball();
        game->ball->x = x;
        game->ball->y = y;
        game->ball->vx = vx;
        game->ball->vy = vy;
        game->ball->heading = heading;
        game->state = game_in_play;
    }

    cgame* game = nullptr;
};

TEST_F(game_test, PaddlesAccelerateBrakeToExactlyZeroAndStopAtTheBottom) {
    game->state = game_serve_wait;
    frame();
    EXPECT_EQ(game->left->y, 50.0f) << "the first frame puts both paddles at the bottom";
    EXPECT_EQ(game->right->y, 50.0f);

    hold(os::DIK_UP); // 15 ms at speed 10: one step
    frame();
    frame();
    EXPECT_EQ(game->right->velocity, 4.0f);
    EXPECT_EQ(game->right->y, 56.0f); // + 2, + 4
    EXPECT_EQ(game->left->y, 50.0f) << "UP is the right player's";
    let_go(os::DIK_UP);
    for (int i = 0; i < 6; ++i)
        frame();
    EXPECT_EQ(game->right->velocity, 0.0f) << "friction brakes to 0 and never past it";

    game->speed = 14.0f; // a step of 1.4
    hold(os::DIK_LCONTROL);
    frame();
    EXPECT_EQ(game->left->velocity, 0.0f) << "the bottom edge stops it dead";
    let_go(os::DIK_LCONTROL);
    hold(os::DIK_LSHIFT);
    frame();
    EXPECT_FLOAT_EQ(game->left->velocity, 2.8f);
}

// The paddle stands level with the ball, which reaches the hit band in this frame (one step).
const struct {
    const char* name;
    std::int32_t heading; // 1: at the right paddle
    float vx, vy, paddle_velocity /* at the moment of the hit */, expect_vx, expect_vy;
} hit_cases[] = {
    {"right, same way", 1, 3, 2, 4, -7, 4},
    {"left, same way", 0, -3, 2, 4, 5, 4},
    {"right, opposite way", 1, 3, 2, -4, -1, 0.4f},
    {"left, opposite way", 0, -3, 2, -4, 3 - 4 * 0.04347826f, 0.4f},
    {"right, ball level", 1, 3, 0, 4, -3, 2},
    {"left, paddle still", 0, -3, 2, 0, 3, 2},
    {"right, slow ball leaves at 0.5", 1, 0.2f, 2, 0, -0.5f, 2},
    {"left, slow ball leaves at 0.5", 0, -0.2f, 2, 0, 0.5f, 2},
    {"right, 20 is halved twice", 1, 16, 2, 4, -5, 4},
};

TEST_F(game_test, PaddleHitsFollowTheWayThePaddleMoves) {
    for (const auto& c : hit_cases) {
        SCOPED_TRACE(c.name);
        const bool right = c.heading == 1;
        // Band: centre x + 5 within 630..635 on the right, x - 5 within 5..10 on the left.
        const float x = right ? 627 - std::min(c.vx, 10.0f) : 13 - std::max(c.vx, -10.0f);
        ball_in_play(x, 240 - c.vy, c.vx, c.vy, c.heading);
        cpaddle& paddle = right ? *game->right : *game->left;
        paddle.y = 240;
        // Friction takes 0.8 off in the frame itself, before the ball moves.
        const float v = c.paddle_velocity;
        paddle.velocity = v > 0 ? v + 0.8f : v < 0 ? v - 0.8f : 0;
        const std::int32_t hits = game->hits_since_point();
        frame();
        EXPECT_FLOAT_EQ(game->ball->vx, c.expect_vx);
        EXPECT_FLOAT_EQ(game->ball->vy, c.expect_vy);
        EXPECT_EQ(game->ball->heading, right ? 0 : 1);
        EXPECT_EQ(game->hits_since_point(), hits + 1);
    }
}

// A long frame moves the ball 8 units, more than the 5-unit band is deep: from in front of the
// band to behind it. A paddle in its way returns it where it is; one out of its way lets it
// score.
TEST_F(game_test, ABallThatJumpsTheHitBandIsReturnedByAPaddleInItsWay) {
    for (const bool right : {true, false}) {
        for (const bool in_the_way : {true, false}) {
            SCOPED_TRACE(std::string(right ? "right" : "left") +
                         (in_the_way ? ", in the way" : ", out of the way"));
            // Right: x + 5 at 621, 629 (in front of the band 630..635), then 637 (behind it);
            // left: x - 5 at 19, 11, then 3, over the band 5..10.
            ball_in_play(right ? 616 : 24, 240, right ? 8 : -8, 0, right ? 1 : 0);
            cpaddle& paddle = right ? *game->right : *game->left;
            paddle.y = in_the_way ? 240 : 400;
            const std::int32_t hits = game->hits_since_point();
            frame(); // 15 ms at speed 10: one step
            EXPECT_EQ(game->hits_since_point(), hits) << "still in front of the band";
            frame();
            EXPECT_EQ(game->ball->x, right ? 632.0f : 8.0f) << "the ball is not moved back";
            EXPECT_EQ(game->ball->heading, in_the_way == right ? 0 : 1);
            EXPECT_EQ(game->hits_since_point(), hits + (in_the_way ? 1 : 0));
            frame();
            EXPECT_EQ(game->state, in_the_way ? game_in_play : game_point);
        }
    }
}

TEST_F(game_test, TheBallBouncesOffTheWallsAndItsVerticalSpeedIsHalvedOrDropped) {
    ball_in_play(320, 465, 1, 5, 1);
    frame();
    EXPECT_EQ(game->ball->y, 469.0f);
    EXPECT_EQ(game->ball->vy, -5.0f);
    ball_in_play(320, 15, 1, -5, 1);
    frame();
    EXPECT_EQ(game->ball->y, 11.0f);
    EXPECT_EQ(game->ball->vy, 5.0f);

    ball_in_play(320, 240, 1, 12, 1); // over the limit: halved, not clamped
    frame();
    EXPECT_EQ(game->ball->vy, 3.0f);
    ball_in_play(320, 240, 1, -0.05f, 1);
    frame();
    EXPECT_EQ(game->ball->vy, 0.0f);
}

TEST_F(game_test, APointEarnsTheFirstMedalWhoseRuleAppliesWithItsSample) {
    game->shutdown(); // to start again with the samples on a sound device
    std::filesystem::copy(std::filesystem::path(BREVOX_SOURCE_DIR) / "data", "data");
    os::seam::use_pulled_sound_device(true);
    ASSERT_EQ(game->init(), 1);
    ASSERT_TRUE(sample_ace && sample_fastball && sample_slowball && sample_voice);
    const float fast_vy = 1.6583124f; // 64 + vy² rounds to 66.75
    const float slow_vy = 1.6870547f; // 1 + vy² rounds to 3.8461537
    auto point = [&](float vx, float vy, bool touched) {
        if (touched) { // the right paddle returns a level ball
            ball_in_play(616, 240, 8, 0, 1);
            game->right->y = 240;
            frame();
            frame();
        }
        ball_in_play(700, 240, vx, vy, 1);
        game->state = game_point;
        game->ball->scorer = 2;
        frame();
    };
    point(1, 0, false); // an ace, on show for three seconds
    EXPECT_EQ(medal_shown, 1);
    frame(2900);
    EXPECT_EQ(medal_shown, 1);
    frame(200);
    EXPECT_EQ(medal_shown, 0);

    const struct {
        const char* name;
        bool touched; // a paddle returned the ball since the serve
        float vx, vy;
        std::int32_t kind;
    } cases[] = {
        {"untouched: ace, however fast", false, 8, fast_vy, medal_ace},
        {"untouched: ace, however slow", false, 1, 0, medal_ace},
        {"fast at the limit", true, 8, fast_vy, medal_fast},
        {"just below fast", true, 8, 1.6583f, medal_none},
        {"just above slow", true, 1, 1.6871f, medal_none},
        {"slow at the limit", true, 1, slow_vy, medal_slow},
    };
    csample* const sample_of[] = {nullptr, sample_ace, sample_fastball, sample_slowball};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        point(c.vx, c.vy, c.touched);
        EXPECT_EQ(medal_kind, c.kind);
        EXPECT_EQ(medal_shown, c.kind == medal_none ? 0 : 1);
        EXPECT_EQ(game->hits_since_point(), 0);
        for (csample* each : {sample_ace, sample_fastball, sample_slowball, sample_voice}) {
            EXPECT_EQ(is_playing(each), each == sample_of[c.kind]);
            each->stop();
        }
    }
    game->shutdown();
    EXPECT_EQ(game->update(15), 0) << "no paddles, nothing to do";
    os::seam::use_pulled_sound_device(false);
}

TEST_F(game_test, TheFirstServeWaitsForItsTimerAndWithoutATimerNothingWaits) {
    game->state = game_intro;
    hold(os::DIK_SPACE);
    frame();
    EXPECT_EQ(game->state, game_serve_wait);
    frame(490);
    EXPECT_EQ(game->state, game_serve_wait) << "the press that left the intro does not serve";
    frame(); // the 500 ms timer is dispatched before this update: the held SPACE serves
    EXPECT_EQ(game->state, game_in_play);
    EXPECT_EQ(game->ball->heading, 1) << "the left player serves first";
    EXPECT_EQ(game->ball->x, 11.0f + game->ball->vx) << "and the ball moved in the launch frame";
    EXPECT_EQ(game->ball->vy, 0.0f) << "a still paddle serves level";

    // Random play checks the delay after a point and the alternation. Without a timer the serve
    // is ready at once and no medal stays on show for ever.
    game->state = game_point;
    game->ball->scorer = 1;
    ASSERT_EQ(game->hits_since_point(), 0); // an ace
    os::seam::fail_call("set_timer", 0, 2);
    frame();
    EXPECT_EQ(std::pair(medal_shown, game->serve_is_ready()), std::pair(0, true));
    frame();
    EXPECT_EQ(game->state, game_in_play) << "the held SPACE serves in the next frame";
}

TEST_F(game_test, BothDrawsOfALaunchShareOneRawValue) {
    // n = R mod 8 + 1 and m = R mod (n + 1): for n of 1, 3 and 7, n + 1 divides 8 and m = n - 1,
    // which independent draws would miss about half the time.
    int determined = 0;
    for (int second = 0; second < 64; ++second, os::seam::advance_clock_ms(1000)) {
        game->ball->launch(240, 1.0f, 0); // a paddle moving up: vy = m * 2/3
        const auto n = static_cast<int>(game->ball->vx);
        const auto m = static_cast<int>(game->ball->vy * 1.5f + 0.5f);
        game->ball->launch(240, 1.0f, 0);
        EXPECT_EQ(static_cast<int>(game->ball->vx), n) << "the same second draws the same";
        if (n == 1 || n == 3 || n == 7) {
            EXPECT_EQ(m, n - 1) << "second " << second;
            ++determined;
        }
    }
    EXPECT_GT(determined, 8);
}

// The designed changes of the game state. By key messages: ESCAPE before a serve or in play, P
// into and out of the pause, the menu's "continue" back to the intro (after the start) or to
// where ESCAPE left the game. By updates: SPACE on the intro, the launch, the ball out, the point.
using transitions = std::set<std::pair<std::int32_t, std::int32_t>>;
const transitions by_key = {{game_serve_wait, game_menu}, {game_in_play, game_menu},
                            {game_in_play, game_paused},  {game_paused, game_in_play},
                            {game_menu, game_intro},      {game_menu, game_serve_wait},
                            {game_menu, game_in_play}};
const transitions by_update = {{game_intro, game_serve_wait},
                               {game_serve_wait, game_in_play},
                               {game_in_play, game_point},
                               {game_point, game_serve_wait}};

// The first invariant an update broke on the 640 x 480 field, or null. `was` holds the game
// before the update; its paddles stand at y 0 until the first frame that moves them.
const char* broken_invariant(const cgame& game, const cpaddle (&was)[2], const cball& ball_was,
                             std::int32_t before) {
    const float width = 640, height = 480;
    const cball& b = *game.ball;
    const cpaddle* paddles[] = {game.left, game.right};
    if (before != game.state && !by_update.contains({before, game.state}))
        return "an update takes only a designed transition";
    // Every bound below is written so that NaN fails it. A paddle gains 2 per step and moves a step
    // times its velocity, so v² grows by at most four times the way it went in one direction; the
    // edges stop it dead.
    for (const cpaddle* p : paddles)
        if (was[0].y != 0 && !(p->y >= 50 && p->y <= height - 50 &&
                               std::abs(p->velocity) <= 2 * std::sqrt(height - 50) + 0.01f))
            return "paddles within [50, H - 50], no faster than a run across the field, no NaN";
    if (before < game_serve_wait && (paddles[0]->y != was[0].y || paddles[1]->y != was[1].y ||
                                     b.x != ball_was.x || b.y != ball_was.y))
        return "nothing moves in the menu, on the intro or in the pause";
    const bool in_play = game.state == game_in_play, out = game.state == game_point;
    if ((in_play || out) && !(b.y > 10 && b.y < height - 10))
        return "the ball within the walls";
    if (in_play && !(b.x > 0 && b.x < width && (b.vx > 0) == (b.heading == 1)))
        return "the ball in play between the edges, heading its way";
    if (in_play && !(std::abs(b.vx) >= 0.5f && std::abs(b.vx) <= 8 && std::abs(b.vy) <= 5 &&
                     (b.vy == 0 || std::abs(b.vy) >= 0.1f)))
        return "the ball's velocity within its limits";
    if (out && !(b.scorer == 1 ? b.x >= width && b.x < width + 10 : b.x <= 0 && b.x > -10))
        return "the ball out just past an edge";
    const bool point = before == game_point;
    if (paddles[0]->score + paddles[1]->score != was[0].score + was[1].score + (point ? 1 : 0) ||
        paddles[0]->score != was[0].score + (point && b.scorer == 1 ? 1 : 0))
        return "a point adds one to the scorer's score, nothing else does";
    return nullptr;
}

// What a soak keeps between frames: the time, when the next serve is due, how many serves there
// were, and the game as it stood before the last update.
struct soak_record {
    std::uint64_t now_ms = 0, serve_due_ms = 0, serves = 0;
    std::int32_t before = game_menu;
    cball ball_was;
};

// One pass of the main loop (time, key messages, update) checked against every invariant: null,
// or what broke.
const char* checked_frame(cgame* game, std::uint32_t ms, soak_record& record) {
    os::seam::advance_clock_ms(ms);
    record.now_ms += ms;
    for (os::msg m; os::peek_message(m, 0, 0, 0, os::PM_REMOVE);) {
        const std::int32_t before = game->state;
        os::dispatch_message(m);
        if (before != game->state && !by_key.contains({before, game->state}))
            return "a key takes only a designed transition";
    }
    record.before = game->state;
    const cpaddle was[] = {*game->left, *game->right};
    record.ball_was = *game->ball;
    game->update(ms);
    if (const char* broken = broken_invariant(*game, was, record.ball_was, record.before))
        return broken;
    if (record.before != game_serve_wait && game->state == game_serve_wait)
        record.serve_due_ms = record.now_ms + (record.before == game_intro ? 500 : 1000);
    if (record.before == game_serve_wait && game->state == game_in_play) {
        if (record.now_ms < record.serve_due_ms)
            return "a serve waits for its delay";
        if (game->ball->heading != (record.serves++ % 2 == 0 ? 1 : 0))
            return "left and right serve in turn";
    }
    return nullptr;
}

// Random players on the real update, timers and keyboard; tools/run-soak plays ten million frames.
TEST_F(game_test, RandomPlayKeepsEveryInvariantAfterEveryFrame) {
    const char* seed_text = std::getenv("BREVOX_SOAK_SEED");
    const char* frames_text = std::getenv("BREVOX_SOAK_FRAMES");
    const std::uint64_t seed = seed_text ? std::strtoull(seed_text, nullptr, 10) : 1;
    const std::uint64_t frames = frames_text ? std::strtoull(frames_text, nullptr, 10) : 200'000;
    std::mt19937_64 random(seed);
    ASSERT_EQ((main_menu = new cmenu)->init(), 1); // ESCAPE and "continue" need it
    // Each key goes down or up once in so many frames, on average.
    const std::pair<std::uint8_t, std::uint64_t> keys[] = {
        {os::DIK_UP, 8},     {os::DIK_DOWN, 8},     {os::DIK_LSHIFT, 8}, {os::DIK_LCONTROL, 8},
        {os::DIK_SPACE, 20}, {os::DIK_ESCAPE, 900}, {os::DIK_P, 900},    {os::DIK_RETURN, 60}};
    bool held[std::size(keys)] = {};
    soak_record record;
    std::uint64_t seen[game_point + 1] = {};
    for (std::uint64_t n = 0; n < frames; ++n) {
        for (std::size_t k = 0; k < std::size(keys); ++k)
            if (random() % keys[k].second == 0)
                (held[k] = !held[k]) ? hold(keys[k].first) : let_go(keys[k].first);
        if (random() % 5000 == 0)
            game->speed = 10.0f + 2.0f * static_cast<float>(random() % 3);
        // Mostly 1 to 30 ms, now and then a hitch of up to half a second.
        const auto ms = static_cast<std::uint32_t>(1 + random() % (random() % 100 ? 30 : 500));
        const char* broken = checked_frame(game, ms, record);
        ASSERT_EQ(broken, nullptr) << "seed " << seed << ", frame " << n << ": " << broken;
        ++seen[record.before];
    }
    EXPECT_EQ(std::ranges::count(seen, 0u), 0) << "random play reaches every state";
}

// Returns by the speed of the arriving ball, sqrt(vx² + vy²) in units per step, in three bands;
// paddle hits and points of the computer against itself.
struct computer_figures {
    unsigned long long arrived[3] = {}, returned[3] = {}, hits = 0, points = 0;
    double rate(int band) const { return 100.0 * double(returned[band]) / double(arrived[band]); }
    double rally() const { return double(hits) / double(points); }
};

// The computer against itself (both), or its right paddle against a person who serves but never
// moves. The people hold the computer's paddle keys and SPACE at random all along: they must
// change nothing. A few hundred frames in the menu, the intro by SPACE, then pauses with P.
void play_computer(cgame* game, bool both, std::uint32_t fps, float speed, std::uint64_t frames,
                   computer_figures& figures) {
    game->shutdown();
    ASSERT_EQ(game->init(), 1);
    game->speed = speed;
    std::mt19937_64 random(fps + static_cast<std::uint64_t>(speed) + both);
    const auto right_seed = static_cast<std::uint32_t>(random());
    const auto left_seed = static_cast<std::uint32_t>(random());
    main_seating.seat(1, std::make_unique<ccomputer>(*game, 1, right_seed));
    main_seating.seat(0, both ? std::make_unique<ccomputer>(*game, 0, left_seed) : nullptr);
    bool held[256] = {};
    const std::uint8_t mashed[] = {os::DIK_UP, os::DIK_DOWN, os::DIK_SPACE, os::DIK_LSHIFT,
                                   os::DIK_LCONTROL};
    for (const std::uint8_t key : mashed)
        let_go(key);
    soak_record record;
    record.serves = static_cast<std::uint64_t>(game->server); // even: the left one serves
    for (std::uint64_t n = 0; n < frames && !testing::Test::HasFatalFailure(); ++n) {
        if (n == 300)
            game->resume_from(*main_menu); // "continue": the intro
        for (std::size_t k = 0; k < (both ? 5u : 3u); ++k) {
            if (random() % 8 != 0)
                continue;
            const bool down = k == 2 && game->state == game_intro ? true : random() % 2 == 0;
            down ? hold(mashed[k]) : let_go(mashed[k]);
            held[mashed[k]] = down;
        }
        const bool pausing = game->state == game_in_play || game->state == game_paused;
        if (pausing && random() % (game->state == game_paused ? 100 : 4000) == 0)
            (hold(os::DIK_P), let_go(os::DIK_P)); // into the pause, or out of it
        const auto ms = fps == 200 ? 5u : 16u + (n % 3 != 0);
        const char* broken = checked_frame(game, ms, record);
        ASSERT_EQ(broken, nullptr) << "frame " << n << ": " << broken;
        // In the menu, the intro and the pause the key picture is the keyboard's own.
        const bool hands_off = record.before < game_serve_wait && game->state == record.before;
        for (int k = 0; hands_off && k < 256; ++k)
            ASSERT_EQ(game->input->keys[k] != 0, held[k]) << "frame " << n << ", key " << k;
        // Its serve comes after a pause of its own, never at once at the people's SPACE.
        if (record.before == game_serve_wait && game->state == game_in_play &&
            (both || game->ball->heading == 0)) {
            ASSERT_GE(record.now_ms, record.serve_due_ms + 300) << "frame " << n;
        }
        if (record.before != game_in_play || (record.ball_was.heading == 0 && !both))
            continue;
        const bool returned =
            game->state == game_in_play && game->ball->heading != record.ball_was.heading;
        const float speed_was = std::hypot(record.ball_was.vx, record.ball_was.vy);
        const int band = speed_was < 3 ? 0 : speed_was <= 7 ? 1 : 2;
        if (returned || game->state == game_point) {
            ++figures.arrived[band];
            figures.returned[band] += returned;
        }
        if (both) {
            figures.hits += returned;
            figures.points += game->state == game_point;
        }
    }
    main_seating.clear();
}

// A ball that comes down off the top wall: the computer waits where it will meet the line, near
// the bottom, and returns it; it is never drawn to the top.
TEST_F(game_test, TheComputerWaitsWhereTheBallComesAfterItsBounce) {
    ball_in_play(100, 400, 3, 2.5f, 1); // up 437.5 on its way across: off the top, down to 102
    game->right->y = 102;
    main_seating.seat(1, std::make_unique<ccomputer>(*game, 1, 7));
    float farthest = 0;
    while (game->state == game_in_play && game->ball->heading == 1) {
        frame();
        farthest = std::max(farthest, std::abs(game->right->y - 102));
    }
    EXPECT_LT(farthest, 120.0f);
    EXPECT_TRUE(game->state == game_in_play && game->ball->heading == 0) << "returned";
}

// It keeps the game's time, the frames' lengths the game is given (here with the clock standing
// still), and holds nothing while the game's window has no focus: it serves only once it is back.
TEST_F(game_test, TheComputerPlaysByTheGamesFramesAndOnlyForAWindowWithTheFocus) {
    main_seating.seat(1, std::make_unique<ccomputer>(*game, 1, 7));
    game->state = game_intro;
    hold(os::DIK_SPACE);
    frame();
    let_go(os::DIK_SPACE);
    frame(600); // the serve is ready
    game->server = 1;
    const auto frames_of_5_ms = [this](int count) {
        for (int n = 0; n < count && game->state == game_serve_wait; ++n)
            game->update(5);
    };
    os::seam::set_focus(main_window->hwnd, false);
    frames_of_5_ms(400);
    EXPECT_EQ(game->state, game_serve_wait) << "no serve behind another window";
    os::seam::set_focus(main_window->hwnd, true);
    frames_of_5_ms(300);
    EXPECT_EQ(game->state, game_in_play) << "served within 1.5 s of frames";
}

// A guest's game runs no rules but its paddle's: shown the host's wait for the guest's serve, the
// computer at the guest's paddle serves it, and the game stays the host's.
TEST_F(game_test, TheComputerAtAGuestsPaddleServesWhenTheHostWaitsForIt) {
    main_seating.seat(1, std::make_unique<ccomputer>(*game, 1, 7));
    cshown host = game->shown();
    host.state = game_serve_wait;
    host.server = 1;
    game->state = game_intro; // the guest's menu closed
    bool space = false;
    for (int n = 0; n < 300 && !space; ++n) {
        game->show(host, 1);
        space = (game->read_side_keys(1, 5) & side_key_space) != 0;
    }
    EXPECT_TRUE(space) << "served within 1.5 s of frames";
    EXPECT_EQ(game->state, game_serve_wait);
}

TEST_F(game_test, TheComputerReturnsSlowBallsMissesFastOnesAndKeepsOffTheMenuIntroAndPause) {
    // Game time in seconds at each frame rate and speed, for each of the two matches.
    const char* seconds_text = std::getenv("BREVOX_COMPUTER_SOAK_SECONDS");
    const std::uint64_t seconds = seconds_text ? std::strtoull(seconds_text, nullptr, 10) : 600;
    ASSERT_EQ((main_menu = new cmenu)->init(), 1);
    for (const std::uint32_t fps : {200u, 60u}) {
        for (const float speed : {10.0f, 12.0f, 14.0f}) {
            computer_figures figures;
            for (const bool both : {true, false})
                ASSERT_NO_FATAL_FAILURE(
                    play_computer(game, both, fps, speed, seconds * fps, figures));
            const auto& [arrived, returned, hits, points] = figures;
            std::printf("computer at %3u fps, speed %2.0f: returns %5.1f %% of %5llu below 3, "
                        "%5.1f %% of %5llu from 3 to 7, %5.1f %% of %5llu above 7; "
                        "rally %4.1f hits over %llu points\n",
                        fps, double(speed), figures.rate(0), arrived[0], figures.rate(1),
                        arrived[1], figures.rate(2), arrived[2], figures.rally(), points);
            EXPECT_TRUE(figures.rate(0) >= 95 && figures.rate(2) <= 80 && figures.rally() >= 4 &&
                        figures.rally() <= 15)
                << fps << " fps, speed " << speed; // NaN, a band never seen, fails too
        }
    }
}

} // namespace
