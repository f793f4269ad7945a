// Records a run as it plays (--record): everything the game takes from outside, written through
// zlib as it goes and flushed at every whole second of recorded time, so a run that ends by a
// crash keeps everything up to its last whole second. It sits at the end of the seating's line,
// where it sees the game's keys whole, and is the game's outside (game/game.h) for the calendar
// and the timers. Main thread only.
#pragma once

#include "game/game.h"
#include "platform/input.h"
#include "replay/format.h"

#include <cstdint>
#include <string>
#include <vector>

struct gzFile_s;

// The state a check holds, read from the game.
ccheck check_of(const cgame& game);

class crecorder : public ckey_source, public coutside {
public:
    crecorder() = default;
    crecorder(const crecorder&) = delete;
    crecorder& operator=(const crecorder&) = delete;
    ~crecorder() override;

    // Creates the file and writes its header. 0 with the reason in `error` when it cannot.
    int open(const std::string& path, const std::string& options, std::int64_t start_time,
             std::string& error);
    // Before a frame: the field's size and the game speed, when they changed.
    void begin_frame(std::int32_t width, std::int32_t height, float speed);
    // After it: the frame with its draws, and at each whole second a check of `game`, flushed.
    void end_frame(std::uint32_t frame_ms, const cgame& game);
    // Writes the end mark and closes the file. 1 when everything reached it.
    int finish();
    // A write failed: the file keeps its last whole second; nothing more is written.
    bool failed() const { return write_failed; }
    const std::string& name() const { return path; }

    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override;
    bool at_this_machine() const override { return false; }
    bool heard_key(std::uint32_t vk, bool repeat) override;
    std::int64_t calendar_seconds() override;
    bool timer_fired(std::int32_t timer) override;

private:
    void put(const crecord& record, const ccheck* check = nullptr);
    // Hands what waits to zlib and flushes it to the file.
    void write_out();

    gzFile_s* file = nullptr;
    std::string path;
    std::string pending; // encoded records of the second under way
    std::vector<std::int64_t> draws; // the calendar seconds the frame under way took
    std::uint8_t keys = 0;
    std::int64_t frames = 0;
    std::uint64_t elapsed_ms = 0;
    std::int32_t width = 0, height = 0;
    float speed = 0;
    bool write_failed = false;
};

// The game's keys of a picture as a frame's key byte, and back into a picture.
std::uint8_t game_keys_of(const std::uint8_t (&keys)[256]);
void hold_game_keys(std::uint8_t (&keys)[256], std::uint8_t bits);
