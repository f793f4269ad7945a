#include "render/texture.h"

#include "base/log.h"
#include "render/image_file.h"

#include <GL/glu.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

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

GLint max_texture_size() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size > 0 ? size : 64; // the least any OpenGL 1.1 must take
}

bool has_extension(const char* name) {
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const std::size_t length = std::strlen(name);
    for (const char* at = list; at && (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool starts = at == list || at[-1] == ' ';
        if (starts && (at[length] == ' ' || at[length] == '\0'))
            return true;
    }
    return false;
}

bool non_power_of_two_supported() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (version && version[0] >= '2' && version[0] <= '9')
        return true;
    return has_extension("GL_ARB_texture_non_power_of_two");
}

bool is_power_of_two(std::int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

std::int32_t next_power_of_two(std::int32_t n, std::int32_t limit) {
    std::int32_t p = 1;
    while (p < n && p < limit)
        p *= 2;
    return p;
}

int upload(const image_pixels& image, std::int32_t filter, GLuint* texture) {
    const texture_format format{image.pixels.get(), image.width, image.height,
                                static_cast<GLenum>(image.format), filter};
    if (!build_texture(&format, texture)) {
        log_printf(main_log, "FAILED [unable to build the texture format]\n");
        return 0;
    }
    log_printf(main_log, "OK\n");
    return 1;
}

void log_failure(image_status status, const image_pixels& image) {
    switch (status) {
    case image_status::ok:
        break;
    case image_status::read_error:
        log_printf(main_log, "FAILED [read error]\n");
        break;
    case image_status::unsupported_format:
        log_printf(main_log, "FAILED [unsupported format]\n");
        break;
    case image_status::bad_depth:
        log_printf(main_log, "FAILED [%d bpp not supported]\n", image.depth);
        break;
    case image_status::no_memory:
        log_printf(main_log, "FAILED [unable to allocate memory!\n");
        break;
    case image_status::short_pixels:
        log_printf(main_log, "FAILED [image size error %d and expected %d\n",
                   static_cast<int>(image.bytes_read), static_cast<int>(image.bytes_expected));
        break;
    case image_status::invalid_signature:
        log_printf(main_log, "FAILED [invalid file format]\n");
        break;
    case image_status::unsupported_bmp:
        log_printf(main_log, "FAILED [unsupported bmp]\n");
        break;
    }
}

using image_reader = image_status (*)(image_source&, std::int32_t, image_pixels&);

int load_file(const char* kind, image_reader reader, const char* name, std::int32_t filter,
              GLuint* texture) {
    log_printf(main_log, " (texture) loading %s texture %s : ", kind, name ? name : "(null)");
    glGenTextures(1, texture); // the caller's variable holds the name even if the load fails
    std::FILE* file = name ? std::fopen(name, "rb") : nullptr;
    if (!file) {
        log_printf(main_log, "FAILED [unable to open file]\n");
        return 0;
    }
    image_pixels image;
    file_source source(file);
    const image_status status = reader(source, max_texture_size(), image);
    std::fclose(file);
    if (status != image_status::ok) {
        log_failure(status, image);
        return 0;
    }
    return upload(image, filter, texture);
}

std::uint32_t str_length(const char* text) {
    if (!text)
        return 0;
    for (std::uint32_t i = 0; i < 4096; ++i)
        if (text[i] == '\0')
            return i;
    return 0;
}

const char* file_extension(const char* name) {
    const std::uint32_t length = str_length(name);
    if (length < 5)
        return nullptr;
    for (std::uint32_t i = length; i > 0; --i)
        if (name[i - 1] == '.')
            return name + i;
    return name;
}

int str_differ(const char* a, const char* b) {
    const std::uint32_t length = str_length(a);
    if (length != str_length(b))
        return 1;
    for (std::uint32_t i = 0; i < length; ++i) {
        const auto gap = static_cast<std::uint8_t>(a[i] - b[i]);
        if (gap != 0 && gap != 32 && gap != 256 - 32)
            return 1;
    }
    return 0;
}

int build_texture(const texture_format* format, GLuint* texture) {
    // No texture can be built from no pixels (a TGA header may well say 0 x 0).
    if (!format->pixels || format->width <= 0 || format->height <= 0)
        return 0;
    glBindTexture(GL_TEXTURE_2D, *texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    const std::int32_t filter = format->filter;
    if (filter < 0 || filter > 2)
        return 1;

    const std::uint8_t* pixels = format->pixels;
    GLint width = format->width;
    GLint height = format->height;
    // Rows are packed tight; OpenGL's default of 4-byte rows would read past the end of an RGB
    // image whose width is not a multiple of 4.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    std::unique_ptr<std::uint8_t[]> scaled;
    if ((!is_power_of_two(width) || !is_power_of_two(height)) && !non_power_of_two_supported()) {
        const GLint limit = max_texture_size();
        const GLint to_width = next_power_of_two(width, limit);
        const GLint to_height = next_power_of_two(height, limit);
        const std::size_t channels = format->format == GL_RGBA ? 4 : 3;
        scaled.reset(new (std::nothrow)
                         std::uint8_t[static_cast<std::size_t>(to_width) *
                                      static_cast<std::size_t>(to_height) * channels]);
        if (!scaled)
            return 0;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        if (gluScaleImage(format->format, width, height, GL_UNSIGNED_BYTE, pixels, to_width,
                          to_height, GL_UNSIGNED_BYTE, scaled.get()) != 0)
            return 0;
        pixels = scaled.get();
        width = to_width;
        height = to_height;
    }

    static constexpr GLint min_filters[] = {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST,
                                            GL_LINEAR_MIPMAP_LINEAR};
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filters[filter]);
    glTexImage2D(GL_TEXTURE_2D, 0, 4, width, height, 0, format->format, GL_UNSIGNED_BYTE, pixels);
    if (filter != 0)
        gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, format->format, GL_UNSIGNED_BYTE,
                          pixels);
    return 1;
}

