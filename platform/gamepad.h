// Game controllers, the people's other hands on the keyboard's keys. Each frame the first
// controller holds the keys of the first paddle the people hold in the seating (the left one
// when they hold both), the second those of the other: the D-pad or the left stick beyond half its
// travel holds the paddle's up or down key, the south button (A) holds SPACE. Their buttons' key
// messages stand for keys of the keyboard (keyboard_key_of): Start for ESCAPE, Back for P, the
// D-pad for the arrows and A for Enter. The log has a line for every controller plugged in or
// out, and nothing else of them, so that a game without one logs as before.
#pragma once

#include "os/gamepad.h"
#include "platform/input.h"

#include <cstdint>
#include <string>

class cgamepads final : public ckey_source {
public:
    cgamepads() : last_state(0), slots{} {}

    // Starts the system's controllers and seats them as the people's hands. 0, and a line in the
    // log, when the system offers none: the game goes on with the keyboard.
    int init();
    // Takes them from the seating and closes the controllers. Always 1.
    int release();
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override;

private:
    struct slot {
        std::uint32_t device; // 0: nothing plugged in
        std::string name;
        std::int32_t side; // the paddle it played at the last frame
        bool a_down;
        bool a_used; // this press of A was the menu's Enter, not a serve
    };

    // 0 the left paddle, 1 the right one, -1 none.
    std::int32_t side_of(std::uint32_t slot) const;
    void note_connection(std::uint32_t slot, std::uint32_t device);
    void hold_pad_keys(std::uint32_t slot, std::uint16_t buttons, std::int16_t stick_y,
                       std::uint8_t (&keys)[256]);

    std::int32_t last_state; // the game's state at the last frame; the game starts in its menu
    slot slots[os::XUSER_MAX_COUNT];
};

// The keyboard's virtual key that a controller button's key message stands for; any other key
// as it is.
std::uint32_t keyboard_key_of(std::uint32_t vk);

// The controllers, owned by the main loop; they outlive every video restart.
extern cgamepads* main_gamepads;
