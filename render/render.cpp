#include "render/render.h"

#include "app/log.h"
#include "app/main_loop.h"
#include "app/timer.h"
#include "cvar/cvars.h"
#include "os/window.h"
#include "render/texture.h"

#include <GL/gl.h>

#include <cstdio>
#include <new>

crender* main_render = nullptr;
GLuint tex_intro = 0;
GLuint tex_client = 0;
GLuint tex_background = 0;
GLuint tex_medal_ace = 0;
GLuint tex_medal_fast = 0;
GLuint tex_medal_slow = 0;
cfont* main_font = nullptr;
GLUquadric* ball_disc = nullptr;
std::uint32_t fps_elapsed_ms = 0;
std::int32_t fps_shown = 0;
char title_text[128];

namespace {

constexpr std::uint32_t fullscreen_fps_period_ms = 333;
constexpr std::uint32_t title_fps_period_ms = 500;

// A picture that fails to load is only logged; the frame draws its empty texture all the same.
void load_pictures() {
    load_texture("data/intro.bmp", 1, &tex_intro);
    load_texture("data/client.tga", 0, &tex_client);
    load_texture("data/background.tga", 1, &tex_background);
    load_texture("data/medal_ace.tga", 1, &tex_medal_ace);
    load_texture("data/medal_fast.tga", 1, &tex_medal_fast);
    load_texture("data/medal_slow.tga", 1, &tex_medal_slow);
}

void delete_pictures() {
    for (GLuint* texture : {&tex_client, &tex_background, &tex_intro, &tex_medal_ace,
                            &tex_medal_fast, &tex_medal_slow}) {
        glDeleteTextures(1, texture);
        *texture = 0;
    }
}

void build_ball_disc() {
    log_printf(main_log, " (render) building disc for the ball : ");
    ball_disc = gluNewQuadric();
    if (!ball_disc) {
        log_printf(main_log, "FAILED\n");
        return;
    }
    gluQuadricNormals(ball_disc, GLU_SMOOTH);
    gluQuadricTexture(ball_disc, GL_TRUE);
    log_printf(main_log, "OK\n");
}

// Fullscreen the rate is drawn on the frame, three times a second; windowed it goes into the
// window's title twice a second. One sum serves both, so a switch carries it over.
void frame_rate_step() {
    fps_elapsed_ms += main_timer ? main_timer->frame_ms : 0;
    if (main_cvars->get_int("fullscreen") != 0) {
        if (fps_elapsed_ms >= fullscreen_fps_period_ms) {
            fps_elapsed_ms = 0;
            fps_shown = static_cast<std::int32_t>(main_timer ? main_timer->fps : 0);
        }
        const auto width = static_cast<float>(main_cvars->get_int("clwidth"));
        const auto height = static_cast<float>(main_cvars->get_int("clheight"));
        print(main_font, width, height - 10, 8, "^c^s^7%dfps", fps_shown);
        return;
    }
    if (fps_elapsed_ms >= title_fps_period_ms) {
        fps_elapsed_ms = 0;
        std::snprintf(title_text, sizeof title_text, "%s  [%d FPS]", window_title,
                      static_cast<int>(main_timer ? main_timer->fps : 0));
        os::set_window_text(static_cast<os::hwnd>(main_cvars->get_int("hwnd")), title_text);
    }
}

} // namespace

int crender::init() {
    log_printf(main_log, " (render) initializing render object\n");
    log_printf(main_log, " (render) creating driver\n");
    delete driver;
    driver = new (std::nothrow) cdriver;
    if (!driver || !driver->init())
        return 0;

    glClearColor(0, 0, 0, 0);
    glEnable(GL_TEXTURE_2D);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    load_pictures();
    log_printf(main_log, " (render) creating main font\n");
    delete main_font;
    main_font = new (std::nothrow) cfont("data/font.tga");
    build_ball_disc();

    swap_result = 1;
    initialized = 1;
    return 1;
}

void crender::release() {
    if (initialized != 1)
        return;
    log_printf(main_log, " (render) deleting main font\n");
    if (main_font) {
        main_font->release();
        delete main_font;
        main_font = nullptr;
    }
    log_printf(main_log, " (render) cleaning up textures\n");
    delete_pictures();
    // The disc belongs to this context: every init builds a new one.
    if (ball_disc)
        gluDeleteQuadric(ball_disc);
    ball_disc = nullptr;
    driver->release();
    initialized = 0;
    delete driver;
    driver = nullptr;
}

void crender::setup_view() {
    const GLdouble width = main_cvars->get_int("width");
    const GLdouble height = main_cvars->get_int("height");
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

int crender::draw_frame() {
    setup_view();
    frame_rate_step();
    return present();
}

int crender::present() {
    swap_result = driver ? driver->swap_buffers() : 0;
    return swap_result;
}
