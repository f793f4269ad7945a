#include "replay/recorder.h"

#include "base/log.h"
#include "base/version.h"
#include "os/clock.h"
#include "os/keys.h"

#include <zlib.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace {

struct cbinding {
    std::uint8_t bit;
    std::uint8_t code;
};
constexpr cbinding bindings[] = {{replay_key_space, os::DIK_SPACE},
                                 {replay_key_up, os::DIK_UP},
                                 {replay_key_down, os::DIK_DOWN},
                                 {replay_key_lshift, os::DIK_LSHIFT},
                                 {replay_key_lcontrol, os::DIK_LCONTROL}};

} // namespace

std::uint8_t game_keys_of(const std::uint8_t (&keys)[256]) {
    std::uint8_t bits = 0;
    for (const cbinding& b : bindings)
        if (keys[b.code] & 0x80)
            bits |= b.bit;
    return bits;
}

void hold_game_keys(std::uint8_t (&keys)[256], std::uint8_t bits) {
    for (const cbinding& b : bindings)
        keys[b.code] = (bits & b.bit) ? 0x80 : 0;
}

ccheck check_of(const cgame& game) {
    ccheck c;
    if (game.ball) {
        c.ball_x = game.ball->x;
        c.ball_y = game.ball->y;
        c.ball_vx = game.ball->vx;
        c.ball_vy = game.ball->vy;
    }
    if (game.left) {
        c.left_y = game.left->y;
        c.left_velocity = game.left->velocity;
        c.left_score = game.left->score;
    }
    if (game.right) {
        c.right_x = game.right->x;
        c.right_y = game.right->y;
        c.right_velocity = game.right->velocity;
        c.right_score = game.right->score;
    }
    c.state = game.state;
    c.server = game.server;
    c.medal_kind = medal_kind;
    c.medal_shown = medal_shown;
    return c;
}

crecorder::~crecorder() {
    if (file)
        gzclose(file);
}

int crecorder::open(const std::string& name, const std::string& options, std::int64_t start_time,
                    std::string& error) {
    path = name;
    errno = 0;
    file = gzopen(name.c_str(), "wb9");
    if (!file) {
        error = errno ? std::strerror(errno) : "zlib cannot open it";
        return 0;
    }
    creplay header;
    header.program_version = brevox_version;
    header.options = options;
    header.start_time = start_time;
    encode_header(header, pending);
    write_out();
    if (write_failed) {
        error = errno ? std::strerror(errno) : "the header could not be written";
        gzclose(file);
        file = nullptr;
        return 0;
    }
    return 1;
}

void crecorder::put(const crecord& record, const ccheck* check) {
    encode_record(record, check, pending);
}

void crecorder::write_out() {
    if (!file || write_failed)
        return;
    const bool written =
        pending.empty() ||
        gzwrite(file, pending.data(), static_cast<unsigned>(pending.size())) ==
            static_cast<int>(pending.size());
    pending.clear();
    if (written && gzflush(file, Z_SYNC_FLUSH) == Z_OK)
        return;
    write_failed = true;
    log_printf(main_log, " (replay) writing %s FAILED [%s]: the replay ends at its last second\n",
               path.c_str(), errno ? std::strerror(errno) : "zlib");
    screen_notice = "The replay could not be written on: it ends here";
}

void crecorder::begin_frame(std::int32_t field_width, std::int32_t field_height, float game_speed) {
    if (field_width != width || field_height != height) {
        width = field_width;
        height = field_height;
        put({record_field, 0, height, width});
    }
    if (std::bit_cast<std::uint32_t>(game_speed) != std::bit_cast<std::uint32_t>(speed)) {
        speed = game_speed;
        put({record_speed, 0, 0, std::bit_cast<std::uint32_t>(game_speed)});
    }
    keys = 0;
}

void crecorder::end_frame(std::uint32_t frame_ms, const cgame& game) {
    for (std::int64_t seconds : draws)
        put({record_calendar, 0, 0, seconds});
    draws.clear();
    put({record_frame, keys, 0, frame_ms});
    ++frames;
    const std::uint64_t second_before = elapsed_ms / 1000;
    elapsed_ms += frame_ms;
    if (elapsed_ms / 1000 == second_before)
        return;
    const ccheck check = check_of(game);
    put({record_check, 0, 0, 0}, &check);
    write_out();
}

int crecorder::finish() {
    if (!file)
        return 0;
    put({record_end, 0, 0, frames});
    write_out();
    const bool closed = gzclose(file) == Z_OK;
    file = nullptr;
    if (!closed && !write_failed) {
        write_failed = true;
        log_printf(main_log, " (replay) closing %s FAILED\n", path.c_str());
    }
    return write_failed ? 0 : 1;
}

void crecorder::hold_keys(std::uint8_t (&picture)[256], std::uint32_t) {
    keys = game_keys_of(picture);
}

bool crecorder::heard_key(std::uint32_t vk, bool repeat) {
    put({record_key, static_cast<std::uint8_t>(repeat ? 1 : 0), 0, vk & 0xff});
    return false;
}

std::int64_t crecorder::calendar_seconds() {
    const std::int64_t seconds = os::calendar_seconds();
    draws.push_back(seconds);
    return seconds;
}

bool crecorder::timer_fired(std::int32_t timer) {
    put({record_timer, 0, 0, timer});
    return true;
}