int load_tga(const char* name, std::int32_t filter, GLuint* texture) {
    return load_file("TGA", read_tga, name, filter, texture);
}

int load_bmp(const char* name, std::int32_t filter, GLuint* texture) {
    return load_file("BMP", read_bmp, name, filter, texture);
}

int load_uniform_texture(std::uint32_t color, GLuint* texture) {
    const std::uint8_t red = color & 0xff;
    const std::uint8_t green = (color >> 8) & 0xff;
    const std::uint8_t blue = (color >> 16) & 0xff;
    log_printf(main_log, " (texture) loading UNIFORM texture colors(%d,%d,%d) : ", red, green,
               blue);
    if (*texture == 0)
        glGenTextures(1, texture);
    constexpr int side = 16;
    // A failed allocation leaves the buffer null, which build_texture refuses.
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[side * side * 3]());
    if (pixels) {
        for (int i = 0; i < side * side; ++i) {
            pixels[i * 3] = red;
            pixels[i * 3 + 1] = green;
            pixels[i * 3 + 2] = blue;
        }
    }
    const texture_format format{pixels.get(), side, side, GL_RGB, 0};
    if (!build_texture(&format, texture)) {
        log_printf(main_log, "FAILED [unable to build the texture format]\n");
        return 0;
    }
    log_printf(main_log, "OK\n");
    return 1;
}

} // namespace

int load_texture(const char* name, std::int32_t filter, GLuint* texture) {
    if (str_differ(name, "texblack") == 0)
        return load_uniform_texture(0x000000, texture);
    if (str_differ(name, "texwhite") == 0)
        return load_uniform_texture(0xffffff, texture);
    if (str_differ("tga", file_extension(name)) == 0)
        return load_tga(name, filter, texture);
    if (str_differ("bmp", file_extension(name)) == 0)
        return load_bmp(name, filter, texture);
    return 0;
}
