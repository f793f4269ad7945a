// The replay file: a gzip stream holding a header and then records, one after another, as
// docs/replay.md describes them. Encoding and decoding are pure functions over bytes, so the
// recorder, the player, the tests and the fuzzer share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

inline constexpr char replay_magic[8] = {'B', 'R', 'E', 'V', 'O', 'X', 'R', 'P'};
// The format this program writes and the only one it plays (docs/replay.md: version rules).
inline constexpr std::uint16_t replay_version = 1;
// A decoded file bigger than this is refused: sixteen hours of play at 200 frames a second.
inline constexpr std::size_t replay_max_bytes = 32u << 20;

// The game's keys in a frame's key byte, one bit each.
enum : std::uint8_t {
    replay_key_space = 1,
    replay_key_up = 2,      // the right paddle up
    replay_key_down = 4,    // the right paddle down
    replay_key_lshift = 8,  // the left paddle up
    replay_key_lcontrol = 16, // the left paddle down
};

// Record kinds. A reader refuses a kind below replay_first_skippable it does not know, and skips
// one from it on.
enum : std::uint8_t {
    record_frame = 1,    // a frame's length and the game's keys as it read them
    record_key = 2,      // an event or menu key, before the next frame
    record_timer = 3,    // the serve (0) or medal (1) timer went off, before the next frame
    record_calendar = 4, // the calendar second a random draw of the next frame took
    record_field = 5,    // the field's size, from the next frame on
    record_speed = 6,    // the game speed, from the next frame on
    record_check = 7,    // the state after the frame before it
    record_end = 8,      // the end mark: the run ended in order, after so many frames
};
inline constexpr std::uint8_t replay_first_skippable = 64;

// The state a check holds: what the players see of the game.
struct ccheck {
    float ball_x = 0, ball_y = 0, ball_vx = 0, ball_vy = 0;
    float left_y = 0, left_velocity = 0, right_x = 0, right_y = 0, right_velocity = 0;
    std::int32_t left_score = 0, right_score = 0, state = 0, server = 0, medal_kind = 0,
                 medal_shown = 0;
};

// One record. `value`: the frame's length, the key's code, the timer, the calendar second, the
// field's width, the speed's bits, the check's index or the end's frame count; `extra`: the
// field's height; `bits`: the frame's keys or a key's repeat flag.
struct crecord {
    std::uint8_t kind = 0;
    std::uint8_t bits = 0;
    std::int32_t extra = 0;
    std::int64_t value = 0;
};

struct creplay {
    std::uint16_t version = replay_version;
    std::string program_version;
    std::string options; // the command line the run was started with
    std::int64_t start_time = 0; // calendar seconds
    std::vector<crecord> records;
    std::vector<ccheck> checks;
    bool complete = false; // the end mark was read
};

// Appends the header, or one record (a check's state from `check`), in the file's order; the
// bytes before compression.
void encode_header(const creplay& replay, std::string& out);
void encode_record(const crecord& record, const ccheck* check, std::string& out);
// The whole file, compressed. False when zlib fails.
bool encode_replay(const creplay& replay, std::string& file);

// Reads a whole file into `replay`. False with a one-line reason in `error` when it is not a
// replay this program plays; a file cut short (before its end mark) is read up to its last whole
// record with complete false.
bool decode_replay(std::span<const std::uint8_t> file, creplay& replay, std::string& error);

// The same after zlib: `raw` is the stream's bytes, `whole` false when the stream was cut short.
bool parse_replay(std::span<const std::uint8_t> raw, bool whole, creplay& replay,
                  std::string& error);

// The first field of `played` that differs from `recorded`, bit for bit; null when none does.
const char* first_difference(const ccheck& recorded, const ccheck& played);
