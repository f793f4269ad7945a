#include "platform/driver.h"
#include "render/image_file.h"
#include "render/texture.h"
#include "support/alloc_fault.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

using test_support::bmp_file;
using test_support::bytes;
using test_support::tga_file;

namespace {

class texture_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        ASSERT_EQ(driver.init(), 1);
    }
    void TearDown() override {
        texture_seam::force_power_of_two_sizes(false);
        driver.release();
        brevox_test::TearDown();
    }

    // Writes the file (if any), loads it into a variable holding 0 and returns the log line.
    std::string load(const char* name, int filter, int expected_result, const bytes& file = {}) {
        if (!file.empty())
            test_support::write_file(name, file);
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
        if (!out.empty())
            glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }
    static GLint parameter(GLenum name) {
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
        return value;
    }

    cdriver driver;
    GLuint texture = 0;
};

TEST_F(texture_test, TheNameChoosesTheLoaderRegardlessOfCase) {
    EXPECT_EQ(load("TEXWHITE", 1, 1),
              " (texture) loading UNIFORM texture colors(255,255,255) : OK\n");
    EXPECT_EQ(texels(), bytes(16 * 16 * 4, 255));
    EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR) << "uniform textures ignore the filter";
    EXPECT_EQ(load("TexBlack", 0, 1), " (texture) loading UNIFORM texture colors(0,0,0) : OK\n");
    for (const char* name : {"x.tg", ".tga", "image.png", "imagetga", "a.tga.", "texblack2"}) {
        EXPECT_EQ(load(name, 1, 0), "") << name;
        EXPECT_EQ(texture, 0u) << name;
    }
    EXPECT_EQ(load(nullptr, 1, 0), "");
    test_support::fail_nothrow_allocations(0); // the uniform texture's buffer
    EXPECT_EQ(load("texwhite", 0, 0), " (texture) loading UNIFORM texture colors(255,255,255) : "
                                      "FAILED [unable to build the texture format]\n");
    EXPECT_EQ(str_length(std::string(5000, 'a').c_str()), 0u) << "no NUL within 4096 bytes";
    EXPECT_EQ(str_differ("@[", "`{"), 0) << "a difference of 32 matches either way";
}

TEST_F(texture_test, PixelsReachOpenGlAsRgbInFileOrder) {
    // B G R A 10 20 30 40 arrives as 30 20 10 40, after an ID field that is skipped.
    EXPECT_EQ(load("a.tga", 0, 1,
                   tga_file(2, 2, 2, 32, {10, 20, 30, 40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6}, 5)),
              " (texture) loading TGA texture a.tga : OK\n");
    EXPECT_EQ(texels(), (bytes{30, 20, 10, 40, 3, 2, 1, 4, 7, 6, 5, 8, 7, 8, 9, 6}));
    // 24 bits, true-colour and greyscale, 3 pixels a row: the rows are tight, not padded.
    const bytes rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    for (int type : {2, 3}) {
        load("b.tga", 0, 1, tga_file(type, 3, 2, 24, rgb));
        EXPECT_EQ(texels(),
                  (bytes{3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255,
                         12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255})); // 3 x 2, not scaled
    }
    // BMP rows are padded to 4 bytes, and the pixels start where the header says (64).
    EXPECT_EQ(load("a.bmp", 0, 1,
                   bmp_file(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}, 64)),
              " (texture) loading BMP texture a.bmp : OK\n");
    EXPECT_EQ(texels(), (bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}));
}

