// OpenGL on a window: device contexts, pixel formats, rendering contexts, buffer swaps; and
// the display modes of the primary display with the change into one and back.
#pragma once

#include "os/types.h"

#include <cstdint>
#include <vector>

namespace os {

struct pixel_format_descriptor {
    std::uint16_t size;
    std::uint16_t version;
    std::uint32_t flags;
    std::uint8_t pixel_type;
    std::uint8_t color_bits;
    std::uint8_t red_bits, red_shift, green_bits, green_shift, blue_bits, blue_shift;
    std::uint8_t alpha_bits, alpha_shift;
    std::uint8_t accum_bits, accum_red_bits, accum_green_bits, accum_blue_bits, accum_alpha_bits;
    std::uint8_t depth_bits;
    std::uint8_t stencil_bits;
    std::uint8_t aux_buffers;
    std::uint8_t layer_type;
    std::uint8_t reserved;
    std::uint32_t layer_mask, visible_mask, damage_mask;
};

constexpr std::uint32_t PFD_DOUBLEBUFFER = 0x01;
constexpr std::uint32_t PFD_DRAW_TO_WINDOW = 0x04;
constexpr std::uint32_t PFD_SUPPORT_OPENGL = 0x20;
constexpr std::uint8_t PFD_TYPE_RGBA = 0;
constexpr std::uint8_t PFD_MAIN_PLANE = 0;

// Each call below can be made to fail with fault injection under its own name
// ("get_dc", "choose_pixel_format", "set_pixel_format", "gl_create_context", "gl_make_current",
// "gl_delete_context", "release_dc", "swap_buffers", "change_display_settings").
handle get_dc(hwnd window);
// 1 when released.
int release_dc(hwnd window, handle dc);
// The number of the format that best fits the request (there is one: the window's visual),
// 0 when none can.
int choose_pixel_format(handle dc, const pixel_format_descriptor& wanted);
bool set_pixel_format(handle dc, int format, const pixel_format_descriptor& wanted);
handle gl_create_context(handle dc);
// With dc and rc 0, makes no context current. Buffer swaps never wait for the vertical sync.
bool gl_make_current(handle dc, handle rc);
bool gl_delete_context(handle rc);
bool swap_buffers(handle dc);

struct devmode {
    std::uint16_t size;
    std::uint32_t fields;
    std::uint32_t bits_per_pel;
    std::uint32_t pels_width;
    std::uint32_t pels_height;
    std::uint32_t display_frequency;
};

constexpr std::uint32_t DM_BITSPERPEL = 0x00040000;
constexpr std::uint32_t DM_PELSWIDTH = 0x00080000;
constexpr std::uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr std::uint32_t DM_DISPLAYFREQUENCY = 0x00400000;
constexpr std::uint32_t CDS_FULLSCREEN = 0x00000004;
constexpr std::int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr std::int32_t DISP_CHANGE_FAILED = -1;
constexpr std::int32_t DISP_CHANGE_BADMODE = -2;

// The mode of the primary display with this number, in the system's order; false past the last.
// Where the compositor scales the fullscreen window to its output (SDL's Wayland driver) every
// mode is offered at rate 0, the display's default: none of them switches the display.
bool enum_display_settings(const char* device, std::uint32_t mode_number, devmode& out);
// Changes the display into `mode` for the fullscreen window, or back to the desktop's own mode
// with a null mode. A mode is found by size and refresh rate; X11 cannot change the colour
// depth, so the depth asked for is not part of the match. Destroying the fullscreen window gives
// the display its desktop mode back as well.
std::int32_t change_display_settings(const devmode* mode, std::uint32_t flags);

} // namespace os

namespace os::seam {

// A made-up display: enumeration lists these modes, and a change into one of them succeeds
// without touching the real display. A scaled display offers them all at the default rate, as
// a compositor that scales the fullscreen window does.
void use_synthetic_display_modes(const std::vector<devmode>& modes, bool scaled = false);
void use_real_display_modes();
// The mode the display has been changed into; false while it shows the desktop's own.
bool changed_display_mode(devmode& out);
// Contexts and device contexts that exist now (leak checks in the tests).
int live_gl_objects();
// Windows with a pixel format on record; a destroyed window's record goes with it.
int pixel_format_records();
// Called by swap_buffers with the frame just drawn still in the back buffer, before it is shown;
// null (the default) for none. For tests that compare what two runs drew.
void before_swap(void (*hook)());

} // namespace os::seam
