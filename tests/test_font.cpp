#include "platform/window.h"
#include "render/font.h"
#include "render/render.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <array>
#include <string>

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
        if (font) {
            font->release();
            delete font;
        }
        brevox_test::TearDown();
    }

    static std::array<std::uint8_t, 4> pixel(int x, int y) {
        std::array<std::uint8_t, 4> rgba{};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }
    static bool is_grey(int x, int y) {
        const auto p = pixel(x, y);
        return p[0] > 100 && p[0] < 160 && p[0] == p[1] && p[1] == p[2];
    }
    static bool is_black(int x, int y) {
        const auto p = pixel(x, y);
        return p[0] + p[1] + p[2] == 0;
    }
    // The code of the glyph drawn in the square of `size` units at (x, y), read at its centre.
    static int glyph_at(int x, int y, int size) {
        return test_support::code_of_colour(pixel(x + size / 2, y + size / 2).data());
    }
    // The glyphs of a row of `count` squares from (x, y), as text.
    static std::string glyphs(int x, int y, int size, int count) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += static_cast<char>(glyph_at(x + i * size, y, size));
        return out;
    }

    cfont* font = nullptr;
};

TEST_F(font_test, CentredTextsStartWhereTheLayoutSaysWithTheirShadow) {
    // 12 characters, 2 codes besides "^c": 6 glyphs from 320 - 36 = 284.
    print(font, 640, 10, 12, "^c^7^s%d - %d", 3, 12);
    EXPECT_EQ(glyphs(284, 10, 12, 6), "3 - 12");
    EXPECT_TRUE(is_grey(283, 15)) << "nothing left of the first glyph";
    EXPECT_TRUE(is_black(356, 15)) << "the shadow reaches one unit right";
    EXPECT_TRUE(is_black(300, 22)) << "and one unit up";
    EXPECT_TRUE(is_grey(356, 10)) << "but not below the glyphs";
    EXPECT_TRUE(is_grey(357, 15));

    print(font, 800, 100, 22, "^c^sPaused");
    EXPECT_EQ(glyphs(334, 100, 22, 6), "Paused");
    EXPECT_TRUE(is_grey(333, 110));
    EXPECT_TRUE(is_black(334 + 132, 110));
    EXPECT_TRUE(is_grey(334 + 133, 110));
}

TEST_F(font_test, CaretsDrawCodesOrThemselves) {
    print(font, 0, 100, 12, "^9x");
    EXPECT_EQ(glyphs(0, 100, 12, 3), "^9x");
    print(font, 0, 120, 12, "^c");
    EXPECT_EQ(glyphs(0, 120, 12, 2), "^c") << "a text that is only ^c is not centred";
    print(font, 0, 140, 12, "^-x^");
    EXPECT_EQ(glyphs(0, 140, 12, 4), "^-x^");

    print(font, 0, 160, 12, "a^->b^-<\xe9");
    EXPECT_EQ(glyph_at(0, 160, 12), 'a');
    EXPECT_EQ(glyph_at(12, 160, 12), 141);
    EXPECT_EQ(glyph_at(24, 160, 12), 'b');
    EXPECT_EQ(glyph_at(36, 160, 12), 136);
    EXPECT_EQ(glyph_at(48, 160, 12), 0xe9) << "character codes are unsigned bytes";
    EXPECT_EQ(count_codes("a^->b"), 1);
    EXPECT_EQ(count_codes("^c^1^s^-<^-^8^"), 3);
    EXPECT_EQ(count_codes("^"), 0);

    // A colour code tints what follows: the x cell (red 136, green 120) through green.
    print(font, 0, 180, 12, "^2x");
    const auto green_x = pixel(6, 186);
    EXPECT_EQ(green_x[0], 0);
    EXPECT_NEAR(green_x[1], 120, 8);
    EXPECT_EQ(green_x[2], 0);
    EXPECT_TRUE(is_grey(18, 186)) << "one glyph only";

    // A newline starts the next line at x, one glyph higher.
    print(font, 10, 200, 12, "ab\ncd");
    EXPECT_EQ(glyphs(10, 200, 12, 2), "ab");
    EXPECT_EQ(glyphs(10, 212, 12, 2), "cd");
}

