#include "platform/input.h"

#include "base/log.h"
#include "cvar/cvars.h"
#include "os/keyboard.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<ckey_source*> key_sources;

os::hinstance program_instance() {
    return static_cast<os::hinstance>(main_cvars->get_int("instance"));
}

os::hwnd main_hwnd() { return static_cast<os::hwnd>(main_cvars->get_int("hwnd")); }

} // namespace

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

void add_key_source(ckey_source* source) {
    if (source && std::find(key_sources.begin(), key_sources.end(), source) == key_sources.end())
        key_sources.push_back(source);
}

void remove_key_source(ckey_source* source) { std::erase(key_sources, source); }

int cinput::read_state() {
    const int read = read_keyboard();
    for (ckey_source* source : key_sources)
        source->hold_keys(keys);
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
