// Game controllers, in the manner of XInput: up to four user slots, each polled for its
// buttons and left stick. A controller plugged in takes the lowest free slot and keeps it until
// it is unplugged, so the others keep theirs. Their buttons also arrive as key messages of the
// window that has the focus: WM_KEYDOWN with a VK_GAMEPAD_* code (repeating while held, the
// repeat flag in bit 30 of lparam as for the keyboard) and WM_KEYUP.
//
// Like the keyboard's foreground level, a controller reads as neutral (connected, nothing held)
// while none of our windows has the focus, and sends no messages then: nothing held at a focus
// loss keeps acting behind another window.
#pragma once

#include <cstdint>

namespace os {

constexpr std::uint32_t XUSER_MAX_COUNT = 4;

// Buttons of gamepad_state::buttons, with XInput's values.
constexpr std::uint16_t XINPUT_GAMEPAD_DPAD_UP = 0x0001;
constexpr std::uint16_t XINPUT_GAMEPAD_DPAD_DOWN = 0x0002;
constexpr std::uint16_t XINPUT_GAMEPAD_DPAD_LEFT = 0x0004;
constexpr std::uint16_t XINPUT_GAMEPAD_DPAD_RIGHT = 0x0008;
constexpr std::uint16_t XINPUT_GAMEPAD_START = 0x0010;
constexpr std::uint16_t XINPUT_GAMEPAD_BACK = 0x0020;
constexpr std::uint16_t XINPUT_GAMEPAD_A = 0x1000; // the south button

// The virtual-key codes of those buttons' key messages, with their customary values.
constexpr std::uint32_t VK_GAMEPAD_A = 0xC3;
constexpr std::uint32_t VK_GAMEPAD_DPAD_UP = 0xCB;
constexpr std::uint32_t VK_GAMEPAD_DPAD_DOWN = 0xCC;
constexpr std::uint32_t VK_GAMEPAD_DPAD_LEFT = 0xCD;
constexpr std::uint32_t VK_GAMEPAD_DPAD_RIGHT = 0xCE;
constexpr std::uint32_t VK_GAMEPAD_MENU = 0xCF; // Start
constexpr std::uint32_t VK_GAMEPAD_VIEW = 0xD0; // Back

// A button held down repeats its key message after this long, then at this period.
constexpr std::uint32_t gamepad_repeat_delay_ms = 500;
constexpr std::uint32_t gamepad_repeat_period_ms = 40;

constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;

struct gamepad_state {
    std::uint32_t device;      // never 0 and never the same for two connections
    std::uint16_t buttons;     // XINPUT_GAMEPAD_*
    std::int16_t left_thumb_y; // -32768 to 32767, upward positive
};

// Starts the system's game controllers and opens those plugged in; from then on the message
// pump follows them being plugged in and out. False when the system has none to offer (fault
// injection: "gamepads_start").
bool gamepads_start();
// Closes every controller; the slots are empty after it. Safe without a start.
void gamepads_stop();
// ERROR_SUCCESS with the slot's state, or ERROR_DEVICE_NOT_CONNECTED with a zeroed one.
std::uint32_t gamepad_get_state(std::uint32_t slot, gamepad_state& state);
// The controller's product name; "" for an empty slot.
const char* gamepad_name(std::uint32_t slot);

} // namespace os

namespace os::seam {

// Virtual controllers (SDL's virtual joysticks, mapped as game controllers): plugged in,
// played and unplugged as a player would, through the system's own events. 0 on failure.
std::uint32_t attach_virtual_gamepad(const char* name);
void press_virtual_button(std::uint32_t pad, std::uint16_t button, bool down);
// The left stick's vertical travel, upward positive.
void tilt_virtual_stick(std::uint32_t pad, std::int16_t y);
void detach_virtual_gamepad(std::uint32_t pad);

} // namespace os::seam
