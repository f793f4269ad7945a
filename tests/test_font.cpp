#include "render/font.h"
#include "render/render.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <array>
#include <string>
#include <tuple>

namespace {

// Texts drawn with a font whose every cell is a solid square telling its code by colour, on a
// grey frame, and read back pixel by pixel.
class font_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        main_render = new crender;
        ASSERT_EQ(main_render->init(), 1);
        test_support::write_code_font("code.tga");
        font = new cfont("code.tga");
        glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
        main_render->setup_view();
    }
    void TearDown() override {
        if (font)
            font->release();
        delete font;
        brevox_test::TearDown();
    }

    // What covers a pixel: '.' the grey frame, '#' black (a shadow), 'r' or 'g' a glyph tinted
    // red or green, else the code of the glyph.
    static char seen(int x, int y) {
        std::uint8_t p[4] = {};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        if (p[0] == p[1] && p[1] == p[2])
            return p[0] == 0 ? '#' : p[0] > 100 && p[0] < 160 ? '.' : '?';
        if (p[2] == 0)
            return p[1] == 0 ? 'r' : p[0] == 0 ? 'g' : '?';
        return static_cast<char>(test_support::code_of_colour(p));
    }
    // What covers the centres of `count` squares of `size` units from (x, y).
    static std::string glyphs(int x, int y, int size, int count) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += seen(x + i * size + size / 2, y + size / 2);
        return out;
    }

    cfont* font = nullptr;
};

TEST_F(font_test, CentredTextsStartWhereTheLayoutSaysWithTheirShadow) {
    // 12 characters, 2 codes besides "^c": 6 glyphs from 320 - 36 = 284, shadowed at (+1, +1).
    print(font, 640, 10, 12, "^c^7^s%d - %d", 3, 12);
    EXPECT_EQ(glyphs(284, 10, 12, 6), "3 - 12");
    EXPECT_EQ((std::string{seen(283, 15), seen(356, 15), seen(300, 22), seen(356, 10)}), ".##.");
    print(font, 800, 100, 22, "^c^sPaused"); // from 400 - 66
    EXPECT_EQ(glyphs(334, 100, 22, 6), "Paused");
    EXPECT_EQ((std::string{seen(333, 110), seen(466, 110), seen(467, 110)}), ".#.");
    // The size asked centres, the size clamped to 5..50 draws: from 200 - 80, then from 50 - 3.
    print(font, 400, 200, 80, "^cAB");
    print(font, 100, 300, 3, "^cAB");
    EXPECT_EQ(glyphs(120, 200, 50, 2) + glyphs(47, 300, 5, 2), "ABAB");
    EXPECT_EQ((std::string{seen(119, 220), seen(219, 220), seen(220, 220), seen(46, 302)}), ".B..");
}

TEST_F(font_test, CaretsDrawCodesOrThemselves) {
    print(font, 0, 100, 12, "^9x");
    print(font, 0, 120, 12, "^c"); // too short to centre
    print(font, 0, 140, 12, "^-x^");
    print(font, 0, 160, 12, "a^->b^-<\xe9");
    print(font, 10, 180, 12, "ab\ncd"); // the next line starts at x, one glyph higher
    EXPECT_EQ(glyphs(0, 100, 12, 3) + glyphs(0, 120, 12, 2) + glyphs(0, 140, 12, 4) +
                  glyphs(0, 160, 12, 5) + glyphs(10, 180, 12, 2) + glyphs(10, 192, 12, 2),
              "^9x^c^-x^a\x8d"
              "b\x88\xe9"
              "abcd");
    EXPECT_EQ(count_codes("^c^1^s^-<^-^8^"), 3);
    EXPECT_EQ(count_codes("^"), 0);
    std::string text;
    for (int i = 0; i < 510; ++i)
        text += "^s";
    print(font, 0, 220, 12, "%sabcdef", text.c_str()); // cut after 1023 characters
    EXPECT_EQ(glyphs(0, 220, 12, 4), "abc.");
    print(font, 0, 240, 12, "^2x");
    EXPECT_EQ(seen(6, 246), 'g');
}

TEST_F(font_test, PrintLeavesTheStateAsDesigned) {
    const auto integer = [](GLenum name) {
        GLint value = -1;
        glGetIntegerv(name, &value);
        return value;
    };
    // Texturing as it was (on), blending as it was (off).
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glTranslatef(50, 50, 0);
    print(font, 0, 100, 30, "^s^4x^s^s");
    EXPECT_EQ(std::tuple(font->size, font->shadow, font->color), std::tuple(12u, 0, 4));
    EXPECT_EQ((std::array{integer(GL_TEXTURE_2D), integer(GL_BLEND), integer(GL_TEXTURE_BINDING_2D),
                          integer(GL_BLEND_SRC), integer(GL_BLEND_DST)}),
              (std::array{1, 0, 0, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
    GLfloat colour[4], matrix[16];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_EQ(colour[0] + colour[1] + colour[2] + colour[3], 4.0f) << "white";
    EXPECT_EQ(matrix[12] + matrix[13], 0.0f) << "the translation is gone";
    // A shadowed glyph before any colour code of its own comes out in the carried colour.
    print(font, 0, 300, 12, "^sx");
    EXPECT_EQ(seen(6, 306), 'r');
    // A font whose image is missing keeps its texture name and draws all the same.
    cfont missing("missing.tga");
    print(&missing, 0, 0, 12, "^c^s^-");
    const GLuint name = missing.texture;
    missing.release();
    EXPECT_TRUE(name != 0 && missing.texture == 0 && !glIsTexture(name));
    print(nullptr, 0, 0, 12, "no font, no text");
}

} // namespace
