// The keyboard, polled: once a frame the whole state of the 256 keys is read, then single keys
// are asked for by their DirectInput scan codes. Bound to the main window (the cvar "hwnd"), so
// every video restart makes a new one.
#pragma once

#include "os/types.h"

#include <cstdint>
#include <memory>

// A pair of hands on the paddles' keys besides the keyboard: the controllers, the computer (later
// a replay, a player across the network). Once a frame, after the keyboard's read, it holds keys
// in the picture, so the game reads them as it reads the keyboard.
class ckey_source {
public:
    virtual ~ckey_source() = default;
    // `frame_ms`: the length of the frame the game is about to play, as the game was given it.
    virtual void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) = 0;
    // Hands at this machine hold nothing while the game's window has no focus; hands elsewhere
    // (a replay being played, a player across the network) play on.
    virtual bool at_this_machine() const { return true; }
    // An event or menu key the window procedure heard (`repeat`: held down), before it acts;
    // true when these hands take it, and the game does not hear it (a replay being played
    // takes the people's keys for its own controls).
    virtual bool heard_key(std::uint32_t, bool) { return false; }
};

// Who holds each paddle (0 left, 1 right). The people at this machine hold every paddle nobody
// else sits at, with the keyboard and the controllers. Hands seated at a paddle take it from
// them: its up and down keys, and SPACE while it is to serve, are theirs alone. The seating owns
// the hands seated at it; the people's controllers it only holds on to.
class cseating {
public:
    // `hands` sit at the paddle of `side`, after whoever sat there goes; null gives the paddle
    // back to the people.
    void seat(std::int32_t side, std::unique_ptr<ckey_source> hands);
    // The people's controllers, or null; they play the people's paddles.
    void seat_people_hands(ckey_source* hands) { people_hands = hands; }
    bool people_hold(std::int32_t side) const { return side < 0 || side > 1 || !seats[side]; }
    // The hands at the end of the line, or null: a replay being played sets the whole picture
    // of the game's keys, its recorder sees it whole. Neither is bound by the focus; the
    // seating holds on to them without owning them.
    void seat_last(ckey_source* hands) { last_hands = hands; }
    // Everybody's keys after the keyboard's (`focused`: the game's window has the focus).
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms, bool focused) const;
    // Tells the hands at the end of the line of an event or menu key; true when they took it.
    bool hear_key(std::uint32_t vk, bool repeat) const {
        return last_hands && last_hands->heard_key(vk, repeat);
    }
    // Everybody leaves: both paddles are the people's, without controllers.
    void clear();

private:
    ckey_source* people_hands = nullptr;
    ckey_source* last_hands = nullptr;
    std::unique_ptr<ckey_source> seats[2];
};

// The game's seating: the main loop seats the computer, the controllers seat themselves.
extern cseating main_seating;

// Holds a key down in a picture of the 256 keys.
inline void hold_key(std::uint8_t (&keys)[256], std::int32_t code) {
    keys[static_cast<std::uint8_t>(code)] = 0x80;
}

class cinput {
public:
    cinput() : dinput(0), device(0), unacquired(1), keys{} {}

    // 1 on success, also when another application has the keyboard for now.
    int init();
    // Fills keys from the device, then lets the seated hands hold theirs for a frame of
    // `frame_ms`; with no device every key but theirs reads as up. 0 when the device could not
    // be read.
    int read_state(std::uint32_t frame_ms);
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
