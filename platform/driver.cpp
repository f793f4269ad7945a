#include "platform/driver.h"

#include "base/log.h"
#include "base/system_report.h"
#include "cvar/cvars.h"
#include "platform/window.h"

namespace {

constexpr std::uint16_t devmode_size = 148;
constexpr std::uint32_t max_refresh_hz = 100;
constexpr std::uint32_t colour_bits = 16;

os::pixel_format_descriptor wanted_pixel_format() {
    os::pixel_format_descriptor pfd{};
    pfd.size = 40;
    pfd.version = 1;
    pfd.flags = os::PFD_DRAW_TO_WINDOW | os::PFD_SUPPORT_OPENGL | os::PFD_DOUBLEBUFFER;
    pfd.pixel_type = os::PFD_TYPE_RGBA;
    pfd.color_bits = colour_bits;
    pfd.depth_bits = 16;
    pfd.layer_type = os::PFD_MAIN_PLANE;
    return pfd;
}

// Logs the step's head, runs it and logs its verdict; the step's result is returned.
template <typename step> bool logged_step(const char* head, step&& run) {
    log_printf(main_log, "%s", head);
    const bool ok = run();
    log_printf(main_log, ok ? "OK\n" : "FAILED\n");
    return ok;
}

// The fullscreen mode for the cvars "width" and "height": the highest refresh rate not above
// 100 Hz, the later of equal rates; all zero but the depth and fields when none has the size.
// `count` is how many modes the display enumerated.
os::devmode choose_display_mode(int& count) {
    os::devmode chosen{};
    os::devmode mode{};
    count = 0;
    for (std::uint32_t i = 0; os::enum_display_settings(nullptr, i, mode); ++i) {
        ++count;
        const bool wanted_size =
            mode.pels_width == static_cast<std::uint32_t>(main_cvars->get_int("width")) &&
            mode.pels_height == static_cast<std::uint32_t>(main_cvars->get_int("height"));
        if (mode.display_frequency >= chosen.display_frequency &&
            mode.display_frequency <= max_refresh_hz && wanted_size)
            chosen = mode;
    }
    chosen.size = devmode_size;
    chosen.bits_per_pel = colour_bits;
    chosen.fields =
        os::DM_BITSPERPEL | os::DM_PELSWIDTH | os::DM_PELSHEIGHT | os::DM_DISPLAYFREQUENCY;
    return chosen;
}

int apply_fullscreen_mode() {
    log_printf(main_log, " (driver) enumerating display modes for fullscreen : ");
    int count = 0;
    const os::devmode chosen = choose_display_mode(count);
    log_printf(main_log, "found %d modes and choosed %dx%dx%dbits [%dHz]\n", count,
               static_cast<int>(chosen.pels_width), static_cast<int>(chosen.pels_height),
               static_cast<int>(chosen.bits_per_pel), static_cast<int>(chosen.display_frequency));
    return logged_step(" (driver) trying to apply the mode : ", [&] {
        return os::change_display_settings(&chosen, os::CDS_FULLSCREEN) ==
               os::DISP_CHANGE_SUCCESSFUL;
    });
}

} // namespace

int cdriver::init() {
    log_printf(main_log, " (driver) initializing OpenGL driver\n");
    dc = os::get_dc(main_hwnd());
    const os::pixel_format_descriptor pfd = wanted_pixel_format();
    int format = 0;
    if (!logged_step(" (driver) choosing pixel format : ",
                     [&] { return (format = os::choose_pixel_format(dc, pfd)) != 0; }) ||
        !logged_step(" (driver) applying pixel format : ",
                     [&] { return os::set_pixel_format(dc, format, pfd); }) ||
        !logged_step(" (driver) creating opengl rendering context : ",
                     [&] { return (rc = os::gl_create_context(dc)) != 0; }) ||
        !logged_step(" (driver) applying opengl rendering context : ",
                     [&] { return os::gl_make_current(dc, rc); }) ||
        (main_cvars->get_int("fullscreen") != 0 && !apply_fullscreen_mode())) {
        give_back_contexts();
        return 0;
    }
    log_opengl_info(main_log);
    return 1;
}

void cdriver::give_back_contexts() {
    if (rc) {
        os::gl_make_current(0, 0);
        os::gl_delete_context(rc);
        rc = 0;
    }
    if (dc) {
        os::release_dc(main_hwnd(), dc);
        dc = 0;
    }
}

int cdriver::release() {
    logged_step(" (driver) unapplying OpenGL rendering context : ",
                [] { return os::gl_make_current(0, 0); });
    logged_step(" (driver) deleting OpenGL rendering context : ",
                [&] { return os::gl_delete_context(rc); });
    logged_step(" (driver) deleting Window device context : ",
                [&] { return os::release_dc(main_hwnd(), dc) != 0; });
    // Back to the desktop's own mode, windowed too: a display never switched stays as it is.
    os::change_display_settings(nullptr, 0);
    return 1;
}

int cdriver::swap_buffers() { return os::swap_buffers(dc) ? 1 : 0; }
