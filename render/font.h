// The text renderer: draws texts with a bitmap font of 16 x 16 square glyph cells, one quad per
// glyph and no kerning. In-line codes: "^c" at the start centres the text, "^0".."^7" pick a
// colour, "^s" toggles a drop shadow, "^->" and "^-<" draw the arrow glyphs 141 and 136. It
// writes nothing to the log. Main thread only, with the OpenGL context current.
#pragma once

#include <GL/gl.h>

#include <cstdint>

class cfont {
public:
    // Loads the image with mipmaps; a failed load leaves a texture name without an image, and
    // the font is used all the same.
    explicit cfont(const char* name);
    cfont(const cfont&) = delete;
    cfont& operator=(const cfont&) = delete;

    // Deletes the texture; the owner then frees the object.
    void release();
    // Clamps to 5..50.
    void set_size(std::uint32_t n);

    GLuint texture;
    std::uint32_t size;  // glyph width and height, and the advance, in projection units
    std::uint8_t shadow; // nonzero: a black copy at (+1, +1) under each glyph
    std::int32_t color;  // index of the last colour code, used again after each shadow
};

// Formats with the printf rules (at most 1023 characters) and draws the result. Without "^c",
// (x, y) is the lower-left corner of the first glyph; with it, the text is centred on x / 2.
// A newline starts the next line at x, one glyph higher. Leaves the colour white, no texture
// bound, texturing and blending as they were, and the model-view matrix at identity.
void print(cfont* font, float x, float y, std::uint32_t size, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
