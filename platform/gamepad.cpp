#include "platform/gamepad.h"

#include "base/log.h"
#include "game/game.h"
#include "os/gamepad.h"
#include "os/keys.h"

namespace {

// The stick moves a paddle beyond half its travel, so that a stick resting a little off centre
// moves nothing.
constexpr std::int16_t half_travel = 32767 / 2;

const char* side_name(std::int32_t side) {
    return side == 0 ? "the left paddle" : side == 1 ? "the right paddle" : "no paddle";
}

} // namespace

int cgamepads::init() {
    main_seating.seat_people_hands(this);
    if (os::gamepads_start())
        return 1;
    log_printf(main_log, " (input) starting gamepads : FAILED\n");
    return 0;
}

int cgamepads::release() {
    main_seating.seat_people_hands(nullptr);
    os::gamepads_stop();
    for (slot& s : slots)
        s = {};
    return 1;
}

std::int32_t cgamepads::side_of(std::uint32_t slot) const {
    const bool left = main_seating.people_hold(0), right = main_seating.people_hold(1);
    if (slot == 0)
        return left ? 0 : right ? 1 : -1;
    return slot == 1 && left && right ? 1 : -1;
}

void cgamepads::hold_keys(std::uint8_t (&keys)[256], std::uint32_t) {
    for (std::uint32_t i = 0; i < os::XUSER_MAX_COUNT; ++i) {
        os::gamepad_state pad;
        os::gamepad_get_state(i, pad); // device 0 when the slot is empty
        note_connection(i, pad.device);
        if (pad.device != 0)
            hold_pad_keys(i, pad.buttons, pad.left_thumb_y, keys);
    }
    last_state = main_game ? main_game->state : game_menu;
}

void cgamepads::note_connection(std::uint32_t i, std::uint32_t device) {
    slot& s = slots[i];
    if (s.device == device)
        return;
    if (s.device != 0)
        log_printf(main_log, " (input) gamepad removed: %s, played %s\n", s.name.c_str(),
                   side_name(s.side));
    s = {device, os::gamepad_name(i), side_of(i), false, false};
    if (device != 0)
        log_printf(main_log, " (input) gamepad connected: %s, plays %s\n", s.name.c_str(),
                   side_name(s.side));
}

void cgamepads::hold_pad_keys(std::uint32_t i, std::uint16_t buttons, std::int16_t stick_y,
                              std::uint8_t (&keys)[256]) {
    slot& s = slots[i];
    s.side = side_of(i);
    const cpaddle* paddle = !main_game || s.side < 0 ? nullptr
                            : s.side == 0            ? main_game->left
                                                     : main_game->right;
    if (paddle && ((buttons & os::XINPUT_GAMEPAD_DPAD_UP) || stick_y > half_travel))
        hold_key(keys, paddle->up_key);
    if (paddle && ((buttons & os::XINPUT_GAMEPAD_DPAD_DOWN) || stick_y < -half_travel))
        hold_key(keys, paddle->down_key);

    // A press of A that began in the menu was its Enter: it must not serve when the menu closes.
    const bool a_down = (buttons & os::XINPUT_GAMEPAD_A) != 0;
    const bool in_menu = last_state == game_menu || (main_game && main_game->state == game_menu);
    s.a_used = a_down && (s.a_used || (!s.a_down && in_menu));
    s.a_down = a_down;
    if (a_down && !s.a_used)
        hold_key(keys, os::DIK_SPACE);
}

std::uint32_t keyboard_key_of(std::uint32_t vk) {
    switch (vk) {
    case os::VK_GAMEPAD_MENU:
        return os::VK_ESCAPE;
    case os::VK_GAMEPAD_VIEW:
        return 'P';
    case os::VK_GAMEPAD_DPAD_UP:
        return os::VK_UP;
    case os::VK_GAMEPAD_DPAD_DOWN:
        return os::VK_DOWN;
    case os::VK_GAMEPAD_DPAD_LEFT:
        return os::VK_LEFT;
    case os::VK_GAMEPAD_DPAD_RIGHT:
        return os::VK_RIGHT;
    case os::VK_GAMEPAD_A:
        return os::VK_RETURN;
    default:
        return vk;
    }
}
