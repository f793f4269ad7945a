#include "os/gl.h"

#include "os/fault.h"
#include "os/video.h"

#include <map>
#include <optional>

namespace {

struct context_record {
    SDL_GLContext context;
    os::hwnd window;
};

// Main thread only: OpenGL is used on the thread that made the context current.
std::map<os::handle, os::hwnd> device_contexts;
std::map<os::hwnd, int> pixel_formats;
std::map<os::handle, context_record> contexts;
os::handle last_handle = 0x00050000;

std::optional<std::vector<os::devmode>> synthetic_modes;
bool synthetic_modes_scaled = false;
void (*swap_hook)() = nullptr;
std::optional<os::devmode> changed_mode;
SDL_Window* fullscreen_window = nullptr;

constexpr int the_only_format = 1;

bool fails(const char* call) { return os::detail::injected_fault(call); }

SDL_Window* window_of_dc(os::handle dc) {
    const auto found = device_contexts.find(dc);
    return found == device_contexts.end() ? nullptr : os::detail::sdl_window(found->second);
}

bool fits_the_visual(const os::pixel_format_descriptor& wanted) {
    constexpr std::uint32_t needed = os::PFD_DRAW_TO_WINDOW | os::PFD_SUPPORT_OPENGL;
    return (wanted.flags & needed) == needed && wanted.pixel_type == os::PFD_TYPE_RGBA &&
           wanted.color_bits <= 32 && wanted.depth_bits <= 32 && wanted.stencil_bits == 0 &&
           wanted.layer_type == os::PFD_MAIN_PLANE;
}

os::devmode devmode_of(const SDL_DisplayMode& mode) {
    return {148,
            os::DM_BITSPERPEL | os::DM_PELSWIDTH | os::DM_PELSHEIGHT | os::DM_DISPLAYFREQUENCY,
            SDL_BITSPERPIXEL(mode.format),
            static_cast<std::uint32_t>(mode.w),
            static_cast<std::uint32_t>(mode.h),
            static_cast<std::uint32_t>(mode.refresh_rate)};
}

// A compositor that scales the fullscreen window to its output (SDL's Wayland driver) never
// switches the display: every mode it offers runs at the output's own rate, which says nothing
// about the mode. Such modes are offered at rate 0, "the display's default".
os::devmode as_offered(os::devmode mode, bool scaled) {
    if (scaled)
        mode.display_frequency = 0;
    return mode;
}

bool modes_are_scaled() { return os::detail::video_driver_is("wayland"); }

// The system's rate 0 or 1 means "the hardware's default": any rate will do for it.
bool rate_matches(std::uint32_t wanted, std::uint32_t offered) {
    return wanted <= 1 || offered <= 1 || wanted == offered;
}

bool same_size_and_rate(const os::devmode& wanted, const os::devmode& offered) {
    return wanted.pels_width == offered.pels_width && wanted.pels_height == offered.pels_height &&
           rate_matches(wanted.display_frequency, offered.display_frequency);
}

std::int32_t back_to_desktop() {
    if (fullscreen_window)
        SDL_SetWindowFullscreen(fullscreen_window, 0);
    fullscreen_window = nullptr;
    changed_mode.reset();
    return os::DISP_CHANGE_SUCCESSFUL;
}

std::int32_t into_real_mode(const os::devmode& wanted) {
    const int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) != 0 || !same_size_and_rate(wanted, devmode_of(mode)))
            continue;
        SDL_Window* window = os::detail::fullscreen_candidate();
        if (!window || SDL_SetWindowDisplayMode(window, &mode) != 0 ||
            SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
            return os::DISP_CHANGE_FAILED;
        fullscreen_window = window;
        changed_mode = wanted;
        return os::DISP_CHANGE_SUCCESSFUL;
    }
    return os::DISP_CHANGE_BADMODE;
}

std::int32_t into_synthetic_mode(const os::devmode& wanted) {
    for (const auto& offered : *synthetic_modes) {
        if (same_size_and_rate(wanted, offered)) {
            changed_mode = wanted;
            return os::DISP_CHANGE_SUCCESSFUL;
        }
    }
    return os::DISP_CHANGE_BADMODE;
}

} // namespace