TEST_F(font_test, SizesAreClampedWhileCentringUsesTheSizeAsked) {
    print(font, 0, 100, 3, "AB");
    EXPECT_EQ(glyphs(0, 100, 5, 2), "AB");
    EXPECT_TRUE(is_grey(10, 102));
    EXPECT_TRUE(is_grey(2, 105));
    // 400 / 2 - 2 glyphs x 80 / 2 = 120, then 50-unit glyphs.
    print(font, 400, 200, 80, "^cAB");
    EXPECT_EQ(glyphs(120, 200, 50, 2), "AB");
    EXPECT_TRUE(is_grey(119, 220));
    EXPECT_TRUE(is_grey(220, 220));
    EXPECT_TRUE(is_grey(150, 250));
    print(font, 100, 300, 3, "^cAB"); // 50 - 3 = 47
    EXPECT_EQ(glyphs(47, 300, 5, 2), "AB");
    EXPECT_TRUE(is_grey(46, 302));
}

TEST_F(font_test, LongTextsAreCutAt1023Characters) {
    std::string text;
    for (int i = 0; i < 510; ++i)
        text += "^s"; // 1020 characters, shadow toggled an even number of times
    text += "abcdef";
    print(font, 0, 100, 12, "%s", text.c_str());
    EXPECT_EQ(glyphs(0, 100, 12, 3), "abc");
    EXPECT_TRUE(is_grey(36, 105)) << "d is the 1024th character";
}

TEST_F(font_test, PrintLeavesTheStateAsDesigned) {
    GLuint other = 0;
    glGenTextures(1, &other);
    for (bool enabled : {false, true}) {
        if (enabled) {
            glEnable(GL_TEXTURE_2D);
            glEnable(GL_BLEND);
        } else {
            glDisable(GL_TEXTURE_2D);
            glDisable(GL_BLEND);
        }
        glBindTexture(GL_TEXTURE_2D, other);
        glBlendFunc(GL_ONE, GL_ZERO);
        glTranslatef(50, 50, 0);
        print(font, 0, 100, 30, "^s^4x^s^s");
        EXPECT_EQ(font->size, 12u);
        EXPECT_EQ(font->shadow, 0);
        EXPECT_EQ(font->color, 4) << "the colour index carries over";
        GLfloat colour[4];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_EQ(colour[0] + colour[1] + colour[2] + colour[3], 4.0f);
        GLint binding = -1, src = 0, dst = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &binding);
        glGetIntegerv(GL_BLEND_SRC, &src);
        glGetIntegerv(GL_BLEND_DST, &dst);
        EXPECT_EQ(binding, 0);
        EXPECT_EQ(src, GL_SRC_ALPHA);
        EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
        EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), enabled ? GL_TRUE : GL_FALSE);
        EXPECT_EQ(glIsEnabled(GL_BLEND), enabled ? GL_TRUE : GL_FALSE);
        GLfloat matrix[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
        EXPECT_EQ(matrix[12] + matrix[13], 0.0f) << "the translation is gone";
    }
    // A shadowed glyph before any colour code of its own comes out in the carried colour.
    print(font, 0, 300, 12, "^sx");
    const auto red_x = pixel(6, 306);
    EXPECT_NEAR(red_x[0], 136, 8);
    EXPECT_EQ(red_x[1] + red_x[2], 0);
    glDeleteTextures(1, &other);
}

TEST_F(font_test, ColoursFollowTheirBitsAndAFontWithoutAnImageStillDraws) {
    for (int index = 0; index < 8; ++index) {
        set_color(index);
        GLfloat c[4];
        glGetFloatv(GL_CURRENT_COLOR, c);
        EXPECT_EQ(c[0], (index & 4) ? 1.0f : 0.0f) << index;
        EXPECT_EQ(c[1], (index & 2) ? 1.0f : 0.0f) << index;
        EXPECT_EQ(c[2], (index & 1) ? 1.0f : 0.0f) << index;
        EXPECT_EQ(c[3], 1.0f);
    }
    cfont missing("missing.tga");
    EXPECT_NE(missing.texture, 0u);
    EXPECT_EQ(missing.size, 12u);
    EXPECT_EQ(missing.color, 7);
    print(&missing, 0, 0, 12, "^c^s^-");
    const GLuint name = missing.texture;
    missing.release();
    EXPECT_EQ(missing.texture, 0u);
    EXPECT_FALSE(glIsTexture(name));
    print(nullptr, 0, 0, 12, "no font, no text");
}

} // namespace
