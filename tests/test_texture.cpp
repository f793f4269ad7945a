#include "app/log.h"
#include "platform/driver.h"
#include "platform/window.h"
#include "render/image_file.h"
#include "render/texture.h"
#include "support/alloc_fault.h"
#include "support/image_files.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <cstring>

using test_support::bytes;
using test_support::write_file;

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

    // Loads through the dispatch and returns what the load wrote to the log.
    std::string load(const char* name, int filter, int expected_result) {
        const std::size_t before = read_log().size();
        EXPECT_EQ(load_texture(name, filter, &texture), expected_result) << name;
        return read_log().substr(before);
    }

    // The texels of level 0 of the bound texture, as RGBA; width and height go to w and h.
    bytes bound_texels(GLint& w, GLint& h, GLint level = 0) {
        w = h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        bytes out(static_cast<std::size_t>(w * h * 4));
        if (!out.empty())
            glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    static GLint bound_texture() {
        GLint name = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
        return name;
    }

    cdriver driver;
    GLuint texture = 0;
};

bytes cut(bytes file, std::size_t size) {
    file.resize(size);
    return file;
}

// 64 x 64 pixels cut short after 1000 bytes of pixel data.
bytes truncated(int depth) { return test_support::tga_file(2, 64, 64, depth, bytes(1000, 7)); }

TEST_F(texture_test, TheNameChoosesTheLoader) {
    // The special names in any case: one colour, 16 x 16, with a name of its own.
    EXPECT_EQ(load("TEXWHITE", 1, 1),
              " (texture) loading UNIFORM texture colors(255,255,255) : OK\n");
    EXPECT_NE(texture, 0u);
    GLint w, h;
    bytes texels = bound_texels(w, h);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
    EXPECT_EQ(texels, bytes(16 * 16 * 4, 255));
    GLint min_filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
    EXPECT_EQ(min_filter, GL_LINEAR) << "the filter asked for does not reach uniform textures";

    const GLuint kept = texture;
    EXPECT_EQ(load("TexBlack", 0, 1), " (texture) loading UNIFORM texture colors(0,0,0) : OK\n");
    EXPECT_EQ(texture, kept) << "a variable that holds a name keeps it";
    texels = bound_texels(w, h);
    EXPECT_EQ(texels[0] + texels[1] + texels[2], 0);
    EXPECT_EQ(texels[3], 255);

    // Extensions in any case, from five characters on.
    EXPECT_EQ(load("data/font.TGA", 1, 0),
              " (texture) loading TGA texture data/font.TGA : FAILED [unable to open file]\n");
    EXPECT_EQ(load("a.tga", 1, 0),
              " (texture) loading TGA texture a.tga : FAILED [unable to open file]\n");
    EXPECT_EQ(load("x.Bmp", 1, 0),
              " (texture) loading BMP texture x.Bmp : FAILED [unable to open file]\n");
    texture = 0;
    for (const char* name :
         {"x.tg", "tga", ".tga", "image.png", "imagetga", "image.tga.", "texblack2"})
        EXPECT_EQ(load(name, 1, 0), "") << name;
    EXPECT_EQ(load(nullptr, 1, 0), "");
    EXPECT_EQ(texture, 0u) << "no name is generated for a name that is not recognised";
}

TEST_F(texture_test, TheStringHelpersFollowTheirRules) {
    EXPECT_EQ(str_length(nullptr), 0u);
    std::string long_text(5000, 'a');
    EXPECT_EQ(str_length(long_text.c_str()), 0u) << "no NUL within 4096 bytes";
    long_text[4095] = '\0';
    EXPECT_EQ(str_length(long_text.c_str()), 4095u);
    EXPECT_STREQ(file_extension("a.b.tga"), "tga");
    EXPECT_STREQ(file_extension("image."), "");
    EXPECT_STREQ(file_extension("noext"), "noext");
    EXPECT_EQ(file_extension("a.tg"), nullptr);
    EXPECT_EQ(str_differ("", ""), 0);
    EXPECT_EQ(str_differ("@[", "`{"), 0) << "a difference of 32 matches either way";
    EXPECT_EQ(str_differ("tga", "tgb"), 1);
    EXPECT_EQ(str_differ("tga", "tga "), 1);
}

