#include "app/main_loop.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "os/clock.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/sound.h"
#include "os/window.h"
#include "platform/input.h"
#include "platform/window.h"
#include "sound/dxplay.h"
#include "support/test_env.h"

#include <filesystem>

namespace {

// The game on a 640 x 480 client area, driven frame by frame on the manual clock.
class game_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        os::seam::set_focus(main_window->hwnd, true);
        main_cvars->register_int("clwidth", 640);
        main_cvars->register_int("clheight", 480);
        main_timer = new ctimer;
        main_game = new cgame;
        ASSERT_EQ(main_game->init(), 1);
        game = main_game;
    }

    // What the main loop does around one update: time passes, the messages (timers) are
    // dispatched, and the update sees the frame's length.
    void frame(std::uint32_t ms = 15) {
        os::seam::advance_clock_ms(ms);
        os::msg message;
        while (os::peek_message(message, 0, 0, 0, os::PM_REMOVE))
            os::dispatch_message(message);
        main_timer->frame_ms = ms;
        game->update();
    }
    void hold(std::uint8_t key) { os::seam::press_key(main_window->hwnd, key); }
    void let_go(std::uint8_t key) { os::seam::release_key(main_window->hwnd, key); }

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

TEST_F(game_test, PaddlesAccelerateBrakeToExactlyZeroAndStopAtTheEdges) {
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
    float last = game->right->velocity;
    for (int i = 0; i < 6; ++i) {
        frame();
        EXPECT_LE(game->right->velocity, last);
        EXPECT_GE(game->right->velocity, 0.0f) << "friction never passes 0";
        last = game->right->velocity;
    }
    EXPECT_EQ(game->right->velocity, 0.0f);

    hold(os::DIK_LSHIFT);
    for (int i = 0; i < 40; ++i)
        frame();
    EXPECT_EQ(game->left->y, 430.0f);
    EXPECT_EQ(game->left->velocity, 0.0f);
    let_go(os::DIK_LSHIFT);
    hold(os::DIK_LCONTROL);
    frame();
    EXPECT_EQ(game->left->velocity, -2.0f) << "starts again from 0";

    game->speed = 14.0f; // a step of 1.4
    frame();
    EXPECT_FLOAT_EQ(game->left->velocity, -4.8f);
}

struct hit_case {
    const char* name;
    std::int32_t heading; // 1: at the right paddle
    float vx, vy;
    float paddle_velocity; // at the moment of the hit
    float expect_vx, expect_vy;
};

// The paddle stands level with the ball, which reaches the hit band in this frame (one step).
const hit_case hit_cases[] = {
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
    for (const hit_case& c : hit_cases) {
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
        rally_hits = 0;
        frame();
        EXPECT_FLOAT_EQ(game->ball->vx, c.expect_vx);
        EXPECT_FLOAT_EQ(game->ball->vy, c.expect_vy);
        EXPECT_EQ(game->ball->heading, right ? 0 : 1);
        EXPECT_EQ(rally_hits, 1);
    }
}

TEST_F(game_test, TheBallBouncesOffTheWallsAndScoresAtTheEdges) {
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

    ball_in_play(635, 400, 5, 0, 1); // the paddles stand at the bottom: no hit
    frame();
    EXPECT_EQ(game->state, game_point);
    EXPECT_EQ(game->ball->scorer, 1);
    frame();
    EXPECT_EQ(game->left->score, 1);
    EXPECT_EQ(game->right->score, 0);
    EXPECT_EQ(game->state, game_serve_wait);

    ball_in_play(3, 400, -5, 0, 0);
    frame();
    frame();
    EXPECT_EQ(game->right->score, 1);
    EXPECT_EQ(game->left->score, 1);
}

struct medal_case {
    const char* name;
    std::int32_t hits;
    float vx, vy;
    std::int32_t kind;
};

