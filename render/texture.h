// The texture manager: turns an image file name, or one of the names "texblack" and "texwhite",
// into an OpenGL texture object. Every load writes one log line with its verdict. It keeps no
// list: the caller owns the variable that receives the texture name and deletes the texture.
// Main thread only, with the driver's OpenGL context current.
#pragma once

#include <GL/gl.h>

#include <cstdint>

// Filters: 0 linear; 1 linear, mipmaps picked nearest; 2 linear, mipmaps blended; any other
// value binds the texture and sets its wrap modes but uploads nothing.
struct texture_format {
    const std::uint8_t* pixels; // rows back to back, the first row at t = 0
    std::int32_t width;
    std::int32_t height;
    GLenum format; // GL_RGB or GL_RGBA
    std::int32_t filter;
};

// Every operation returns 1 on success and 0 on failure.
int load_texture(const char* name, std::int32_t filter, GLuint* texture);
int load_tga(const char* name, std::int32_t filter, GLuint* texture);
int load_bmp(const char* name, std::int32_t filter, GLuint* texture);
// A 16 x 16 texture of one colour, 0x00BBGGRR. A variable holding 0 gets a new name.
int load_uniform_texture(std::uint32_t color, GLuint* texture);
// Uploads into the texture the variable names and leaves it bound to GL_TEXTURE_2D. Refuses
// (0) no pixels or an empty size without touching OpenGL.
int build_texture(const texture_format* format, GLuint* texture);

// The index of the first NUL among the first 4096 bytes; 0 for null or no NUL there.
std::uint32_t str_length(const char* text);
// The text after the last "." (the whole name without one); null for names under 5 characters.
const char* file_extension(const char* name);
// 0 when the texts match, letters regardless of case; 1 otherwise.
int str_differ(const char* a, const char* b);

namespace texture_seam {
// Uploads as a context without non-power-of-two textures must: rescaled to powers of two.
void force_power_of_two_sizes(bool on);
} // namespace texture_seam
