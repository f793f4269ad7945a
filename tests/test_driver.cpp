#include "app/log.h"
#include "cvar/cvars.h"
#include "os/fault.h"
#include "os/gl.h"
#include "platform/driver.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <regex>
#include <vector>

namespace {

os::devmode mode(std::uint32_t width, std::uint32_t height, std::uint32_t hz,
                 std::uint32_t bits = 32) {
    return {148, 0, bits, width, height, hz};
}

class driver_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
    }

    void fullscreen_at(std::int32_t width, std::int32_t height) {
        main_cvars->set_int("fullscreen", 1);
        main_cvars->set_int("width", width);
        main_cvars->set_int("height", height);
    }

    std::string choice_for(const std::vector<os::devmode>& modes) {
        os::seam::use_synthetic_display_modes(modes);
        int count = -1;
        const os::devmode chosen = choose_display_mode(count);
        EXPECT_EQ(count, static_cast<int>(modes.size()));
        EXPECT_EQ(chosen.bits_per_pel, 16u) << "16 bits are asked for whatever was enumerated";
        EXPECT_EQ(chosen.fields, 0x5C0000u);
        EXPECT_EQ(chosen.size, 148);
        return std::to_string(chosen.pels_width) + "x" + std::to_string(chosen.pels_height) + "@" +
               std::to_string(chosen.display_frequency);
    }

    cdriver driver;
};

const char* const windowed_init_lines = " (driver) initializing OpenGL driver\n"
                                        " (driver) choosing pixel format : OK\n"
                                        " (driver) applying pixel format : OK\n"
                                        " (driver) creating opengl rendering context : OK\n"
                                        " (driver) applying opengl rendering context : OK\n";
const char* const release_lines = " (driver) unapplying OpenGL rendering context : OK\n"
                                  " (driver) deleting OpenGL rendering context : OK\n"
                                  " (driver) deleting Window device context : OK\n";

TEST_F(driver_test, AWindowedStartMakesAContextAndReportsOpenGl) {
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    ASSERT_EQ(driver.init(), 1);
    const std::string log = log_from(" (driver)");
    EXPECT_EQ(log.rfind(std::string(windowed_init_lines) + "\n+ OpenGL info :\n Vendor name : ", 0),
              0u)
        << log;
    EXPECT_EQ(log.find("enumerating"), std::string::npos);
    // Every extension on a line of its own, and their count as the total.
    const auto extensions = log.find(" Extensions :\n");
    const auto total = log.find(" Total : ");
    ASSERT_NE(extensions, std::string::npos);
    ASSERT_NE(total, std::string::npos);
    const std::string names = log.substr(extensions + 14, total - extensions - 14);
    const auto lines = std::count(names.begin(), names.end(), '\n');
    EXPECT_GT(lines, 0);
    EXPECT_EQ(log.substr(total), " Total : " + std::to_string(lines) + "\n\n");
    EXPECT_TRUE(std::regex_search(log, std::regex("\n Version : [0-9]")));

    EXPECT_EQ(driver.swap_buffers(), 1);
    EXPECT_EQ(driver.release(), 1);
    EXPECT_EQ(log_from(" (driver) unapplying"), release_lines);
    EXPECT_EQ(os::seam::live_gl_objects(), 0);
}

TEST_F(driver_test, EachFailingStepEndsItsLineAndTheInit) {
    const char* steps[] = {"choose_pixel_format", "set_pixel_format", "gl_create_context",
                           "gl_make_current"};
    const char* heads[] = {
        " (driver) choosing pixel format : ", " (driver) applying pixel format : ",
        " (driver) creating opengl rendering context : ",
        " (driver) applying opengl rendering context : "};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        os::seam::fail_call(steps[i]);
        cdriver failing;
        EXPECT_EQ(failing.init(), 0) << steps[i];
        const std::string log = read_log();
        const std::string ending = std::string(heads[i]) + "FAILED\n";
        ASSERT_GE(log.size(), ending.size());
        EXPECT_EQ(log.substr(log.size() - ending.size()), ending);
        main_window->destroy();
        delete main_window;
        main_window = nullptr;
    }
    EXPECT_EQ(read_log().find("OpenGL info"), std::string::npos);
}

