#include "cvar/cvars.h"
#include "os/fault.h"
#include "os/gl.h"
#include "platform/driver.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <vector>

namespace {

os::devmode mode(std::uint32_t width, std::uint32_t height, std::uint32_t hz) {
    return {148, 0, 32, width, height, hz};
}

class driver_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
    }

    static void fullscreen_at(std::int32_t width, std::int32_t height) {
        main_cvars->set_int("fullscreen", 1);
        main_cvars->set_int("width", width);
        main_cvars->set_int("height", height);
    }

    // The mode chosen among these, as "640x480@75".
    static std::string choice_for(const std::vector<os::devmode>& modes) {
        os::seam::use_synthetic_display_modes(modes);
        int count = -1;
        const os::devmode chosen = choose_display_mode(count);
        EXPECT_EQ(count, static_cast<int>(modes.size()));
        return std::to_string(chosen.pels_width) + "x" + std::to_string(chosen.pels_height) + "@" +
               std::to_string(chosen.display_frequency);
    }

    cdriver driver;
};

// Failures on release are only logged; a failing step of the start ends its line and the start.
TEST_F(driver_test, EachFailingStepEndsItsLine) {
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    ASSERT_EQ(driver.init(), 1);
    EXPECT_EQ(driver.swap_buffers(), 1);
    for (const char* call : {"gl_make_current", "gl_delete_context", "release_dc", "swap_buffers"})
        os::seam::fail_call(call);
    EXPECT_EQ(driver.release(), 1);
    EXPECT_EQ(log_from(" (driver) unapplying"),
              " (driver) unapplying OpenGL rendering context : FAILED\n"
              " (driver) deleting OpenGL rendering context : FAILED\n"
              " (driver) deleting Window device context : FAILED\n");
    EXPECT_EQ(driver.swap_buffers(), 0);
    const char* const steps[][2] = {
        {"choose_pixel_format", " (driver) choosing pixel format : "},
        {"set_pixel_format", " (driver) applying pixel format : "},
        {"gl_make_current", " (driver) applying opengl rendering context : "}};
    for (const auto& step : steps) {
        os::seam::fail_call(step[0]);
        cdriver failing;
        EXPECT_EQ(failing.init(), 0) << step[0];
        EXPECT_TRUE(read_log().ends_with(std::string(step[1]) + "FAILED\n")) << step[0];
    }
}

TEST_F(driver_test, TheFullscreenModeIsTheWantedSizeAtTheBestRateUpTo100Hz) {
    fullscreen_at(640, 480);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(640, 480, 75), mode(640, 480, 120)}),
              "640x480@75");
    EXPECT_EQ(choice_for({mode(640, 480, 100), mode(800, 600, 85)}), "640x480@100");
    // The hardware's default rate (0 or 1) counts only while nothing better was found.
    EXPECT_EQ(choice_for({mode(640, 480, 0), mode(640, 480, 60), mode(640, 480, 1)}), "640x480@60");
    EXPECT_EQ(choice_for({mode(640, 480, 1)}), "640x480@1");
    fullscreen_at(1024, 768);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(1024, 768, 70), mode(1024, 768, 60)}),
              "1024x768@70");
}

// 800x600 at 120 Hz: refused where it would switch the display, taken at the display's default
// rate where the compositor scales the window to its output.
TEST_F(driver_test, AFullscreenModeAbove100HzServesOnlyWhereTheCompositorScales) {
    fullscreen_at(800, 600);
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    const struct {
        bool scaled;
        const char* log;
    } cases[] = {{false, "choosed 0x0x16bits [0Hz]\n (driver) trying to apply the mode : FAILED\n"},
                 {true, "choosed 800x600x16bits [0Hz]\n (driver) trying to apply the mode : OK\n"}};
    for (const auto& c : cases) {
        os::seam::use_synthetic_display_modes({mode(1280, 1024, 60), mode(800, 600, 120)},
                                              c.scaled);
        cdriver starting;
        EXPECT_EQ(starting.init(), c.scaled ? 1 : 0) << c.log;
        EXPECT_NE(read_log().find(std::string("fullscreen : found 2 modes and ") + c.log),
                  std::string::npos);
    }
}

} // namespace