namespace os {

handle get_dc(hwnd window) {
    if (fails("get_dc") || !detail::sdl_window(window))
        return 0;
    const handle dc = ++last_handle;
    device_contexts[dc] = window;
    return dc;
}

int release_dc(hwnd window, handle dc) {
    const auto found = device_contexts.find(dc);
    if (fails("release_dc") || found == device_contexts.end() || found->second != window)
        return 0;
    device_contexts.erase(found);
    return 1;
}

int choose_pixel_format(handle dc, const pixel_format_descriptor& wanted) {
    if (fails("choose_pixel_format") || !window_of_dc(dc) || !fits_the_visual(wanted))
        return 0;
    return the_only_format;
}

bool set_pixel_format(handle dc, int format, const pixel_format_descriptor&) {
    if (fails("set_pixel_format") || !window_of_dc(dc) || format != the_only_format)
        return false;
    // A window's pixel format is set once; setting the same one again is harmless.
    int& current = pixel_formats[device_contexts[dc]];
    if (current != 0 && current != format)
        return false;
    current = format;
    return true;
}

handle gl_create_context(handle dc) {
    SDL_Window* window = window_of_dc(dc);
    if (fails("gl_create_context") || !window || !pixel_formats.count(device_contexts[dc]))
        return 0;
    // SDL makes a new context current; the program expects only gl_make_current to do that.
    SDL_Window* previous_window = SDL_GL_GetCurrentWindow();
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_GLContext context = SDL_GL_CreateContext(window);
    SDL_GL_MakeCurrent(previous_window, previous);
    if (!context)
        return 0;
    const handle rc = ++last_handle;
    contexts[rc] = {context, device_contexts[dc]};
    return rc;
}

bool gl_make_current(handle dc, handle rc) {
    if (fails("gl_make_current"))
        return false;
    if (rc == 0)
        return SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr) == 0;
    const auto found = contexts.find(rc);
    SDL_Window* window = window_of_dc(dc);
    if (found == contexts.end() || !window)
        return false;
    if (SDL_GL_MakeCurrent(window, found->second.context) != 0)
        return false;
    // The program paces itself: a swap must never wait for the display.
    SDL_GL_SetSwapInterval(0);
    return true;
}

bool gl_delete_context(handle rc) {
    const auto found = contexts.find(rc);
    if (fails("gl_delete_context") || found == contexts.end())
        return false;
    if (SDL_GL_GetCurrentContext() == found->second.context)
        SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
    SDL_GL_DeleteContext(found->second.context);
    contexts.erase(found);
    return true;
}

bool swap_buffers(handle dc) {
    SDL_Window* window = window_of_dc(dc);
    if (fails("swap_buffers") || !window)
        return false;
    if (swap_hook)
        swap_hook();
    SDL_GL_SwapWindow(window);
    return true;
}

bool enum_display_settings(const char*, std::uint32_t mode_number, devmode& out) {
    if (synthetic_modes) {
        if (mode_number >= synthetic_modes->size())
            return false;
        out = as_offered((*synthetic_modes)[mode_number], synthetic_modes_scaled);
        return true;
    }
    if (!detail::ensure_video() ||
        mode_number >= static_cast<std::uint32_t>(SDL_GetNumDisplayModes(0)))
        return false;
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, static_cast<int>(mode_number), &mode) != 0)
        return false;
    out = as_offered(devmode_of(mode), modes_are_scaled());
    return true;
}

std::int32_t change_display_settings(const devmode* mode, std::uint32_t) {
    int code = DISP_CHANGE_FAILED;
    if (detail::injected_fault("change_display_settings", &code))
        return code;
    if (!mode)
        return back_to_desktop();
    return synthetic_modes ? into_synthetic_mode(*mode) : into_real_mode(*mode);
}

} // namespace os

namespace os::detail {

void forget_window_gl(hwnd window, SDL_Window* sdl) {
    pixel_formats.erase(window);
    // The display's mode belongs to its fullscreen window: it goes back while the window exists.
    if (sdl && sdl == fullscreen_window)
        back_to_desktop();
}

void drop_gl_objects() {
    SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
    for (auto& [handle, record] : contexts)
        SDL_GL_DeleteContext(record.context);
    contexts.clear();
    device_contexts.clear();
    pixel_formats.clear();
    back_to_desktop();
    synthetic_modes.reset();
}

} // namespace os::detail

namespace os::seam {

void use_synthetic_display_modes(const std::vector<devmode>& modes, bool scaled) {
    synthetic_modes = modes;
    synthetic_modes_scaled = scaled;
}

void use_real_display_modes() {
    synthetic_modes.reset();
    changed_mode.reset();
}

bool changed_display_mode(devmode& out) {
    if (changed_mode)
        out = *changed_mode;
    return changed_mode.has_value();
}

void before_swap(void (*hook)()) { swap_hook = hook; }

int live_gl_objects() { return static_cast<int>(device_contexts.size() + contexts.size()); }

int pixel_format_records() { return static_cast<int>(pixel_formats.size()); }

} // namespace os::seam
