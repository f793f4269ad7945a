#include "render/render.h"

#include "base/log.h"
#include "base/timer.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/window.h"
#include "render/texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <new>

crender* main_render = nullptr;
cfont* main_font = nullptr;

namespace {

// The frame-rate display's sum of frame lengths and the rate it shows; both outlive restarts.
std::uint32_t fps_elapsed_ms = 0;
std::int32_t fps_shown = 0;

// The pictures and the ball's disc belong to one OpenGL context: each video restart frees and
// loads them again.
GLuint tex_intro = 0;
GLuint tex_client = 0;
GLuint tex_background = 0;
GLuint tex_medal_ace = 0;
GLuint tex_medal_fast = 0;
GLuint tex_medal_slow = 0;
GLUquadric* ball_disc = nullptr;
char title_text[128];

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

// One textured quad from (x0, y0) to (x1, y1); mirrored takes the picture right to left.
void quad(float x0, float y0, float x1, float y1, bool mirrored = false) {
    const GLdouble left = mirrored ? 1 : 0;
    const GLdouble right = mirrored ? 0 : 1;
    glBegin(GL_QUADS);
    glTexCoord2d(left, 0);
    glVertex3f(x0, y0, 0);
    glTexCoord2d(right, 0);
    glVertex3f(x1, y0, 0);
    glTexCoord2d(right, 1);
    glVertex3f(x1, y1, 0);
    glTexCoord2d(left, 1);
    glVertex3f(x0, y1, 0);
    glEnd();
}

void blend_over() {
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void draw_menu_screen(float width, float height) {
    print(main_font, width, height - 42, 40, "^c^7brevox");
    if (main_menu)
        main_menu->draw();
    print(main_font, width - 40, 1, 8, "v%s", brevox_version); // lower right, not centred
}

void draw_intro(float width, float height) {
    glColor3f(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex_intro);
    quad(0, 0, width, height);
    print(main_font, width, height - 50, 40, "^c^s^7brevox");
    print(main_font, width, height * 0.33333334f, 20, "^c^s^7Press ^2SPACE^7 to enter");
}

// The paddle picture is 10 x 100; the right one is the left one mirrored.
void draw_paddles(const cpaddle& left, const cpaddle& right) {
    glColor3f(1, 1, 1);
    glTranslatef(left.x + 5, left.y, 0);
    blend_over();
    glBindTexture(GL_TEXTURE_2D, tex_client);
    quad(-5, -50, 5, 50);
    glLoadIdentity();
    glBindTexture(GL_TEXTURE_2D, 0);
    glColor3f(1, 1, 1);

    glTranslatef(right.x - 5, right.y, 0);
    blend_over();
    glBindTexture(GL_TEXTURE_2D, tex_client);
    quad(-5, -50, 5, 50, true);
    glDisable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// A red, untextured disc of radius 10 (a 10 x 10 square without a quadric).
void draw_ball(const cball& ball) {
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glTranslatef(ball.x, ball.y, 0);
    glColor3f(1, 0, 0);
    if (ball_disc) {
        gluDisk(ball_disc, 0.0, 10.0, 32, 32);
    } else {
        glBegin(GL_QUADS);
        glVertex3f(-5, -5, 0);
        glVertex3f(5, -5, 0);
        glVertex3f(5, 5, 0);
        glVertex3f(-5, 5, 0);
        glEnd();
    }
    glEnable(GL_TEXTURE_2D); // the next frame's background is drawn without enabling it
}

// The medal's name near the top, its picture mirrored, 100 x 100, just above the centre.
void draw_medal(float width, float height) {
    GLuint picture = 0;
    switch (medal_kind) {
    case medal_fast:
        print(main_font, width, height - 100, 16, "^c^3^sFast Ball");
        picture = tex_medal_fast;
        break;
    case medal_slow:
        print(main_font, width, height - 100, 16, "^c^4^sSlow Ball");
        picture = tex_medal_slow;
        break;
    case medal_ace:
        print(main_font, width, height - 100, 16, "^c^5^sAce Ball");
        picture = tex_medal_ace;
        break;
    default:
        break; // another kind shows an empty quad
    }
    if (picture)
        glBindTexture(GL_TEXTURE_2D, picture);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLoadIdentity();
    glTranslatef(width * 0.5f, height * 0.5f + 20, 0);
    quad(-50, -50, 50, 50, true);
    glDisable(GL_BLEND);
}

void draw_field(const cgame& game, float width, float height) {
    // Texturing is on from init; each step that turns it off turns it on again.
    glColor3f(1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, tex_background);
    quad(0, 0, width, height);
    draw_paddles(*game.left, *game.right);

    if (game.state == game_paused) {
        print(main_font, width, height * 0.5f + 20, 22, "^c^sPaused");
        print(main_font, width, height * 0.5f - 20, 22, "^c^sPress ^2P^7 to continue");
    } else if (game.state == game_serve_wait && medal_shown == 0) {
        print(main_font, width, height * 0.5f - 20, 22, "^c^sPress ^2SPACE^7 to start");
    } else if (game.state == game_in_play) {
        draw_ball(*game.ball);
    } else if (game.state == game_serve_wait) {
        draw_medal(width, height);
    }
    print(main_font, width, 10, 12, "^c^7^s%d - %d", game.left->score, game.right->score);
}

// The settings every frame reads.
cvar_handle width_setting("width");
cvar_handle height_setting("height");
cvar_handle clwidth("clwidth");
cvar_handle clheight("clheight");
cvar_handle fullscreen("fullscreen");
cvar_handle window_handle("hwnd");

void draw_scene() {
    const cgame* game = main_game;
    if (!game)
        return;
    const auto width = static_cast<float>(clwidth.value());
    const auto height = static_cast<float>(clheight.value());
    if (game->state == game_menu)
        draw_menu_screen(width, height);
    else if (game->state == game_intro)
        draw_intro(width, height);
    else if (game->left && game->right && game->ball)
        draw_field(*game, width, height);
}

// Fullscreen the rate is drawn on the frame, three times a second; windowed it goes into the
// window's title twice a second. One sum serves both, so a switch carries it over.
void frame_rate_step() {
    fps_elapsed_ms += main_timer ? main_timer->frame_ms : 0;
    if (fullscreen.value() != 0) {
        if (fps_elapsed_ms >= fullscreen_fps_period_ms) {
            fps_elapsed_ms = 0;
            fps_shown = static_cast<std::int32_t>(main_timer ? main_timer->fps : 0);
        }
        const auto width = static_cast<float>(clwidth.value());
        const auto height = static_cast<float>(clheight.value());
        print(main_font, width, height - 10, 8, "^c^s^7%dfps", fps_shown);
        return;
    }
    if (fps_elapsed_ms >= title_fps_period_ms) {
        fps_elapsed_ms = 0;
        std::snprintf(title_text, sizeof title_text, "%s  [%d FPS]", window_title,
                      static_cast<int>(main_timer ? main_timer->fps : 0));
        os::set_window_text(static_cast<os::hwnd>(window_handle.value()), title_text);
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
    GLdouble width = width_setting.value();
    GLdouble height = height_setting.value();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (field_line[0] != '\0') {
        // A replay: the recorded field, scaled to fit the window, centred, without distortion.
        os::rect client{};
        os::get_client_rect(static_cast<os::hwnd>(window_handle.value()), client);
        const GLdouble client_width = client.right - client.left;
        const GLdouble client_height = client.bottom - client.top;
        width = clwidth.value();
        height = clheight.value();
        const GLdouble scale = std::min(client_width / width, client_height / height);
        glViewport(static_cast<GLint>((client_width - width * scale) / 2),
                   static_cast<GLint>((client_height - height * scale) / 2),
                   static_cast<GLsizei>(width * scale), static_cast<GLsizei>(height * scale));
    } else {
        glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The lines over the scene: at the top of the field, and at the bottom where the menu's and the
// intro's titles stand at the top. They end in white (^7): the font keeps its last colour for the next
// text without one of its own, the field's prompt among them.
int crender::draw_frame() {
    setup_view();
    draw_scene();
    frame_rate_step();
    const bool titled =
        main_game && (main_game->state == game_menu || main_game->state == game_intro);
    const auto width = static_cast<float>(clwidth.value());
    const float top = titled ? 56.0f : static_cast<float>(clheight.value()) - 24;
    if (field_line[0] != '\0')
        print(main_font, width, top - 16, 12, "^c^s^6%s^7", field_line);
    if (screen_notice)
        print(main_font, width, top, 10, "^c^s^4%s^7", screen_notice);
    return present();
}

int crender::present() {
    swap_result = driver ? driver->swap_buffers() : 0;
    return swap_result;
}
