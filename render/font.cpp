#include "render/font.h"

#include "render/texture.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint32_t default_size = 12;
constexpr std::int32_t white = 7;
constexpr std::uint8_t right_arrow = 141;
constexpr std::uint8_t left_arrow = 136;
constexpr float cell = 0.0625f; // one sixteenth of the image

void glyph_quad(float s0, float t0, float s1, float t1, float x, float y, float size) {
    glBegin(GL_QUADS);
    glTexCoord2f(s0, t0);
    glVertex2d(x, y);
    glTexCoord2f(s1, t0);
    glVertex2d(x + size, y);
    glTexCoord2f(s1, t1);
    glVertex2d(x + size, y + size);
    glTexCoord2f(s0, t1);
    glVertex2d(x, y + size);
    glEnd();
}

bool is_colour_digit(char c) { return c >= '0' && c <= '7'; }

// Colour, shadow and arrow codes in a text ("^c" and newlines are not counted).
int count_codes(const char* text) {
    const std::size_t n = std::strlen(text);
    int count = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (text[i] != '^')
            continue;
        if (is_colour_digit(text[i + 1]) || text[i + 1] == 's') {
            ++count;
            i += 1;
        } else if (text[i + 1] == '-' && i + 2 < n && (text[i + 2] == '>' || text[i + 2] == '<')) {
            ++count;
            i += 2;
        }
    }
    return count;
}

} // namespace

cfont::cfont(const char* name) : texture(0), size(default_size), shadow(0), color(white) {
    load_texture(name, 1, &texture);
}

void cfont::release() {
    glDeleteTextures(1, &texture);
    texture = 0;
}

void cfont::set_size(std::uint32_t n) { size = n < 5 ? 5 : n > 50 ? 50 : n; }

namespace {

// The current OpenGL colour for an index 0..7: bit 2 red, bit 1 green, bit 0 blue.
void set_color(std::int32_t index) {
    glColor4f((index & 4) ? 1.0f : 0.0f, (index & 2) ? 1.0f : 0.0f, (index & 1) ? 1.0f : 0.0f,
              1.0f);
}

// One glyph with its lower-left corner at (x, y).
void draw_char(cfont* font, float x, float y, std::uint8_t code) {
    const float s0 = static_cast<float>(code % 16) * cell;
    const float t0 = 1.0f - static_cast<float>(code / 16) * cell - cell; // row 0 at the top
    const float s1 = s0 + cell;
    const float t1 = t0 + cell;
    const GLboolean texturing = glIsEnabled(GL_TEXTURE_2D);
    const GLboolean blending = glIsEnabled(GL_BLEND);

    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, font->texture);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLoadIdentity();
    const auto size = static_cast<float>(font->size);
    if (font->shadow) {
        set_color(0);
        glyph_quad(s0, t0, s1, t1, x + 1, y + 1, size);
        set_color(font->color);
    }
    glyph_quad(s0, t0, s1, t1, x, y, size);

    glBindTexture(GL_TEXTURE_2D, 0);
    if (!texturing)
        glDisable(GL_TEXTURE_2D);
    if (!blending)
        glDisable(GL_BLEND);
}

} // namespace

void print(cfont* font, float x, float y, std::uint32_t size, const char* format, ...) {
    if (!font) // the font object could not be allocated: the texts are skipped
        return;
    char text[1024] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args); // longer texts are cut at 1023
    va_end(args);
    const std::size_t len = std::strlen(text);

    glColor3f(1, 1, 1);
    font->set_size(size);
    float draw_x = x;
    float draw_y = y;
    std::size_t i = 0;
    if (len > 2 && text[0] == '^' && text[1] == 'c') {
        // Each code takes two characters more than it draws; the unclamped size centres.
        const int codes = count_codes(text + 2);
        const auto visible = static_cast<float>(static_cast<long>(len) - (2 * codes + 2));
        draw_x = x * 0.5f - visible * static_cast<float>(size) * 0.5f;
        i = 2;
    }
    while (i < len) {
        const char c = text[i];
        if (c == '\n') {
            draw_x = x;
            draw_y += static_cast<float>(font->size);
            ++i;
            continue;
        }
        if (c == '^' && i + 1 < len) {
            const char next = text[i + 1];
            if (is_colour_digit(next)) {
                font->color = next - '0';
                set_color(font->color);
                i += 2;
                continue;
            }
            if (next == 's') {
                font->shadow = !font->shadow;
                i += 2;
                continue;
            }
            if (next == '-' && i + 2 < len && (text[i + 2] == '>' || text[i + 2] == '<')) {
                draw_char(font, draw_x, draw_y, text[i + 2] == '>' ? right_arrow : left_arrow);
                draw_x += static_cast<float>(font->size);
                i += 3;
                continue;
            }
        }
        draw_char(font, draw_x, draw_y, static_cast<std::uint8_t>(c));
        draw_x += static_cast<float>(font->size);
        ++i;
    }

    font->set_size(default_size);
    font->shadow = 0;
    set_color(white);
    glColor3f(1, 1, 1);
}
