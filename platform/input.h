// The keyboard, polled: once a frame the whole state of the 256 keys is read, then single keys
// are asked for by their DirectInput scan codes. Bound to the main window (the cvar "hwnd"), so
// every video restart makes a new one.
#pragma once

#include "os/types.h"

#include <cstdint>

// Another pair of hands on the same keys (a computer player, a gamepad): after every read of
// the keyboard each source adds or takes away keys in the picture, in the order they were added,
// so the game reads them as it reads the keyboard. A source outlives every keyboard object.
class ckey_source {
public:
    virtual void hold_keys(std::uint8_t (&keys)[256]) = 0;

protected:
    ~ckey_source() = default;
};

// Added once, removed before it goes; both do nothing for a null source.
void add_key_source(ckey_source* source);
void remove_key_source(ckey_source* source);

class cinput {
public:
    cinput() : dinput(0), device(0), unacquired(1), keys{} {}

    // 1 on success, also when another application has the keyboard for now.
    int init();
    // Fills keys from the device, then lets the key sources hold theirs; with no device every
    // key but the sources' reads as up. 0 when the device could not be read.
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
    int read_keyboard();
    void release_objects();
};
