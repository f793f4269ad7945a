// Inside the OS layer only: what the window, OpenGL and keyboard parts share about SDL's video.
#pragma once

#include "os/types.h"

#include <SDL.h>

#include <bitset>
#include <cstdint>

namespace os::detail {

// Whether SDL's video runs on the driver of this name ("x11", "wayland").
bool video_driver_is(const char* name);
// Whether the Wayland compositor of the session answers and offers surfaces, a desktop shell
// and a seat: all that SDL's Wayland driver needs to start.
bool wayland_compositor_usable();
// Lets SDL take in everything the compositor has said about a window on SDL's Wayland driver.
// False when the compositor does not answer within the patience of the start's probe.
bool wait_for_compositor(SDL_Window* window);

// Starts SDL's video once (OpenGL attributes set, system events pumped into the main queue).
// False when there is no display.
bool ensure_video();
// SDL's window behind a handle; null for none.
SDL_Window* sdl_window(hwnd window);
// The newest borderless window: the one a display-mode change makes fullscreen. Null for none.
SDL_Window* fullscreen_candidate();
// Turns SDL's waiting events into messages now.
void pump_system_events();
// Lost displays (os/display_loss.cpp): a new window's connection is watched. Xlib tells of a
// broken connection itself; SDL's Wayland connection is looked at before each of SDL's pumps.
// Either ends the process.
void watch_display(SDL_Window* window);
void end_if_display_lost();

// The keys the system holds down now, by DirectInput scan code below 0x80 (os/held_keys.cpp).
// False where it cannot tell: not on X11, or a server that numbers its keys otherwise.
constexpr std::size_t system_keys = 0x80;
bool keys_held_by_system(SDL_Window* window, std::bitset<system_keys>& held);

// The polled keyboard: bit 7 set for each scan code that is down.
void copy_polled_keys(std::uint8_t keys[256]);
bool window_has_focus(hwnd window);
// The window of ours that has the keyboard focus; 0 when another program's is in front.
hwnd focused_window();

// Told by the window part before a window is destroyed: the OpenGL part forgets its pixel format
// and, when the window is the fullscreen one, gives the display back its desktop mode.
void forget_window_gl(hwnd window, SDL_Window* sdl);
// Drop what the OpenGL and keyboard parts hold (the tests' clean slate).
void drop_gl_objects();
void drop_input_objects();
void drop_gamepads();

// The controllers' part of the pump: their system events, then the repeats of held buttons.
void gamepad_event(const SDL_Event& event);
void repeat_gamepad_keys();

// Told by the window part when a window gains or loses the keyboard focus.
void keyboard_focus_changed(hwnd window, bool focused);
void gamepad_focus_changed(bool focused);

} // namespace os::detail
