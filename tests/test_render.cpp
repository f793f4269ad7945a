// The renderer and what it draws with: the texture loader, the text renderer, the frame rate and
// the scene, read back from pictures made to be read: the code font (each glyph's colour tells
// its code) and pictures of two colours.
#include "base/timer.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/fault.h"
#include "os/window.h"
#include "platform/window.h"
#include "render/image_file.h"
#include "render/render.h"
#include "render/texture.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

using test_support::fail_nothrow_allocations;
using test_support::write_file;

using bytes = std::vector<std::uint8_t>;

using test_support::put_le;

// An uncompressed TGA: the 18-byte header, an ID field of `id_length` bytes, then `pixels`.
bytes tga_file(int type, int width, int height, int depth, const bytes& pixels, int id_length = 0) {
    bytes out = {static_cast<std::uint8_t>(id_length), 0, static_cast<std::uint8_t>(type)};
    out.resize(12, 0);
    put_le(out, static_cast<std::uint32_t>(width) | static_cast<std::uint32_t>(height) << 16, 4);
    put_le(out, static_cast<std::uint32_t>(depth), 2); // and a descriptor of 0
    out.resize(out.size() + static_cast<std::size_t>(id_length), 'i');
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// A BMP with a 40-byte info header whose pixel data (`pixels`, rows as stored) starts at
// `offset` (54 or more); the gap after the headers is filled with zeros.
bytes bmp_file(std::int32_t width, std::int32_t height, int bits, int compression,
               const bytes& pixels, std::uint32_t offset = 54) {
    bytes out = {'B', 'M'};
    for (auto field : {offset + static_cast<std::uint32_t>(pixels.size()), 0u, offset, 40u,
                       static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        put_le(out, field, 4);
    put_le(out, 1 | static_cast<std::uint32_t>(bits) << 16, 4); // planes, bits per pixel
    put_le(out, static_cast<std::uint32_t>(compression), 4);
    out.resize(offset, 0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// The code whose cell colour this is; -1 for a colour no cell has. 16-bit colour keeps the top 5
// or 6 bits, enough to tell steps of 16 apart.
int code_of_colour(const std::uint8_t* c) { return c[2] < 200 ? -1 : c[1] / 16 * 16 + c[0] / 16; }

std::array<std::uint8_t, 4> pixel(int x, int y) {
    std::array<std::uint8_t, 4> rgba{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

// The glyph whose cell colour shows at (x, y); -1 for none.
int glyph(int x, int y) { return code_of_colour(pixel(x, y).data()); }

// What covers a pixel: '.' the grey frame, '#' black (a shadow), 'r' or 'g' a glyph tinted red or
// green, else the code of the glyph.
char seen(int x, int y) {
    const auto p = pixel(x, y);
    if (p[0] == p[1] && p[1] == p[2])
        return p[0] == 0 ? '#' : p[0] > 100 && p[0] < 160 ? '.' : '?';
    if (p[2] == 0)
        return p[1] == 0 ? 'r' : p[0] == 0 ? 'g' : '?';
    return static_cast<char>(code_of_colour(p.data()));
}

// What covers the centres of `count` squares of `size` units from (x, y).
std::string glyphs(int x, int y, int size, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += seen(x + i * size + size / 2, y + size / 2);
    return out;
}

// A 32-bit TGA whose texel at (x, y), row 0 at the bottom, has colour(x, y) as B G R A.
void write_picture(const char* name, int width, int height, auto colour) {
    bytes pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (const int c : colour(x, y))
                pixels.push_back(static_cast<std::uint8_t>(c));
    write_file(name, tga_file(2, width, height, 32, pixels));
}

// A window and the renderer, with pictures in data/ made to be read back: the code font, a blue
// paddle, a grey background, an ace medal whose left half is red and right half green.
class render_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_NO_FATAL_FAILURE(start_with_main_window());
        main_timer = new ctimer;
        std::filesystem::create_directory("data");
        // The font's cell for code c is solid and tells its code by colour: red = column * 16 + 8,
        // green = row * 16 + 8 (row 0 at the top), blue 255.
        write_picture("data/font.tga", 128, 128, [](int x, int y) {
            return std::array{255, (15 - y / 8) * 16 + 8, x / 8 * 16 + 8, 255};
        });
        const auto solid = [](int b, int g, int r) {
            return [=](int, int) { return std::array{b, g, r, 255}; };
        };
        write_picture("data/client.tga", 8, 128, solid(255, 0, 0));
        write_picture("data/background.tga", 8, 8, solid(64, 64, 64));
        write_picture("data/medal_ace.tga", 64, 64, [](int x, int) {
            return x < 32 ? std::array{0, 0, 255, 255} : std::array{0, 255, 0, 255};
        });
        main_render = new crender;
        ASSERT_EQ(main_render->init(), 1);
    }

    // Frames of a steady length, as the timer measured the one before.
    void frames_of(std::uint32_t ms, int count) {
        main_timer->frame_ms = ms;
        main_timer->fps = 1000 / ms;
        for (int i = 0; i < count; ++i)
            main_render->draw_frame();
    }
};

class texture_test : public render_test {
protected:
    // Writes the file (if any), loads it into a variable holding 0 and returns the log line.
    std::string load(const char* name, int filter, int expected_result, const bytes& file = {}) {
        if (!file.empty())
            write_file(name, file);
        texture = 0;
        const std::size_t before = read_log().size();
        EXPECT_EQ(load_texture(name, filter, &texture), expected_result) << (name ? name : "");
        return read_log().substr(before);
    }
    // The bound texture's texels at `level` as RGBA.
    static bytes texels(GLint level = 0) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        bytes out(static_cast<std::size_t>(w * h * 4));
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    GLuint texture = 0;
};

TEST_F(texture_test, PixelsReachOpenGlAsRgbInFileOrder) {
    // B G R A 10 20 30 40 arrives as 30 20 10 40, after an ID field that is skipped.
    load("a.tga", 0, 1,
         tga_file(2, 2, 2, 32, {10, 20, 30, 40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6}, 5));
    EXPECT_EQ(texels(), (bytes{30, 20, 10, 40, 3, 2, 1, 4, 7, 6, 5, 8, 7, 8, 9, 6}));
    const bytes bgr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}; // 3 x 2
    for (int type : {2, 3}) { // true-colour and greyscale; rows are tight, not padded to 4
        load("b.tga", 0, 1, tga_file(type, 3, 2, 24, bgr));
        EXPECT_EQ(texels(), (bytes{3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255,
                                   12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255}));
    }
    // BMP rows are padded to 4 bytes, and the pixels start where the header says (64).
    load("a.bmp", 0, 1, bmp_file(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}, 64));
    EXPECT_EQ(texels(), (bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}));
}

// The name chooses the loader, whatever its case; files the loaders do not take fail with their
// reason.
TEST_F(texture_test, TheNameChoosesTheLoaderAndFilesItDoesNotTakeFailWithTheirReason) {
    EXPECT_EQ(load("TEXWHITE", 1, 1),
              " (texture) loading UNIFORM texture colors(255,255,255) : OK\n");
    for (const char* name : {"x.tg", ".tga", "image.png", "imagetga", "a.tga.", "texblack2",
                             static_cast<const char*>(nullptr)})
        EXPECT_EQ(load(name, 1, 0), "") << name;
    const bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}; // 2 x 2, padded
    const bytes bmp = bmp_file(2, 2, 24, 0, rows);
    // The name's extension chooses the loader, whatever its case; no bytes, no file.
    const std::tuple<std::string, bytes, std::string> cases[] = {
        {"x.Bmp", {}, "unable to open file]"},
        {"a.tga", tga_file(10, 2, 2, 32, bytes(16)), "unsupported format]"},
        {"a.tga", tga_file(3, 2, 2, 8, bytes(4)), "8 bpp not supported]"},
        {"a.tga", bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "read error]"},
        {"a.tga", tga_file(2, 65535, 65535, 32, bytes(4)), "unable to allocate memory!"},
        {"a.tga", tga_file(2, 0, 4, 32, {}), "unable to build the texture format]"},
        {"a.tga", tga_file(2, 4, 0, 24, {}), "unable to build the texture format]"},
        {"a.bmp", bmp_file(2, 2, 8, 0, bytes(8)), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, 2, 24, 1, rows), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, -2, 24, 0, rows), "unsupported bmp]"}, // top-down
        {"a.bmp", bmp_file(0, 2, 24, 0, rows), "unsupported bmp]"},
        {"a.bmp", bytes(30, 'B'), "invalid file format]"},
        {"a.bmp", bytes(bmp.begin(), bmp.begin() + 30), "read error]"},
        {"a.bmp", bmp_file(100000, 100000, 24, 0, rows), "unable to allocate memory!"},
    };
    const auto fails = [&](const std::string& name, const bytes& file, const std::string& verdict) {
        const std::string kind = name.back() == 'a' ? "TGA" : "BMP";
        EXPECT_EQ(load(name.c_str(), 1, 0, file), " (texture) loading " + kind + " texture " +
                                                      name + " : FAILED [" + verdict + "\n");
        EXPECT_NE(texture, 0u) << "the generated name stays with the caller";
    };
    for (const auto& [name, file, verdict] : cases)
        fails(name, file, verdict);
    // When no allocation succeeds, a file too short for its header still fails on its length:
    // its header is never believed far enough to allocate.
    fail_nothrow_allocations(0, 10);
    fails("a.tga", tga_file(2, 64, 64, 32, bytes(1000)),
          "image size error 1000 and expected 16384");
    fails("a.bmp", bytes(bmp.begin(), bmp.end() - 1), "read error]");
    fails("a.tga", tga_file(2, 2, 2, 32, bytes(16)), "unable to allocate memory!");
    fail_nothrow_allocations(0); // the uniform texture's buffer
    EXPECT_EQ(load("TexBlack", 0, 0), " (texture) loading UNIFORM texture colors(0,0,0) : "
                                      "FAILED [unable to build the texture format]\n");
}