TEST_F(texture_test, FilesTheLoadersDoNotTakeFailWithTheirReason) {
    const bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12};
    const bytes bmp = bmp_file(2, 2, 24, 0, rows);
    const struct {
        const char* name; // the extension names the loader
        bytes file;       // none: no such file
        const char* verdict;
    } cases[] = {
        {"a.tga", {}, "unable to open file]"},
        {"x.Bmp", {}, "unable to open file]"},
        {"a.tga", tga_file(10, 2, 2, 32, bytes(16)), "unsupported format]"},
        {"a.tga", tga_file(3, 2, 2, 8, bytes(4)), "8 bpp not supported]"},
        {"a.tga", tga_file(2, 64, 64, 32, bytes(1000)), "image size error 1000 and expected 16384"},
        {"a.tga", bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "read error]"},
        {"a.tga", bytes{0, 0}, "read error]"},
        {"a.tga", tga_file(2, 65535, 65535, 32, bytes(4)), "unable to allocate memory!"},
        {"a.tga", tga_file(2, 0, 4, 32, {}), "unable to build the texture format]"},
        {"a.tga", tga_file(2, 4, 0, 24, {}), "unable to build the texture format]"},
        {"a.bmp", bmp_file(2, 2, 8, 0, bytes(8)), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, 2, 24, 1, rows), "unsupported bmp]"},
        {"a.bmp", bmp_file(2, -2, 24, 0, rows), "unsupported bmp]"}, // top-down
        {"a.bmp", bmp_file(0, 2, 24, 0, rows), "unsupported bmp]"},
        {"a.bmp", bytes(30, 'B'), "invalid file format]"},
        {"a.bmp", bytes(bmp.begin(), bmp.begin() + 30), "read error]"},
        {"a.bmp", bytes(bmp.begin(), bmp.end() - 1), "read error]"},
        {"a.bmp", bmp_file(100000, 100000, 24, 0, rows), "unable to allocate memory!"},
    };
    for (const auto& c : cases) {
        const std::string name = c.name, kind = std::tolower(name.back()) == 'a' ? "TGA" : "BMP";
        EXPECT_EQ(load(c.name, 1, 0, c.file), " (texture) loading " + kind + " texture " + name +
                                                  " : FAILED [" + c.verdict + "\n");
        EXPECT_NE(texture, 0u) << "the generated name stays with the caller";
    }
    test_support::fail_nothrow_allocations(0);
    EXPECT_EQ(load("a.tga", 1, 0, tga_file(2, 2, 2, 32, bytes(16))),
              " (texture) loading TGA texture a.tga : FAILED [unable to allocate memory!\n");
}

TEST_F(texture_test, TheFilterDecidesTheMipmapsAndFilter3UploadsNothing) {
    // Filter 3 leaves OpenGL's own minification filter and uploads nothing.
    const GLint min_filters[] = {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR_MIPMAP_LINEAR,
                                 GL_NEAREST_MIPMAP_LINEAR};
    const std::size_t level_2_bytes[] = {0, 4, 4, 0}; // 1 x 1 with mipmaps
    for (int filter = 0; filter < 4; ++filter) {
        load("a.tga", filter, 1, tga_file(2, 4, 4, 24, bytes(48, 99)));
        EXPECT_EQ(parameter(GL_TEXTURE_WRAP_S) + parameter(GL_TEXTURE_WRAP_T), 2 * GL_REPEAT);
        EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), min_filters[filter]);
        EXPECT_EQ(texels(0).size(), filter == 3 ? 0u : 64u);
        EXPECT_EQ(texels(2).size(), level_2_bytes[filter]);
    }
}

TEST_F(texture_test, WithoutNonPowerOfTwoTexturesImagesAreScaledUp) {
    texture_seam::force_power_of_two_sizes(true);
    for (int filter : {0, 1}) {
        load("a.tga", filter, 1, tga_file(2, 3, 5, 32, bytes(60, 200)));
        EXPECT_EQ(texels(), bytes(4 * 8 * 4, 200));
    }
}

// Headers that promise more than the file holds, or more bytes than a log line can count, fail
// before anything is allocated: every allocation fails here, so one would change the verdict.
TEST(image_reader_test, OversizedHeadersFailBeforeAnyAllocation) {
    const struct {
        image_status (*reader)(image_source&, std::int32_t, image_pixels&);
        bytes file;
        std::int32_t max_size;
        image_status verdict;
    } cases[] = {
        {read_tga, tga_file(2, 32768, 32768, 32, bytes(4)), 32768, image_status::no_memory},
        {read_tga, tga_file(2, 30000, 30000, 32, bytes(4)), 32768, image_status::no_memory},
        {read_tga, tga_file(2, 64, 64, 32, bytes(1000)), 64, image_status::short_pixels},
        {read_bmp, bmp_file(64, 64, 24, 0, bytes(1000)), 64, image_status::read_error},
    };
    for (const auto& c : cases) {
        test_support::fail_nothrow_allocations(0, 1000);
        memory_source source(c.file.data(), c.file.size());
        image_pixels image;
        EXPECT_EQ(c.reader(source, c.max_size, image), c.verdict) << &c - cases;
        test_support::stop_failing_allocations();
    }
}

} // namespace
