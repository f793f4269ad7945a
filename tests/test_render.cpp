#include "app/log.h"
#include "app/main_loop.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "os/fault.h"
#include "os/gl.h"
#include "os/window.h"
#include "platform/window.h"
#include "render/render.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <cstring>

namespace {

class render_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        main_timer = new ctimer;
        main_window = new cwindow;
        ASSERT_EQ(main_window->create(), 1);
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

TEST_F(render_test, InitBindsTheDriverAndLeavesTexturingOn) {
    ASSERT_EQ(main_render->init(), 1);
    EXPECT_EQ(main_render->initialized, 1);
    EXPECT_EQ(main_render->swap_result, 1);
    EXPECT_NE(ball_disc, nullptr);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat clear[4] = {1, 1, 1, 1};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2] + clear[3], 0.0f);
    const std::string log = log_without_opengl_info(" (render)");
    EXPECT_EQ(log.rfind(" (render) initializing render object\n (render) creating driver\n", 0),
              0u);
    const std::string disc = " (render) building disc for the ball : OK\n";
    EXPECT_EQ(log.substr(log.size() - disc.size()), disc);

    main_render->release();
    EXPECT_EQ(main_render->initialized, 0);
    EXPECT_EQ(main_render->driver, nullptr);
    EXPECT_EQ(ball_disc, nullptr);
    EXPECT_EQ(os::seam::live_gl_objects(), 0);
}

TEST_F(render_test, ARendererWhoseDriverFailedReleasesNothing) {
    os::seam::fail_call("gl_make_current");
    EXPECT_EQ(main_render->init(), 0);
    EXPECT_EQ(main_render->initialized, 0);
    const std::string before = read_log();
    main_render->release();
    EXPECT_EQ(read_log(), before);
}

TEST_F(render_test, TheViewIsOneUnitPerPixelFromTheLowerLeftCorner) {
    ASSERT_EQ(main_render->init(), 1);
    glClearColor(1, 0, 0, 1); // anything left on screen would show red
    main_render->setup_view();
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    // A point at (640, 480) lands on the upper-right corner of the clip space.
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[0] * 640 + projection[12], 1.0, 1e-6);
    EXPECT_NEAR(projection[5] * 480 + projection[13], 1.0, 1e-6);
    EXPECT_NEAR(projection[12], -1.0, 1e-6);
    GLint matrix_mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrix_mode);
    EXPECT_EQ(matrix_mode, GL_MODELVIEW);
    unsigned char pixel[4] = {0, 0, 0, 0};
    glReadPixels(320, 240, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(pixel[0], 255) << "the view starts with a cleared frame";
}

TEST_F(render_test, WindowedTheTitleShowsTheFrameRateTwiceASecond) {
    ASSERT_EQ(main_render->init(), 1);
    frames_of(16, 31); // 496 ms
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]");
    frames_of(16, 1); // 512 ms
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]  [62 FPS]");
    EXPECT_EQ(fps_elapsed_ms, 0u);
    frames_of(5, 100);
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]  [200 FPS]");
}

TEST_F(render_test, FullscreenTheRateShownChangesThreeTimesASecond) {
    ASSERT_EQ(main_render->init(), 1);
    main_cvars->set_int("fullscreen", 1);
    frames_of(16, 20); // 320 ms
    EXPECT_EQ(fps_shown, 0);
    frames_of(16, 1); // 336 ms
    EXPECT_EQ(fps_shown, 62);
    EXPECT_EQ(fps_elapsed_ms, 0u);
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]") << "no title";
}

TEST_F(render_test, AFailedSwapIsKeptAsTheFramesResult) {
    ASSERT_EQ(main_render->init(), 1);
    EXPECT_EQ(main_render->draw_frame(), 1);
    os::seam::fail_call("swap_buffers");
    EXPECT_EQ(main_render->draw_frame(), 0);
    EXPECT_EQ(main_render->swap_result, 0);
    EXPECT_EQ(main_render->draw_frame(), 1);
}

} // namespace