TEST_F(texture_test, TgaPixelsReachOpenGlAsRgbInFileOrder) {
    // A 32-bit pixel stored 10 20 30 40 arrives as 30 20 10 40; rows keep the file's order.
    write_file("a.tga", test_support::tga_file(2, 2, 2, 32,
                                               {10, 20, 30, 40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6},
                                               5)); // with an ID field, which is skipped
    EXPECT_EQ(load("a.tga", 0, 1), " (texture) loading TGA texture a.tga : OK\n");
    EXPECT_EQ(bound_texture(), static_cast<GLint>(texture));
    GLint w, h;
    EXPECT_EQ(bound_texels(w, h), (bytes{30, 20, 10, 40, 3, 2, 1, 4, 7, 6, 5, 8, 7, 8, 9, 6}));

    // 24 bits, as a true-colour image and as a greyscale type of 24 bits, width 3: rows are
    // tight, not padded to four bytes.
    const bytes rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const bytes expected = {3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255,
                            12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255};
    for (int type : {2, 3}) {
        write_file("b.tga", test_support::tga_file(type, 3, 2, 24, rgb));
        EXPECT_EQ(load("b.tga", 0, 1), " (texture) loading TGA texture b.tga : OK\n");
        EXPECT_EQ(bound_texels(w, h), expected) << "type " << type;
        EXPECT_EQ(w, 3) << "non-power-of-two sizes go up as they are where OpenGL takes them";
    }
}

TEST_F(texture_test, TgaFilesTheLoaderDoesNotTakeFailWithTheirReason) {
    const struct {
        bytes file;
        std::string verdict;
    } cases[] = {
        {test_support::tga_file(10, 2, 2, 32, bytes(16)), "FAILED [unsupported format]\n"},
        {test_support::tga_file(1, 2, 2, 32, bytes(16)), "FAILED [unsupported format]\n"},
        {test_support::tga_file(2, 2, 2, 16, bytes(8)), "FAILED [16 bpp not supported]\n"},
        {test_support::tga_file(3, 2, 2, 8, bytes(4)), "FAILED [8 bpp not supported]\n"},
        {truncated(32), "FAILED [image size error 1000 and expected 16384\n"},
        {truncated(24), "FAILED [image size error 1000 and expected 12288\n"},
        {bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "FAILED [read error]\n"}, // ends in its header
        {bytes{0, 0}, "FAILED [read error]\n"},
        // No texture can be built from no pixels.
        {test_support::tga_file(2, 0, 4, 32, {}), "FAILED [unable to build the texture format]\n"},
        {test_support::tga_file(2, 4, 0, 24, {}), "FAILED [unable to build the texture format]\n"},
        // Larger than any texture: refused before anything is allocated.
        {test_support::tga_file(2, 65535, 65535, 32, bytes(4)),
         "FAILED [unable to allocate memory!\n"},
    };
    for (const auto& c : cases) {
        write_file("bad.tga", c.file);
        texture = 0;
        EXPECT_EQ(load("bad.tga", 1, 0), " (texture) loading TGA texture bad.tga : " + c.verdict);
        EXPECT_NE(texture, 0u) << "the generated name stays with the caller";
        GLint w, h;
        EXPECT_TRUE(bound_texels(w, h).empty()) << c.verdict;
    }
    write_file("good.tga", test_support::tga_file(2, 2, 2, 32, bytes(16)));
    test_support::fail_nothrow_allocations(0);
    EXPECT_EQ(load("good.tga", 1, 0),
              " (texture) loading TGA texture good.tga : FAILED [unable to allocate memory!\n");
}

TEST_F(texture_test, BmpRowsArePaddedAndStartWhereTheHeaderSays) {
    // 2 x 2 pixels, 6 bytes a row padded to 8, the pixel data 10 bytes after the headers.
    const bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12};
    write_file("a.bmp", test_support::bmp_file(2, 2, 24, 0, rows, 64));
    EXPECT_EQ(load("a.bmp", 2, 1), " (texture) loading BMP texture a.bmp : OK\n");
    EXPECT_EQ(bound_texture(), static_cast<GLint>(texture));
    GLint w, h;
    EXPECT_EQ(bound_texels(w, h),
              (bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}));
    GLint min_filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
    EXPECT_EQ(min_filter, GL_LINEAR_MIPMAP_LINEAR);

    const struct {
        bytes file;
        std::string verdict;
    } cases[] = {
        {test_support::bmp_file(2, 2, 8, 0, bytes(8)), "FAILED [unsupported bmp]\n"},
        {test_support::bmp_file(2, 2, 24, 1, rows), "FAILED [unsupported bmp]\n"},
        {test_support::bmp_file(2, -2, 24, 0, rows), "FAILED [unsupported bmp]\n"}, // top-down
        {test_support::bmp_file(0, 2, 24, 0, rows), "FAILED [unsupported bmp]\n"},
        {bytes{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "FAILED [invalid file format]\n"},
        {cut(test_support::bmp_file(2, 2, 24, 0, rows), 30), "FAILED [read error]\n"},
        {cut(test_support::bmp_file(2, 2, 24, 0, rows), 54 + 13), "FAILED [read error]\n"},
        {test_support::bmp_file(100000, 100000, 24, 0, rows),
         "FAILED [unable to allocate memory!\n"},
    };
    for (const auto& c : cases) {
        write_file("bad.bmp", c.file);
        texture = 0;
        EXPECT_EQ(load("bad.bmp", 1, 0), " (texture) loading BMP texture bad.bmp : " + c.verdict);
        EXPECT_NE(texture, 0u);
    }
}