TEST_F(game_test, APointEarnsTheFirstMedalWhoseRuleApplies) {
    const float fast_vy = 1.6583124f; // 64 + vy² rounds to 66.75
    const float slow_vy = 1.6870547f; // 1 + vy² rounds to 3.8461537
    ASSERT_EQ(8.0f * 8.0f + fast_vy * fast_vy, 66.75f);
    ASSERT_EQ(1.0f * 1.0f + slow_vy * slow_vy, 3.8461537f);
    auto point = [&](float vx, float vy, std::int32_t hits) {
        ball_in_play(700, 240, vx, vy, 1);
        game->state = game_point;
        game->ball->scorer = 2;
        rally_hits = hits;
        medal_shown = 0;
        frame();
    };
    point(1, 0, 0); // an ace, on show for three seconds
    EXPECT_EQ(medal_shown, 1);
    frame(2900);
    EXPECT_EQ(medal_shown, 1);
    frame(200);
    EXPECT_EQ(medal_shown, 0);

    const medal_case cases[] = {
        {"untouched: ace, however fast", 0, 8, fast_vy, medal_ace},
        {"untouched: ace, however slow", 0, 1, 0, medal_ace},
        {"fast at the limit", 3, 8, fast_vy, medal_fast},
        {"just below fast", 3, 8, 1.6583f, medal_none},
        {"just above slow", 1, 1, 1.6871f, medal_none},
        {"slow at the limit", 1, 1, slow_vy, medal_slow},
    };
    for (const medal_case& c : cases) {
        SCOPED_TRACE(c.name);
        point(c.vx, c.vy, c.hits);
        EXPECT_EQ(medal_kind, c.kind);
        EXPECT_EQ(medal_shown, c.kind == medal_none ? 0 : 1);
        EXPECT_EQ(rally_hits, 0);
    }
}

TEST_F(game_test, TheServeWaitsForItsTimerAndAlternates) {
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

    game->state = game_point; // whoever scores, the serve alternates
    game->ball->scorer = 1;
    frame();
    frame(990);
    EXPECT_EQ(game->state, game_serve_wait) << "SPACE within 1000 ms of a point does nothing";
    frame(20);
    EXPECT_EQ(game->state, game_in_play);
    EXPECT_EQ(game->ball->heading, 0);
    EXPECT_GT(game->ball->x, 600.0f);
    EXPECT_EQ(serve_ready, 0);
    game->state = game_point;
    game->ball->scorer = 2;
    frame();
    frame(1010);
    EXPECT_EQ(game->ball->heading, 1) << "left, right, left";
}

TEST_F(game_test, BothDrawsOfALaunchShareOneRawValue) {
    // n = R mod 8 + 1 and m = R mod (n + 1): for n of 1, 3 and 7, n + 1 divides 8 and m = n - 1,
    // which independent draws would miss about half the time.
    int determined = 0;
    for (int second = 0; second < 64; ++second) {
        game->ball->launch(240, 1.0f, 0); // a paddle moving up: vy = m * 2/3
        const auto n = static_cast<int>(game->ball->vx);
        const auto m = static_cast<int>(game->ball->vy * 1.5f + 0.5f);
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 8);
        ASSERT_LE(m, n);
        game->ball->launch(240, 1.0f, 0);
        EXPECT_EQ(static_cast<int>(game->ball->vx), n) << "the same second draws the same";
        if (n == 1 || n == 3 || n == 7) {
            EXPECT_EQ(m, n - 1) << "second " << second;
            ++determined;
        }
        os::seam::advance_clock_ms(1000);
    }
    EXPECT_GT(determined, 8);
}

TEST_F(game_test, MenuAndPauseFreezeEverythingButTheKeyboard) {
    ball_in_play(320, 240, 3, 2, 1);
    for (std::int32_t state : {game_menu, game_paused, game_intro}) {
        game->state = state;
        hold(os::DIK_UP);
        frame();
        let_go(os::DIK_UP);
        EXPECT_EQ(game->ball->x, 320.0f);
        EXPECT_EQ(game->right->y, 50.0f);
        EXPECT_NE(game->input->key_down(os::DIK_UP), 0) << "the keys are read all the same";
    }
}

TEST_F(game_test, EachMedalPlaysItsOwnSample) {
    game->shutdown();
    std::filesystem::copy(std::filesystem::path(BREVOX_SOURCE_DIR) / "data", "data");
    os::seam::use_pulled_sound_device(true);
    ASSERT_EQ(game->init(), 1);
    const std::string log = read_log();
    ASSERT_EQ(log.find("FAILED", log.rfind(" (cgame) loading DXPLAY")), std::string::npos)
        << "the sound system and all five samples load";
    const std::pair<float, csample*> cases[] = {
        {8.5f, sample_fastball}, {1.0f, sample_slowball}, {0.0f, sample_ace}};
    for (const auto& [vx, sample] : cases) {
        ball_in_play(700, 240, vx, 0, 1);
        game->state = game_point;
        game->ball->scorer = 1;
        rally_hits = vx == 0 ? 0 : 1;
        frame();
        for (csample* each : {sample_ace, sample_fastball, sample_slowball, sample_voice}) {
            std::uint32_t status = 0;
            os::sound_buffer_get_status(each->buffer, status);
            EXPECT_EQ((status & os::DSBSTATUS_PLAYING) != 0, each == sample) << vx;
            each->stop();
        }
    }
    game->shutdown();
    EXPECT_EQ(game->update(), 0) << "no paddles, nothing to do";
    os::seam::use_pulled_sound_device(false);
}

} // namespace