TEST_F(texture_test, TheFilterDecidesTheMipmapsAndFilter3UploadsNothing) {
    // Filter 3 keeps OpenGL's own minification filter and uploads nothing.
    const GLint min_filters[] = {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR_MIPMAP_LINEAR,
                                 GL_NEAREST_MIPMAP_LINEAR};
    for (int filter = 0; filter < 4; ++filter) {
        load("a.tga", filter, 1, tga_file(2, 4, 4, 24, bytes(48, 99)));
        GLint min_filter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
        EXPECT_EQ(min_filter, min_filters[filter]);
        EXPECT_EQ(texels(0).size(), filter == 3 ? 0u : 64u);
        EXPECT_EQ(texels(2).size(), filter == 1 || filter == 2 ? 4u : 0u); // 1 x 1 mipmap
    }
    // Without non-power-of-two textures, sizes are scaled up to powers of two: 3 x 5 to 4 x 8.
    test_support::fake_gl_strings("1.1 Mesa", "GL_EXT_texture");
    load("a.tga", 1, 1, tga_file(2, 3, 5, 32, bytes(60, 200)));
    EXPECT_EQ(texels(), bytes(4 * 8 * 4, 200));
}

// On a driver whose largest texture is 32768, the byte count of a large TGA would not fit the
// int of its size line.
TEST(image_reader_test, ByteCountsBeyondAnIntAreRefusedAsMemory) {
    for (int side : {32768, 30000}) {
        const bytes file = tga_file(2, side, side, 32, bytes(4));
        memory_source source(file.data(), file.size());
        image_pixels image;
        EXPECT_EQ(read_tga(source, 32768, image), image_status::no_memory) << side;
    }
}

