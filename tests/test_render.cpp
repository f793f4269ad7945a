#include "app/log.h"
#include "app/main_loop.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/fault.h"
#include "os/gl.h"
#include "os/window.h"
#include "platform/window.h"
#include "render/render.h"
#include "render/texture.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

class render_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        main_timer = new ctimer;
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        main_render = new crender;
        fps_elapsed_ms = 0;
        fps_shown = 0;
    }

    // Frames of a steady length, as the timer measured the one before.
    void frames_of(std::uint32_t ms, int count) {
        main_timer->frame_ms = ms;
        main_timer->fps = 1000 / ms;
        for (int i = 0; i < count; ++i)
            main_render->draw_frame();
    }
};

TEST_F(render_test, InitLeavesTexturingOnAndReleaseLeavesNothingBehind) {
    ASSERT_EQ(main_render->init(), 1);
    EXPECT_EQ(main_render->swap_result, 1);
    EXPECT_NE(ball_disc, nullptr);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    main_render->release();
    EXPECT_EQ(main_render->driver, nullptr);
    EXPECT_EQ(ball_disc, nullptr);
    EXPECT_EQ(os::seam::live_gl_objects(), 0);
    const std::string before = read_log();
    main_render->release();
    EXPECT_EQ(read_log(), before) << "a second release does nothing";
}

TEST_F(render_test, TheFrameRateGoesIntoTheTitleTwiceASecondOrOnTheFrameThreeTimes) {
    std::filesystem::create_directory("data");
    test_support::write_code_font("data/font.tga");
    ASSERT_EQ(main_render->init(), 1);
    frames_of(16, 31); // 496 ms
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]");
    frames_of(16, 1); // 512 ms
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]  [62 FPS]");
    frames_of(5, 100);
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]  [200 FPS]");

    main_cvars->set_int("fullscreen", 1);
    fps_elapsed_ms = 0;
    frames_of(16, 20); // 320 ms
    EXPECT_EQ(fps_shown, 0) << "windowed, nothing was shown on the frame";
    os::seam::fail_call("swap_buffers"); // the last frame stays in the back buffer to be read
    frames_of(16, 1);                    // 336 ms
    ASSERT_EQ(fps_shown, 62);
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]  [200 FPS]");
    // "62fps" in 8-unit glyphs centred on 320 at y = 470.
    std::string text;
    for (int i = 0; i < 5; ++i) {
        std::uint8_t rgb[4] = {};
        glReadPixels(300 + i * 8 + 4, 474, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgb);
        text += static_cast<char>(test_support::code_of_colour(rgb));
    }
    EXPECT_EQ(text, "62fps");
    std::uint8_t left[4] = {1, 1, 1, 1};
    glReadPixels(299, 474, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, left);
    EXPECT_EQ(left[0] + left[1] + left[2], 0);
}

// The scene on pictures made to be read back: the code font (each glyph's colour tells its
// code), a blue paddle, a grey background, an ace medal whose left half is red and right half
// green.
class scene_test : public render_test {
protected:
    void SetUp() override {
        render_test::SetUp();
        std::filesystem::create_directory("data");
        test_support::write_code_font("data/font.tga");
        write_picture("data/client.tga", 8, 128, {255, 0, 0}, {255, 0, 0});
        write_picture("data/background.tga", 8, 8, {64, 64, 64}, {64, 64, 64});
        write_picture("data/medal_ace.tga", 64, 64, {0, 0, 255}, {0, 255, 0});
        main_menu = new cmenu;
        ASSERT_EQ(main_menu->init(), 1);
        main_game = new cgame;
        main_game->left = new cpaddle(0);
        main_game->right = new cpaddle(1);
        main_game->ball = new cball;
    }

    // An opaque picture whose left half is one colour and right half another, each as BGR.
    static void write_picture(const char* name, int width, int height,
                              const test_support::bytes& left, const test_support::bytes& right) {
        test_support::bytes pixels;
        for (int i = 0; i < width * height; ++i) {
            const test_support::bytes& c = i % width < width / 2 ? left : right;
            pixels.insert(pixels.end(), {c[0], c[1], c[2], 255});
        }
        test_support::write_file(name, test_support::tga_file(2, width, height, 32, pixels));
    }

    // Draws one frame of the given state on a client area of the window's size and keeps it
    // in the back buffer to be read.
    void draw(std::int32_t state) {
        main_game->state = state;
        main_game->right->x = static_cast<float>(main_cvars->get_int("clwidth"));
        os::seam::fail_call("swap_buffers");
        main_render->draw_frame();
    }
    static std::array<std::uint8_t, 4> pixel(int x, int y) {
        std::array<std::uint8_t, 4> rgba{};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }
    // The glyph whose cell colour shows at (x, y); -1 for none.
    static int glyph(int x, int y) { return test_support::code_of_colour(pixel(x, y).data()); }
};

