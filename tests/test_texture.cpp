#include "render/image_file.h"
#include "render/render.h"
#include "render/texture.h"
#include "support/alloc_fault.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <tuple>

using namespace test_support;

namespace {

class texture_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        main_render = new crender;
        ASSERT_EQ(main_render->init(), 1);
    }
    // Writes the file (if any), loads it into a variable holding 0 and returns the log line.
    std::string load(const char* name, int filter, int expected_result, const bytes& file = {}) {
        if (!file.empty())
            write_file(name, file);
        texture = 0;
        const std::size_t before = read_log().size();
        EXPECT_EQ(load_texture(name, filter, &texture), expected_result) << (name ? name : "");
        return read_log().substr(before);
    }
    // The bound texture's texels at `level` as RGBA.
    static bytes texels(GLint level = 0) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        bytes out(static_cast<std::size_t>(w * h * 4));
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    GLuint texture = 0;
};

TEST_F(texture_test, TheNameChoosesTheLoaderRegardlessOfCase) {
    EXPECT_EQ(load("TEXWHITE", 1, 1),
              " (texture) loading UNIFORM texture colors(255,255,255) : OK\n");
    for (const char* name : {"x.tg", ".tga", "image.png", "imagetga", "a.tga.", "texblack2",
                             static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(load(name, 1, 0), "") << name;
        EXPECT_EQ(texture, 0u) << name;
    }
    fail_nothrow_allocations(0); // the uniform texture's buffer
    EXPECT_EQ(load("TexBlack", 0, 0), " (texture) loading UNIFORM texture colors(0,0,0) : "
                                      "FAILED [unable to build the texture format]\n");
}

TEST_F(texture_test, PixelsReachOpenGlAsRgbInFileOrder) {
    // B G R A 10 20 30 40 arrives as 30 20 10 40, after an ID field that is skipped.
    load("a.tga", 0, 1,
         tga_file(2, 2, 2, 32, {10, 20, 30, 40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6}, 5));
    EXPECT_EQ(texels(), (bytes{30, 20, 10, 40, 3, 2, 1, 4, 7, 6, 5, 8, 7, 8, 9, 6}));
    const bytes bgr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}; // 3 x 2
    for (int type : {2, 3}) { // true-colour and greyscale; rows are tight, not padded to 4
        load("b.tga", 0, 1, tga_file(type, 3, 2, 24, bgr));
        EXPECT_EQ(texels(), (bytes{3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255,
                                   12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255}));
    }
    // BMP rows are padded to 4 bytes, and the pixels start where the header says (64).
    load("a.bmp", 0, 1, bmp_file(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}, 64));
    EXPECT_EQ(texels(), (bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}));
}

TEST_F(texture_test, FilesTheLoadersDoNotTakeFailWithTheirReason) {
    const bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}; // 2 x 2, padded
    const bytes bmp = bmp_file(2, 2, 24, 0, rows);
    // The name's extension chooses the loader; no bytes, no file.
    const std::tuple<std::string, bytes, std::string> cases[] = {
        {"a.tga", {}, "unable to open file]"},
        {"x.Bmp", {}, "unable to open file]"},
        {"a.tga", tga_file(10, 2, 2, 32, bytes(16)), "unsupported format]"},
        {"a.tga", tga_file(3, 2, 2, 8, bytes(4)), "8 bpp not supported]"},
        {"a.tga", bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "read error]"},
        {"a.tga", tga_file(2, 65535, 65535, 32, bytes(4)), "unable to allocate memory!"},
        {"a.tga", tga_file(2, 0, 4, 32, {}), "unable to build the texture format]"},
        {"a.tga", tga_file(2, 4, 0, 24, {}), "unable to build the texture format]"},
        {"a.bmp", bmp_file(2, 2, 8, 0, bytes(8)), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, 2, 24, 1, rows), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, -2, 24, 0, rows), "unsupported bmp]"}, // top-down
        {"a.bmp", bmp_file(0, 2, 24, 0, rows), "unsupported bmp]"},
        {"a.bmp", bytes(30, 'B'), "invalid file format]"},
        {"a.bmp", bytes(bmp.begin(), bmp.begin() + 30), "read error]"},
        {"a.bmp", bmp_file(100000, 100000, 24, 0, rows), "unable to allocate memory!"},
    };
    const auto fails = [&](const std::string& name, const bytes& file, const std::string& verdict) {
        const std::string kind = name.back() == 'a' ? "TGA" : "BMP";
        EXPECT_EQ(load(name.c_str(), 1, 0, file), " (texture) loading " + kind + " texture " +
                                                      name + " : FAILED [" + verdict + "\n");
        EXPECT_NE(texture, 0u) << "the generated name stays with the caller";
    };
    for (const auto& [name, file, verdict] : cases)
        fails(name, file, verdict);
    // When no allocation succeeds, a file too short for its header still fails on its length:
    // its header is never believed far enough to allocate.
    fail_nothrow_allocations(0, 10);
    fails("a.tga", tga_file(2, 64, 64, 32, bytes(1000)),
          "image size error 1000 and expected 16384");
    fails("a.bmp", bytes(bmp.begin(), bmp.end() - 1), "read error]");
    fails("a.tga", tga_file(2, 2, 2, 32, bytes(16)), "unable to allocate memory!");
}

TEST_F(texture_test, TheFilterDecidesTheMipmapsAndFilter3UploadsNothing) {
    // Filter 3 keeps OpenGL's own minification filter and uploads nothing.
    const GLint min_filters[] = {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR_MIPMAP_LINEAR,
                                 GL_NEAREST_MIPMAP_LINEAR};
    for (int filter = 0; filter < 4; ++filter) {
        load("a.tga", filter, 1, tga_file(2, 4, 4, 24, bytes(48, 99)));
        GLint min_filter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
        EXPECT_EQ(min_filter, min_filters[filter]);
        EXPECT_EQ(texels(0).size(), filter == 3 ? 0u : 64u);
        EXPECT_EQ(texels(2).size(), filter == 1 || filter == 2 ? 4u : 0u); // 1 x 1 mipmap
    }
    // Without non-power-of-two textures, sizes are scaled up to powers of two: 3 x 5 to 4 x 8.
    texture_seam::force_power_of_two_sizes(true);
    load("a.tga", 1, 1, tga_file(2, 3, 5, 32, bytes(60, 200)));
    EXPECT_EQ(texels(), bytes(4 * 8 * 4, 200));
    texture_seam::force_power_of_two_sizes(false);
}

// On a driver whose largest texture is 32768, the byte count of a large TGA would not fit the
// int of its size line.
TEST(image_reader_test, ByteCountsBeyondAnIntAreRefusedAsMemory) {
    for (int side : {32768, 30000}) {
        const bytes file = tga_file(2, side, side, 32, bytes(4));
        memory_source source(file.data(), file.size());
        image_pixels image;
        EXPECT_EQ(read_tga(source, 32768, image), image_status::no_memory) << side;
    }
}

} // namespace