using font_test = render_test;

// Texts drawn with the renderer's font, made of solid squares that tell their code by colour, on
// a grey frame, and read back pixel by pixel.
TEST_F(font_test, CodesCentreColourShadowAndDrawArrowsAndPrintRestoresTheState) {
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    main_render->setup_view();
    print(main_font, 800, 100, 22, "^c^sPaused"); // 6 glyphs from 400 - 66, shadowed at (+1, +1)
    print(main_font, 400, 200, 80, "^cAB");       // centred by the size asked, drawn at most 50
    print(main_font, 100, 300, 3, "^cAB");        // and at least 5: from 50 - 3
    print(main_font, 200, 360, 10, "^c^-<A");     // an arrow is one glyph of three characters
    EXPECT_EQ(glyphs(334, 100, 22, 6) + glyphs(120, 200, 50, 2) + glyphs(47, 300, 5, 2) +
                  glyphs(90, 360, 10, 2),
              "PausedABAB\x88"
              "A");
    EXPECT_EQ((std::string{seen(333, 110), seen(466, 110), seen(340, 122), seen(467, 110),
                           seen(119, 220), seen(219, 220), seen(220, 220), seen(46, 302)}),
              ".##..B..");
    print(main_font, 0, 20, 12, "^9x");
    print(main_font, 0, 40, 12, "^c"); // too short to centre
    print(main_font, 0, 60, 12, "^-x^");
    print(main_font, 0, 80, 12, "a^->b^-<\xe9");
    print(main_font, 10, 140, 12, "ab\ncd"); // the next line starts at x, one glyph higher
    print(main_font, -12240, 400, 12, "%sabcdef", std::string(1020, ' ').c_str()); // cut at 1023
    print(main_font, 0, 420, 12, "^2x");
    EXPECT_EQ(glyphs(0, 20, 12, 3) + glyphs(0, 40, 12, 2) + glyphs(0, 60, 12, 4) +
                  glyphs(0, 80, 12, 5) + glyphs(10, 140, 12, 2) + glyphs(10, 152, 12, 2) +
                  glyphs(0, 400, 12, 4) + glyphs(0, 420, 12, 1),
              "^9x^c^-x^a\x8d"
              "b\x88\xe9"
              "abcdabc.g");

    // Print leaves texturing and blending as they were (on and off), no texture bound, the
    // blend function its own and the model-view matrix at identity.
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glTranslatef(50, 50, 0);
    print(main_font, 0, 100, 30, "^s^4x^s^s");
    std::vector<GLint> state;
    for (GLenum name : {GL_TEXTURE_2D, GL_BLEND, GL_TEXTURE_BINDING_2D, GL_BLEND_SRC, GL_BLEND_DST})
        glGetIntegerv(name, &state.emplace_back());
    EXPECT_EQ(state, (std::vector<GLint>{1, 0, 0, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
    GLfloat matrix[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_EQ(matrix[12] + matrix[13], 0.0f) << "the translation is gone";
    // A shadowed glyph before any colour code of its own comes out in the carried colour.
    print(main_font, 0, 300, 12, "^sx");
    EXPECT_EQ(seen(6, 306), 'r');
    const std::string untouched = glyphs(0, 440, 12, 2);
    print(nullptr, 0, 440, 12, "xx");
    EXPECT_EQ(glyphs(0, 440, 12, 2), untouched) << "no font, no text";
}

TEST_F(render_test, TheFrameRateGoesIntoTheTitleTwiceASecondOrOnTheFrameThreeTimes) {
    const os::hwnd window = main_window->hwnd;
    // The sum outlives every renderer: the first title brings it back to 0.
    for (int i = 0; i < 32 && !std::strstr(os::window_text(window), "FPS"); ++i)
        frames_of(16, 1);
    frames_of(20, 24); // 480 ms
    EXPECT_STREQ(os::window_text(window), "brevox [build 0.7a]  [62 FPS]");
    frames_of(20, 1); // 500 ms
    EXPECT_STREQ(os::window_text(window), "brevox [build 0.7a]  [50 FPS]");

    main_cvars->set_int("fullscreen", 1);
    frames_of(5, 66);                    // 330 ms
    os::seam::fail_call("swap_buffers"); // the last frame stays in the back buffer to be read
    frames_of(5, 1);                     // 335 ms
    EXPECT_EQ(glyphs(296, 470, 8, 6), "200fps") << "centred on 320 at y = 470";
    frames_of(16, 19);
    os::seam::fail_call("swap_buffers");
    frames_of(16, 1); // 320 ms
    EXPECT_EQ(glyphs(296, 470, 8, 6), "200fps");
    os::seam::fail_call("swap_buffers");
    frames_of(16, 1); // 336 ms
    EXPECT_EQ(seen(299, 474) + glyphs(300, 470, 8, 5), "#62fps");
    EXPECT_STREQ(os::window_text(window), "brevox [build 0.7a]  [50 FPS]")
        << "the title keeps the last windowed rate";
    main_render->release();
    EXPECT_EQ(os::seam::live_gl_objects(), 0) << "the release leaves no OpenGL object behind";
}

class scene_test : public render_test {
protected:
    void SetUp() override {
        render_test::SetUp();
        main_menu = new cmenu;
        ASSERT_EQ(main_menu->init(), 1);
        main_game = new cgame;
        main_game->left = new cpaddle(0);
        main_game->right = new cpaddle(1);
        main_game->ball = new cball;
    }

    // Draws one frame of the given state on a client area of the window's size and keeps it
    // in the back buffer to be read.
    void draw(std::int32_t state) {
        main_game->state = state;
        main_game->right->x = static_cast<float>(main_cvars->get_int("clwidth"));
        os::seam::fail_call("swap_buffers");
        main_render->draw_frame();
    }
};

TEST_F(scene_test, TheMenuStandsUnderTheTitleWithTheVersionAtTheLowerRight) {
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
    main_render->release();
    main_window->destroy();
    main_cvars->set_int("width", 800);
    main_cvars->set_int("height", 600);
    ASSERT_EQ(main_window->create(), 1);
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
    EXPECT_EQ(glyphs(364, 10, 12, 6), "3 - 12") << "12-unit glyphs centred on 400 at y 10";
}

TEST_F(scene_test, TheBallIsARedDiscAndTexturingComesBackAfterIt) {
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
