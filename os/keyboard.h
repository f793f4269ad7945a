// The keyboard device: a polled 256-byte state in DirectInput scan codes (bit 7 = down), bound
// to a window with a cooperative level. With the foreground level the device is lost when the
// window loses the keyboard focus: reads fail (and report every key up) until it is acquired
// again, which only succeeds while the window has the focus.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

using hresult = std::int32_t;

constexpr hresult DI_OK = 0;
constexpr hresult S_FALSE = 1;
constexpr hresult E_FAIL = static_cast<hresult>(0x80004005);
constexpr hresult DIERR_OTHERAPPHASPRIO = static_cast<hresult>(0x80070005);
constexpr hresult DIERR_NOTACQUIRED = static_cast<hresult>(0x8007000C);
constexpr hresult DIERR_NOTINITIALIZED = static_cast<hresult>(0x80070015);
constexpr hresult DIERR_INPUTLOST = static_cast<hresult>(0x8007001E);
constexpr hresult DIERR_INVALIDPARAM = static_cast<hresult>(0x80070057);

constexpr std::uint32_t DIRECTINPUT_VERSION = 0x0700;
constexpr std::uint32_t DISCL_EXCLUSIVE = 0x1;
constexpr std::uint32_t DISCL_NONEXCLUSIVE = 0x2;
constexpr std::uint32_t DISCL_FOREGROUND = 0x4;
constexpr std::uint32_t DISCL_BACKGROUND = 0x8;

inline bool failed(hresult result) { return result < 0; }

// Each call can be made to fail with fault injection under its own name, with the injected
// result code: "direct_input_create", "create_device", "set_data_format",
// "set_cooperative_level", "acquire", "get_device_state".
hresult direct_input_create(hinstance instance, std::uint32_t version, handle& dinput);
hresult input_create_keyboard(handle dinput, handle& device);
// The standard keyboard format: 256 bytes, one per scan code.
hresult keyboard_set_data_format(handle device);
hresult keyboard_set_cooperative_level(handle device, hwnd window, std::uint32_t flags);
hresult keyboard_acquire(handle device);
hresult keyboard_unacquire(handle device);
// Fills `size` (256) bytes. On failure every key reads as up; a size other than 256 (or no
// buffer) is DIERR_INVALIDPARAM and nothing is written.
hresult keyboard_get_state(handle device, std::uint32_t size, std::uint8_t* keys);
void input_release_device(handle device);
void input_release(handle dinput);

} // namespace os

namespace os::seam {

// Keyboard devices and input objects that exist now (leak checks in the tests).
int live_input_objects();

} // namespace os::seam
