#include "platform/input.h"

#include "base/log.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "os/keyboard.h"
#include "os/keys.h"
#include "os/window.h"
#include "platform/window.h"

#include <cstring>

cseating main_seating;

namespace {

// What the people held of a seated paddle's keys goes: its up and down keys, and SPACE while that
// paddle is to serve. In the menu, the intro and the pause the keys are the people's.
void take_from_people(std::uint8_t (&keys)[256], std::int32_t side) {
    if (!main_game || main_game->state < game_serve_wait)
        return;
    const cpaddle* paddle = side == 0 ? main_game->left : main_game->right;
    if (!paddle)
        return;
    keys[static_cast<std::uint8_t>(paddle->up_key)] = 0;
    keys[static_cast<std::uint8_t>(paddle->down_key)] = 0;
    if (main_game->state == game_serve_wait && main_game->server == side)
        keys[os::DIK_SPACE] = 0;
}

} // namespace

void cseating::seat(std::int32_t side, std::unique_ptr<ckey_source> hands) {
    if (side == 0 || side == 1)
        seats[side] = std::move(hands);
}

void cseating::hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms, bool focused) const {
    // The controllers read nothing behind another window by themselves.
    if (people_hands)
        people_hands->hold_keys(keys, frame_ms);
    for (std::int32_t side = 0; side < 2; ++side) {
        if (!seats[side])
            continue;
        take_from_people(keys, side);
        if (focused || !seats[side]->at_this_machine())
            seats[side]->hold_keys(keys, frame_ms);
    }
    if (last_hands)
        last_hands->hold_keys(keys, frame_ms);
}

void cseating::clear() {
    people_hands = nullptr;
    last_hands = nullptr;
    for (auto& hands : seats)
        hands.reset();
}

int cinput::init() {
    log_printf(main_log, " (input) initializing DirectInput\n");

    log_printf(main_log, " (input) creating DirectInput Object : ");
    if (os::failed(os::direct_input_create(program_instance(), os::DIRECTINPUT_VERSION, dinput))) {
        log_printf(main_log, "FAILED\n");
        return 0;
    }
    log_printf(main_log, "OK\n");

    // On these failures the release lines come before the verdict.
    const auto step = [this](const char* head, auto&& run) {
        log_printf(main_log, "%s", head);
        if (os::failed(run())) {
            release_objects();
            log_printf(main_log, "FAILED\n");
            return false;
        }
        log_printf(main_log, "OK\n");
        return true;
    };
    if (!step(" (input) creating DirectInput Device : ",
              [&] { return os::input_create_keyboard(dinput, device); }) ||
        !step(" (input) setting DirectInput DataFormat : ",
              [&] { return os::keyboard_set_data_format(device); }) ||
        !step(" (input) setting DirectInput CooperativeLevel : ", [&] {
            return os::keyboard_set_cooperative_level(
                device, main_hwnd(), os::DISCL_NONEXCLUSIVE | os::DISCL_FOREGROUND);
        }))
        return 0;

    log_printf(main_log, " (input) trying to acquire : ");
    const os::hresult acquired = os::keyboard_acquire(device);
    if (acquired == os::DIERR_OTHERAPPHASPRIO) {
        // Not in front yet: every read tries to acquire again.
        log_printf(main_log, "WARNING [other has the device]\n");
        unacquired = 1;
        return 1;
    }
    if (!os::failed(acquired)) {
        log_printf(main_log, "OK\n");
        unacquired = 0;
        return 1;
    }
    if (acquired == os::DIERR_NOTINITIALIZED)
        log_printf(main_log, "FAILED [directInput not initialized]\n");
    else if (acquired == os::DIERR_INVALIDPARAM)
        log_printf(main_log, "FAILED [invalid param]\n");
    release_objects();
    return 0;
}

int cinput::read_state(std::uint32_t frame_ms) {
    const int read = read_keyboard();
    const os::hwnd window = main_hwnd();
    main_seating.hold_keys(keys, frame_ms, window != 0 && os::get_foreground_window() == window);
    return read;
}

int cinput::read_keyboard() {
    if (!device) {
        std::memset(keys, 0, sizeof keys);
        return 0;
    }
    if (unacquired == 0 && !os::failed(os::keyboard_get_state(device, sizeof keys, keys)))
        return 1;
    // Not acquired at start, or lost with the focus: acquire again and read once more.
    os::keyboard_acquire(device);
    const os::hresult result = os::keyboard_get_state(device, sizeof keys, keys);
    return result == os::DIERR_INPUTLOST || !os::failed(result) ? 1 : 0;
}

int cinput::release() {
    log_printf(main_log, " (input) releasing DirectInput\n");
    release_objects();
    dinput = 0;
    device = 0;
    return 1;
}

void cinput::release_objects() {
    if (!dinput)
        return;
    if (device) {
        log_printf(main_log, " (input) releasing DirectInput Device\n");
        os::keyboard_unacquire(device);
        os::input_release_device(device);
        device = 0;
    }
    log_printf(main_log, " (input) releasing DirectInput Object\n");
    os::input_release(dinput);
    dinput = 0;
}
