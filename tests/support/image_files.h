// Image files made on the spot for the loader, font and renderer tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

using bytes = std::vector<std::uint8_t>;

// An uncompressed TGA: the 18-byte header, an ID field of `id_length` bytes, then `pixels`.
bytes tga_file(int type, int width, int height, int depth, const bytes& pixels, int id_length = 0);
// A BMP with a 40-byte info header whose pixel data (`pixels`, rows as stored) starts at
// `offset` (54 or more); the gap after the headers is filled with zeros.
bytes bmp_file(std::int32_t width, std::int32_t height, int bits, int compression,
               const bytes& pixels, std::uint32_t offset = 54);
void write_file(const std::string& name, const bytes& content);
// A 128 x 128 font image whose cell for code c is solid, opaque and tells its code by colour:
// red = column * 16 + 8, green = row * 16 + 8 (row 0 at the top), blue 255.
void write_code_font(const std::string& name);
// The code whose cell colour this is; -1 for a colour no cell has.
int code_of_colour(const std::uint8_t* rgb);

} // namespace test_support