TEST_F(scene_test, TheMenuStandsUnderTheTitleWithTheVersionAtTheLowerRight) {
    ASSERT_EQ(main_render->init(), 1);
    draw(game_menu);
    EXPECT_EQ(glyph(202, 440), 'b') << "the title, 40-unit glyphs from (200, 438)";
    EXPECT_EQ(glyph(198, 440), -1);
    EXPECT_EQ(glyph(237, 475), 'b');
    EXPECT_EQ(glyph(602, 3), 'v') << "the version from (600, 1)";
    EXPECT_EQ(glyph(622, 3), '.');
    EXPECT_EQ(glyph(328, 355), 'w') << "the screen mode's value from (326, 352.2)";
    EXPECT_EQ(glyph(324, 355), -1);
    EXPECT_EQ(pixel(100, 100)[0], 0) << "no picture behind the menu";
}

TEST_F(scene_test, PausedShowsTheFieldThePaddlesAndTheScoreWithoutTheBall) {
    main_window->destroy();
    main_cvars->set_int("width", 800);
    main_cvars->set_int("height", 600);
    ASSERT_EQ(main_window->create(), 1);
    ASSERT_EQ(main_cvars->get_int("clwidth"), 800);
    ASSERT_EQ(main_render->init(), 1);
    main_game->left->y = 100;
    main_game->right->y = 500;
    main_game->ball->x = 400;
    main_game->ball->y = 100;
    main_game->left->score = 3;
    main_game->right->score = 12;
    draw(game_paused);
    EXPECT_EQ(glyph(336, 322), 'P') << "\"Paused\", 22-unit glyphs from (334, 320)";
    EXPECT_EQ(glyph(332, 322), -1);
    EXPECT_EQ(glyph(193, 282), 'P') << "\"Press P to continue\" from (191, 280)";
    EXPECT_EQ(glyph(607, 282), 'e') << "19 glyphs wide, to 609";
    EXPECT_EQ(glyph(611, 282), -1);
    const auto blue = [](std::array<std::uint8_t, 4> c) { return c[2] > 200 && c[0] < 50; };
    EXPECT_TRUE(blue(pixel(5, 100))) << "the left paddle from x 0 to 10";
    EXPECT_TRUE(blue(pixel(5, 149)));
    EXPECT_FALSE(blue(pixel(5, 151)));
    EXPECT_TRUE(blue(pixel(795, 500))) << "the right paddle from x 790 to 800";
    EXPECT_FALSE(blue(pixel(788, 500)));
    EXPECT_EQ(pixel(400, 100)[0], pixel(300, 100)[0]) << "no ball";
    // "3 - 12" in 12-unit glyphs centred on 400 at y 10: from 364.
    std::string score;
    for (int i = 0; i < 6; ++i)
        score += static_cast<char>(glyph(366 + 12 * i, 12));
    EXPECT_EQ(score, "3 - 12");
}

TEST_F(scene_test, TheBallIsARedDiscAndTexturingComesBackAfterIt) {
    ASSERT_EQ(main_render->init(), 1);
    main_game->ball->x = 320;
    main_game->ball->y = 240;
    draw(game_in_play);
    const auto centre = pixel(320, 240);
    EXPECT_GT(centre[0], 200);
    EXPECT_LT(centre[1] + centre[2], 20);
    EXPECT_GT(pixel(327, 240)[0], 200) << "a disc of radius 10";
    EXPECT_LT(pixel(327, 247)[0], 100) << "not a square";
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glyph(320, 222), -1) << "no prompt";
}

TEST_F(scene_test, AMedalShowsMirroredUntilItsTimeIsUpThenThePrompt) {
    ASSERT_EQ(main_render->init(), 1);
    medal_shown = 1;
    medal_kind = medal_ace;
    draw(game_serve_wait);
    const auto left = pixel(295, 260);
    const auto right = pixel(345, 260);
    EXPECT_TRUE(left[1] > 200 && left[0] < 50) << "the picture's green right half on the left";
    EXPECT_TRUE(right[0] > 200 && right[1] < 50);
    EXPECT_EQ(pixel(265, 260)[1], pixel(100, 100)[1]) << "100 units wide, from 270";
    const auto title = pixel(258, 382); // "Ace Ball", 16-unit glyphs from (256, 380), magenta
    EXPECT_TRUE(title[0] > 0 && title[1] == 0 && title[2] > 200);
    EXPECT_EQ(glyph(102, 222), -1);

    medal_shown = 0;
    draw(game_serve_wait);
    EXPECT_EQ(glyph(102, 222), 'P') << "\"Press SPACE to start\" from (100, 220)";
    EXPECT_EQ(pixel(345, 260)[0], pixel(100, 100)[0]) << "no medal";
    medal_kind = medal_none;
}

} // namespace
