// Reading TGA and BMP files into pixel buffers. Nothing here calls OpenGL, so the readers can
// be fed any bytes (the fuzz targets do) without a context; the texture manager uploads what
// they return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Where a reader takes its bytes from.
class image_source {
public:
    virtual ~image_source() = default;
    // Up to `count` bytes from the current place on; returns how many arrived.
    virtual std::size_t read(void* out, std::size_t count) = 0;
    // Moves to `offset` from the start (past the end is allowed; reads then give nothing).
    virtual bool seek(std::uint64_t offset) = 0;
    // Bytes from the current place to the end; unknown_size when the source cannot tell.
    virtual std::uint64_t remaining() = 0;

    static constexpr std::uint64_t unknown_size = ~std::uint64_t{0};
};

// An open file; the caller keeps it and closes it.
class file_source : public image_source {
public:
    explicit file_source(std::FILE* file);
    std::size_t read(void* out, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t remaining() override;

private:
    std::FILE* file;
    std::uint64_t size;
};

class memory_source : public image_source {
public:
    memory_source(const std::uint8_t* data, std::size_t size) : data(data), size(size), at(0) {}
    std::size_t read(void* out, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t remaining() override { return size - at; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

// How a read ended; each failure has its own log message in the texture manager.
enum class image_status {
    ok,
    read_error,
    unsupported_format, // TGA: colour-mapped or compressed
    bad_depth,          // TGA: neither 24 nor 32 bits per pixel
    no_memory,          // buffer cannot be had, or the image is larger than a texture can be
                        // or than an int can count in bytes
    short_pixels,       // TGA: fewer pixel bytes than the header promises
    invalid_signature,  // BMP: no "BM"
    unsupported_bmp,    // BMP: compressed, not 24 bits, or not a positive bottom-up size
};

struct image_pixels {
    // Rows back to back without padding, the file's first row first; R G B or R G B A.
    std::unique_ptr<std::uint8_t[]> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t format = 0; // GL_RGB or GL_RGBA
    std::int32_t depth = 0;   // bits per pixel as the header gives them
    std::uint64_t bytes_read = 0;
    std::uint64_t bytes_expected = 0;
};

// Either reader refuses a width or height above `max_size` (the context's largest texture)
// as memory it will not allocate.
image_status read_tga(image_source& source, std::int32_t max_size, image_pixels& out);
image_status read_bmp(image_source& source, std::int32_t max_size, image_pixels& out);