TEST_F(driver_test, TheFullscreenModeIsTheWantedSizeAtTheBestRateUpTo100Hz) {
    fullscreen_at(640, 480);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(640, 480, 75), mode(640, 480, 120)}),
              "640x480@75");
    EXPECT_EQ(choice_for({mode(640, 480, 100), mode(800, 600, 85)}), "640x480@100");
    // The hardware's default rate (0 or 1) counts only while nothing better was found.
    EXPECT_EQ(choice_for({mode(640, 480, 0), mode(640, 480, 60), mode(640, 480, 1)}), "640x480@60");
    EXPECT_EQ(choice_for({mode(640, 480, 1)}), "640x480@1");
    EXPECT_EQ(choice_for({mode(640, 480, 60, 16), mode(640, 480, 60, 32)}), "640x480@60");
    EXPECT_EQ(choice_for({mode(800, 600, 60), mode(640, 480, 144)}), "0x0@0");
    EXPECT_EQ(choice_for({}), "0x0@0");
    fullscreen_at(1024, 768);
    EXPECT_EQ(choice_for({mode(640, 480, 60), mode(1024, 768, 70), mode(1024, 768, 60)}),
              "1024x768@70");
}

TEST_F(driver_test, AFullscreenStartSwitchesTheDisplayUntilRelease) {
    fullscreen_at(800, 600);
    std::vector<os::devmode> modes(21, mode(1024, 768, 60));
    modes.push_back(mode(800, 600, 60));
    modes.push_back(mode(800, 600, 85));
    os::seam::use_synthetic_display_modes(modes);
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    ASSERT_EQ(driver.init(), 1);
    EXPECT_EQ(log_without_opengl_info(" (driver) applying opengl"),
              " (driver) applying opengl rendering context : OK\n"
              " (driver) enumerating display modes for fullscreen : "
              "found 23 modes and choosed 800x600x16bits [85Hz]\n"
              " (driver) trying to apply the mode : OK\n");
    os::devmode in_force{};
    ASSERT_TRUE(os::seam::changed_display_mode(in_force));
    EXPECT_EQ(in_force.pels_width, 800u);
    EXPECT_EQ(in_force.display_frequency, 85u);
    driver.release();
    EXPECT_FALSE(os::seam::changed_display_mode(in_force)) << "the desktop's mode is back";
}

TEST_F(driver_test, NoModeOfTheWantedSizeFailsTheStart) {
    fullscreen_at(640, 480);
    os::seam::use_synthetic_display_modes({mode(1280, 1024, 60), mode(640, 480, 120)});
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    EXPECT_EQ(driver.init(), 0);
    EXPECT_EQ(log_from(" (driver) enumerating"),
              " (driver) enumerating display modes for fullscreen : "
              "found 2 modes and choosed 0x0x16bits [0Hz]\n"
              " (driver) trying to apply the mode : FAILED\n");
}

TEST_F(driver_test, TheRealDisplaySwitchesAtItsOwnSize) {
    os::devmode desktop{};
    ASSERT_TRUE(os::enum_display_settings(nullptr, 0, desktop));
    if (desktop.display_frequency > 100)
        GTEST_SKIP() << "this display's own mode is above 100 Hz, which fullscreen never takes";
    fullscreen_at(static_cast<std::int32_t>(desktop.pels_width),
                  static_cast<std::int32_t>(desktop.pels_height));
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    ASSERT_EQ(driver.init(), 1) << read_log();
    os::devmode in_force{};
    EXPECT_TRUE(os::seam::changed_display_mode(in_force));
    driver.release();
    EXPECT_FALSE(os::seam::changed_display_mode(in_force));
}

TEST_F(driver_test, FailuresOnReleaseAreOnlyLogged) {
    ASSERT_NO_FATAL_FAILURE(open_main_window());
    ASSERT_EQ(driver.init(), 1);
    os::seam::fail_call("gl_make_current");
    os::seam::fail_call("gl_delete_context");
    os::seam::fail_call("release_dc");
    EXPECT_EQ(driver.release(), 1);
    EXPECT_EQ(log_from(" (driver) unapplying"),
              " (driver) unapplying OpenGL rendering context : FAILED\n"
              " (driver) deleting OpenGL rendering context : FAILED\n"
              " (driver) deleting Window device context : FAILED\n");
    os::seam::fail_call("swap_buffers");
    EXPECT_EQ(driver.swap_buffers(), 0);
}

} // namespace
