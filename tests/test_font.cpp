#include "render/font.h"
#include "render/render.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// What covers a pixel: '.' the grey frame, '#' black (a shadow), 'r' or 'g' a glyph tinted red or
// green, else the code of the glyph.
char seen(int x, int y) {
    std::uint8_t p[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    if (p[0] == p[1] && p[1] == p[2])
        return p[0] == 0 ? '#' : p[0] > 100 && p[0] < 160 ? '.' : '?';
    if (p[2] == 0)
        return p[1] == 0 ? 'r' : p[0] == 0 ? 'g' : '?';
    return static_cast<char>(test_support::code_of_colour(p));
}

// What covers the centres of `count` squares of `size` units from (x, y).
std::string glyphs(int x, int y, int size, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += seen(x + i * size + size / 2, y + size / 2);
    return out;
}

using font_test = brevox_test;

// Texts drawn with the renderer's font, made of solid squares that tell their code by colour, on
// a grey frame, and read back pixel by pixel.
TEST_F(font_test, CodesCentreColourShadowAndDrawArrowsAndPrintRestoresTheState) {
    start_log_and_cvars();
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    std::filesystem::create_directory("data");
    test_support::write_code_font("data/font.tga");
    main_render = new crender;
    ASSERT_EQ(main_render->init(), 1);
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    main_render->setup_view();
    print(main_font, 800, 100, 22, "^c^sPaused"); // 6 glyphs from 400 - 66, shadowed at (+1, +1)
    print(main_font, 400, 200, 80, "^cAB");       // centred by the size asked, drawn at most 50
    print(main_font, 100, 300, 3, "^cAB");        // and at least 5: from 50 - 3
    EXPECT_EQ(glyphs(334, 100, 22, 6) + glyphs(120, 200, 50, 2) + glyphs(47, 300, 5, 2),
              "PausedABAB");
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
    EXPECT_EQ(count_codes("^c^1^s^-<^-^8^"), 3);

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
    print(nullptr, 0, 0, 12, "no font, no text");
}

} // namespace
