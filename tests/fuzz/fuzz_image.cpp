// libFuzzer target: one image reader (READ_IMAGE, read_tga or read_bmp) on any bytes, with the
// largest texture a context may take.
#include "render/image_file.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    memory_source source(data, size);
    image_pixels image;
    if (READ_IMAGE(source, 32768, image) == image_status::ok) {
        // Touch every byte the reader claims to have filled.
        volatile std::uint8_t sum = 0;
        const std::size_t bytes = static_cast<std::size_t>(image.bytes_expected);
        for (std::size_t i = 0; i < bytes; ++i)
            sum = sum + image.pixels[i];
    }
    return 0;
}
