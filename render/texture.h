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