TEST_F(texture_test, TheFilterDecidesTheMipmapsAndFilter3UploadsNothing) {
    write_file("a.tga", test_support::tga_file(2, 4, 4, 24, bytes(48, 99)));
    const GLint expected_min[] = {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR_MIPMAP_LINEAR};
    for (int filter = 0; filter < 3; ++filter) {
        texture = 0;
        ASSERT_EQ(load("a.tga", filter, 1), " (texture) loading TGA texture a.tga : OK\n");
        GLint min_filter = 0, mag_filter = 0, w, h;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag_filter);
        EXPECT_EQ(min_filter, expected_min[filter]);
        EXPECT_EQ(mag_filter, GL_LINEAR);
        EXPECT_EQ(bound_texels(w, h, 2).size(), filter == 0 ? 0u : 4u) << "a 1 x 1 level 2";
    }
    texture = 0;
    EXPECT_EQ(load("a.tga", 3, 1), " (texture) loading TGA texture a.tga : OK\n");
    EXPECT_EQ(bound_texture(), static_cast<GLint>(texture));
    GLint wrap_s = 0, wrap_t = 0, w, h;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap_s);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap_t);
    EXPECT_EQ(wrap_s, GL_REPEAT);
    EXPECT_EQ(wrap_t, GL_REPEAT);
    EXPECT_TRUE(bound_texels(w, h).empty());
}

TEST_F(texture_test, WithoutNonPowerOfTwoTexturesImagesAreScaledUp) {
    texture_seam::force_power_of_two_sizes(true);
    write_file("a.tga", test_support::tga_file(2, 3, 5, 32, bytes(60, 200)));
    for (int filter : {0, 1}) {
        texture = 0;
        EXPECT_EQ(load("a.tga", filter, 1), " (texture) loading TGA texture a.tga : OK\n");
        GLint w, h;
        const bytes texels = bound_texels(w, h);
        EXPECT_EQ(w, 4);
        EXPECT_EQ(h, 8);
        EXPECT_EQ(texels, bytes(4 * 8 * 4, 200));
    }
}

TEST_F(texture_test, BuildTextureRefusesAMissingBufferWithoutTouchingOpenGl) {
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    const texture_format empty{nullptr, 16, 16, GL_RGB, 0};
    texture = 0;
    glGenTextures(1, &texture);
    EXPECT_EQ(build_texture(&empty, &texture), 0);
    EXPECT_EQ(bound_texture(), static_cast<GLint>(other));
    // A uniform texture whose buffer cannot be had ends the same way.
    test_support::fail_nothrow_allocations(0);
    EXPECT_EQ(load("texwhite", 0, 0), " (texture) loading UNIFORM texture colors(255,255,255) : "
                                      "FAILED [unable to build the texture format]\n");
}

// Headers that promise more than the file holds, or more bytes than a log line can count, fail
// before anything is allocated: every allocation fails here, so one would change the verdict.
TEST(image_reader_test, OversizedHeadersFailBeforeAnyAllocation) {
    using test_support::tga_file;
    const struct {
        image_status (*reader)(image_source&, std::int32_t, image_pixels&);
        bytes file;
        std::int32_t max_size;
        image_status verdict;
    } cases[] = {
        {read_tga, tga_file(2, 32768, 32768, 32, bytes(4)), 32768, image_status::no_memory},
        {read_tga, tga_file(2, 30000, 30000, 32, bytes(4)), 32768, image_status::no_memory},
        {read_tga, tga_file(2, 16384, 32767, 32, bytes(4)), 32768, image_status::short_pixels},
        {read_tga, tga_file(2, 64, 64, 32, bytes(1000)), 64, image_status::short_pixels},
        {read_bmp, test_support::bmp_file(64, 64, 24, 0, bytes(1000)), 64,
         image_status::read_error},
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
