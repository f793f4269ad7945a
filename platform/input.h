// The keyboard, polled: once a frame the whole state of the 256 keys is read, then single keys
// are asked for by their DirectInput scan codes. Bound to the main window (the cvar "hwnd"), so
// every video restart makes a new one.
#pragma once

#include "os/types.h"

#include <cstdint>

class cinput {
public:
    cinput() : dinput(0), device(0), unacquired(1), keys{} {}

    // 1 on success, also when another application has the keyboard for now.
    int init();
    // Fills keys from the device; with no device every key reads as up.
    int read_state();
    // 128 when the key was down at the last read, else 0.
    int key_down(std::uint8_t code) const { return keys[code] & 0x80; }
    int set_key(std::uint8_t code, std::uint8_t value) {
        keys[code] = value;
        return 1;
    }
    int release();

    os::handle dinput;
    os::handle device;
    std::int32_t unacquired;
    std::uint8_t keys[256];

private:
    void release_objects();
};
