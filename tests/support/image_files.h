// Image files made on the spot for the loader, font and renderer tests.
#pragma once

#include "support/test_env.h"

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

using bytes = std::vector<std::uint8_t>;

// Appends the lowest `size` bytes of the value, little-endian.
inline void put(bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An uncompressed TGA: the 18-byte header, an ID field of `id_length` bytes, then `pixels`.
inline bytes tga_file(int type, int width, int height, int depth, const bytes& pixels,
                      int id_length = 0) {
    bytes out = {static_cast<std::uint8_t>(id_length), 0, static_cast<std::uint8_t>(type)};
    out.resize(12, 0);
    put(out, static_cast<std::uint32_t>(width) | static_cast<std::uint32_t>(height) << 16, 4);
    put(out, static_cast<std::uint32_t>(depth), 2); // and a descriptor of 0
    out.resize(out.size() + static_cast<std::size_t>(id_length), 'i');
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// A BMP with a 40-byte info header whose pixel data (`pixels`, rows as stored) starts at
// `offset` (54 or more); the gap after the headers is filled with zeros.
inline bytes bmp_file(std::int32_t width, std::int32_t height, int bits, int compression,
                      const bytes& pixels, std::uint32_t offset = 54) {
    bytes out = {'B', 'M'};
    for (auto field : {offset + static_cast<std::uint32_t>(pixels.size()), 0u, offset, 40u,
                       static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        put(out, field, 4);
    put(out, 1 | static_cast<std::uint32_t>(bits) << 16, 4); // planes, bits per pixel
    put(out, static_cast<std::uint32_t>(compression), 4);
    out.resize(offset, 0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// A 128 x 128 font image whose cell for code c is solid, opaque and tells its code by colour:
// red = column * 16 + 8, green = row * 16 + 8 (row 0 at the top), blue 255.
inline void write_code_font(const std::string& name) {
    bytes pixels;
    for (int y = 0; y < 128; ++y)     // the file's first row is the bottom of the picture
        for (int x = 0; x < 128; ++x) // B G R A
            pixels.insert(pixels.end(), {255, static_cast<std::uint8_t>((15 - y / 8) * 16 + 8),
                                         static_cast<std::uint8_t>(x / 8 * 16 + 8), 255});
    write_file(name, tga_file(2, 128, 128, 32, pixels));
}

// The code whose cell colour this is; -1 for a colour no cell has. 16-bit colour keeps the top 5
// or 6 bits, enough to tell steps of 16 apart.
inline int code_of_colour(const std::uint8_t* c) {
    return c[2] < 200 ? -1 : c[1] / 16 * 16 + c[0] / 16;
}

} // namespace test_support
