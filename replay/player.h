// Plays a replay back through the game's own operations: its frames with their lengths, its
// keys (it sits at the end of the seating's line and sets the game's keys whole), its event and
// menu keys through the window procedure, its timers, its calendar draws and its field sizes.
// At each check it compares the game's state with the recorded one. Main thread only.
#pragma once

#include "game/game.h"
#include "platform/input.h"
#include "replay/format.h"

#include <cstdint>
#include <string>

class cplayer : public ckey_source, public coutside {
public:
    explicit cplayer(const creplay& recorded);

    // Plays the records up to the next frame and that frame with the checks after it. 1 while
    // there is more to play; 0 at the end, at the first difference or where the file ends.
    int play_frame();
    // In a window: plays the recorded frames that `real_ms` of the viewer's time covers at the
    // chosen speed (none in the pause), and writes the line at the top of the field.
    void play_for(std::uint32_t real_ms);
    // It ended: at its end mark, or where it differed or its file ended.
    bool finished() const { return done; }
    // How it ended: "" when it played to its end mark with every check equal, else why not.
    const std::string& verdict() const { return stopped; }
    std::int64_t frames() const { return frames_played; }
    std::int64_t checks() const { return checks_passed; }
    // Recorded time played, in ms.
    std::uint64_t played_ms() const { return elapsed_ms; }

    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override;
    bool at_this_machine() const override { return false; }
    // The viewer's keys: P pauses, Right and Left change the speed, ESCAPE ends; no other key
    // reaches the game. The recorded keys it hands the game itself go on.
    bool heard_key(std::uint32_t vk, bool repeat) override;
    std::int64_t calendar_seconds() override;
    bool timer_fired(std::int32_t) override { return false; } // the record sets them off

private:
    int stop(const std::string& why);
    // The length of the next recorded frame; 0 when none is left.
    std::uint32_t next_frame_ms() const;

    const creplay& replay;
    std::size_t next = 0;
    std::uint8_t keys = 0;
    std::size_t draws_from = 0, draws_to = 0; // the frame's calendar records
    std::int64_t frames_played = 0, checks_passed = 0;
    std::uint64_t elapsed_ms = 0;
    bool drew_unrecorded = false;
    bool feeding = false; // handing the game a recorded key
    bool paused = false;
    std::int32_t speed = 2;          // x1/4, x1/2, x1, x2, x4, x8
    std::uint64_t budget = 0;        // viewer's time not yet played, in ms times 4
    std::uint64_t whole_ms = 0;      // the recorded time of the whole
    bool done = false;
    std::string stopped;
};
