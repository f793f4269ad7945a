// Inside the OS layer only: SDL's key identities to the program's key codes.
#pragma once

#include <SDL.h>

#include <cstdint>

namespace os::detail {

// The DirectInput scan code of an SDL scancode; 0 for a key without one.
std::uint8_t dik_from_scancode(SDL_Scancode scancode);
// The SDL scancode of a DirectInput scan code; SDL_SCANCODE_UNKNOWN for none.
SDL_Scancode scancode_from_dik(std::uint8_t dik);
// The virtual-key code of a key: letters and digits by the layout, the rest by position.
std::uint32_t vk_from_key(SDL_Scancode scancode, SDL_Keycode keycode);

} // namespace os::detail
