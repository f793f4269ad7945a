#include "support/image_files.h"

#include <fstream>

namespace test_support {

namespace {

void put16(bytes& out, std::uint32_t value) {
    out.push_back(value & 0xff);
    out.push_back((value >> 8) & 0xff);
}

void put32(bytes& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

} // namespace

bytes tga_file(int type, int width, int height, int depth, const bytes& pixels, int id_length) {
    bytes out = {static_cast<std::uint8_t>(id_length), 0, static_cast<std::uint8_t>(type)};
    out.resize(12, 0);
    put16(out, static_cast<std::uint32_t>(width));
    put16(out, static_cast<std::uint32_t>(height));
    out.push_back(static_cast<std::uint8_t>(depth));
    out.push_back(depth == 32 ? 8 : 0);
    out.resize(out.size() + static_cast<std::size_t>(id_length), 'i');
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

bytes bmp_file(std::int32_t width, std::int32_t height, int bits, int compression,
               const bytes& pixels, std::uint32_t offset) {
    bytes out = {'B', 'M'};
    put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);
    put16(out, static_cast<std::uint32_t>(bits));
    put32(out, static_cast<std::uint32_t>(compression));
    out.resize(54, 0);
    if (offset > out.size())
        out.resize(offset, 0xEE);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

void write_file(const std::string& name, const bytes& content) {
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

void write_code_font(const std::string& name) {
    constexpr int side = 128;
    bytes pixels;
    for (int y = 0; y < side; ++y) { // the file's first row is the bottom of the picture
        const int row = 15 - y / 8;
        for (int x = 0; x < side; ++x) {
            const int col = x / 8;
            pixels.insert(pixels.end(), {255, static_cast<std::uint8_t>(row * 16 + 8),
                                         static_cast<std::uint8_t>(col * 16 + 8), 255});
        }
    }
    write_file(name, tga_file(2, side, side, 32, pixels));
}

int code_of_colour(const std::uint8_t* rgb) {
    if (rgb[2] < 200)
        return -1;
    // 16-bit colour keeps the top 5 or 6 bits, enough to tell steps of 16 apart.
    return (rgb[1] / 16) * 16 + rgb[0] / 16;
}

} // namespace test_support
