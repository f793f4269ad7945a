#include "render/image_file.h"

#include <GL/gl.h> // the format constants only: nothing here calls OpenGL

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

file_source::file_source(std::FILE* file) : file(file), size(unknown_size) {
    // A file that cannot tell its size (a pipe) is read as far as it goes.
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);
        if (end >= 0)
            size = static_cast<std::uint64_t>(end);
    }
    std::rewind(file);
}

std::size_t file_source::read(void* out, std::size_t count) {
    return std::fread(out, 1, count, file);
}

bool file_source::seek(std::uint64_t offset) {
    if (offset > 0x7fffffff)
        return false;
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

std::uint64_t file_source::remaining() {
    if (size == unknown_size)
        return unknown_size;
    const long at = std::ftell(file);
    if (at < 0)
        return unknown_size;
    return static_cast<std::uint64_t>(at) >= size ? 0 : size - static_cast<std::uint64_t>(at);
}

std::size_t memory_source::read(void* out, std::size_t count) {
    const std::size_t n = std::min(count, size - at);
    if (n != 0)
        std::memcpy(out, data + at, n);
    at += n;
    return n;
}

bool memory_source::seek(std::uint64_t offset) {
    at = static_cast<std::size_t>(std::min<std::uint64_t>(offset, size));
    return true;
}

namespace {

std::uint32_t u16_at(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

std::uint32_t u32_at(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::size_t tga_header_size = 18;
constexpr std::size_t bmp_file_header_size = 14;
constexpr std::size_t bmp_info_header_size = 40;

} // namespace

image_status read_tga(image_source& source, std::int32_t max_size, image_pixels& out) {
    std::uint8_t head[tga_header_size] = {};
    if (source.read(head, 3) < 3)
        return image_status::read_error;
    // Only uncompressed true-colour (2) and greyscale (3) without a colour map.
    if (head[1] != 0 || (head[2] != 2 && head[2] != 3))
        return image_status::unsupported_format;
    if (source.read(head + 3, tga_header_size - 3) < tga_header_size - 3)
        return image_status::read_error;

    out.width = static_cast<std::int32_t>(u16_at(head + 12));
    out.height = static_cast<std::int32_t>(u16_at(head + 14));
    out.depth = head[16];
    std::uint64_t bytes_per_pixel = 0;
    if (out.depth == 32) {
        bytes_per_pixel = 4;
        out.format = GL_RGBA;
    } else if (out.depth == 24) {
        bytes_per_pixel = 3;
        out.format = GL_RGB;
    } else {
        return image_status::bad_depth;
    }
    if (out.width > max_size || out.height > max_size)
        return image_status::no_memory;
    const std::uint64_t expected = static_cast<std::uint64_t>(out.width) *
                                   static_cast<std::uint64_t>(out.height) * bytes_per_pixel;
    out.bytes_expected = expected;
    // The log counts pixel bytes in an int; a larger image is refused like a buffer that cannot
    // be had, before a count that would wrap can reach it.
    if (expected > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return image_status::no_memory;

    // The pixels follow the image ID field.
    if (!source.seek(tga_header_size + head[0]))
        return image_status::read_error;
    // A file too short for what its header promises fails before anything is allocated, so a
    // hostile header cannot make us take more memory than the file holds.
    const std::uint64_t available = source.remaining();
    if (available < expected) {
        out.bytes_read = available;
        return image_status::short_pixels;
    }
    out.pixels.reset(new (std::nothrow) std::uint8_t[expected]);
    if (!out.pixels)
        return image_status::no_memory;
    out.bytes_read = source.read(out.pixels.get(), expected);
    if (out.bytes_read < expected) {
        out.pixels.reset();
        return image_status::short_pixels;
    }
    // B G R (A) in the file, R G B (A) for OpenGL.
    std::uint8_t* pixel = out.pixels.get();
    for (std::uint64_t i = 0; i < expected; i += bytes_per_pixel)
        std::swap(pixel[i], pixel[i + 2]);
    return image_status::ok;
}

image_status read_bmp(image_source& source, std::int32_t max_size, image_pixels& out) {
    std::uint8_t file_head[bmp_file_header_size];
    if (source.read(file_head, sizeof file_head) < sizeof file_head)
        return image_status::read_error;
    if (file_head[0] != 'B' || file_head[1] != 'M')
        return image_status::invalid_signature;
    std::uint8_t info[bmp_info_header_size];
    if (source.read(info, sizeof info) < sizeof info)
        return image_status::read_error;

    out.width = static_cast<std::int32_t>(u32_at(info + 4));
    out.height = static_cast<std::int32_t>(u32_at(info + 8));
    out.depth = static_cast<std::int32_t>(u16_at(info + 14));
    out.format = GL_RGB;
    const std::uint32_t compression = u32_at(info + 16);
    // A negative height is a top-down bitmap, which the upload in file order would turn over.
    if (compression != 0 || out.depth != 24 || out.width <= 0 || out.height <= 0)
        return image_status::unsupported_bmp;
    if (out.width > max_size || out.height > max_size)
        return image_status::no_memory;

    const std::uint64_t row_bytes = static_cast<std::uint64_t>(out.width) * 3;
    const std::uint64_t stride = (row_bytes + 3) & ~std::uint64_t{3}; // rows pad to 4 bytes
    const std::uint64_t size = row_bytes * static_cast<std::uint64_t>(out.height);
    out.bytes_expected = size;
    // Pixels start where the header says; an offset inside the headers means a careless
    // writer, and the pixels then follow the 40-byte info header.
    std::uint64_t offset = u32_at(file_head + 10);
    if (offset < bmp_file_header_size + bmp_info_header_size)
        offset = bmp_file_header_size + bmp_info_header_size;
    if (!source.seek(offset))
        return image_status::read_error;
    // The last row needs no padding after it.
    const std::uint64_t needed = stride * static_cast<std::uint64_t>(out.height - 1) + row_bytes;
    if (source.remaining() < needed)
        return image_status::read_error;

    out.pixels.reset(new (std::nothrow) std::uint8_t[size]());
    if (!out.pixels)
        return image_status::no_memory;
    for (std::int32_t row = 0; row < out.height; ++row) {
        std::uint8_t* at = out.pixels.get() + row_bytes * static_cast<std::uint64_t>(row);
        if (!source.seek(offset + stride * static_cast<std::uint64_t>(row)) ||
            source.read(at, row_bytes) < row_bytes) {
            out.pixels.reset();
            return image_status::read_error;
        }
        out.bytes_read += row_bytes;
        for (std::uint64_t i = 0; i < row_bytes; i += 3)
            std::swap(at[i], at[i + 2]);
    }
    return image_status::ok;
}
