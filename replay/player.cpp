#include "replay/player.h"

#include "base/log.h"
#include "base/loop_request.h"
#include "cvar/cvars.h"
#include "os/keys.h"
#include "platform/window.h"
#include "replay/recorder.h"

#include <bit>
#include <cstdio>

namespace {

// The speeds Left and Right choose among, in quarters.
constexpr std::uint32_t speed_quarters[] = {1, 2, 4, 8, 16, 32};
constexpr const char* speed_names[] = {"x1/4", "x1/2", "x1", "x2", "x4", "x8"};
constexpr std::uint32_t vk_p = 'P';

} // namespace

cplayer::cplayer(const creplay& recorded) : replay(recorded) {
    for (const crecord& record : replay.records)
        if (record.kind == record_frame)
            whole_ms += static_cast<std::uint64_t>(record.value);
}

int cplayer::stop(const std::string& why) {
    stopped = why;
    done = true;
    return 0;
}

int cplayer::play_frame() {
    if (done || !main_game || !main_cvars)
        return 0;
    const std::string frame = "frame " + std::to_string(frames_played + 1);
    draws_from = draws_to = 0;
    for (; next < replay.records.size(); ++next) {
        const crecord& record = replay.records[next];
        switch (record.kind) {
        case record_key:
            feeding = true;
            key_down(static_cast<std::uint32_t>(record.value), record.bits != 0);
            feeding = false;
            break;
        case record_timer:
            main_game->end_timer(static_cast<std::int32_t>(record.value));
            break;
        case record_calendar:
            if (draws_to == 0)
                draws_from = next;
            draws_to = next + 1;
            break;
        case record_field:
            // The recorded field, whatever the window: a restart's new size.
            main_cvars->set_int("clwidth", static_cast<std::int32_t>(record.value));
            main_cvars->set_int("clheight", record.extra);
            main_game->take_client_width(static_cast<std::int32_t>(record.value));
            break;
        case record_speed:
            if (std::bit_cast<std::uint32_t>(main_game->speed) !=
                    static_cast<std::uint32_t>(record.value) &&
                frames_played > 0)
                return stop(frame + " differs in game speed");
            break;
        case record_end:
            done = true;
            return 0;
        case record_frame: {
            if (loop_request == loop_quit)
                return stop("the game ended before " + frame);
            loop_request = loop_run; // a restart's field comes from the record
            keys = record.bits;
            ++next;
            drew_unrecorded = false;
            main_game->update(static_cast<std::uint32_t>(record.value));
            ++frames_played;
            elapsed_ms += static_cast<std::uint64_t>(record.value);
            if (drew_unrecorded || draws_from != draws_to)
                return stop(frame + " differs in its random draws");
            // The checks after the frame.
            for (; next < replay.records.size() && replay.records[next].kind == record_check;
                 ++next) {
                const char* field = first_difference(replay.checks[replay.records[next].value],
                                                     check_of(*main_game));
                if (field)
                    return stop(frame + " differs in " + field);
                ++checks_passed;
            }
            return 1;
        }
        default:
            break; // a check before any frame compares nothing
        }
    }
    // The file ends before its end mark: what came after its last check is not proved.
    return stop("the replay ends after frame " + std::to_string(frames_played) +
                ", before its end mark (the run was cut short)");
}

void cplayer::hold_keys(std::uint8_t (&picture)[256], std::uint32_t) {
    hold_game_keys(picture, keys);
}

std::int64_t cplayer::calendar_seconds() {
    if (draws_from == draws_to) {
        drew_unrecorded = true;
        return 0;
    }
    return replay.records[draws_from++].value;
}

std::uint32_t cplayer::next_frame_ms() const {
    for (std::size_t i = next; i < replay.records.size(); ++i)
        if (replay.records[i].kind == record_frame)
            return static_cast<std::uint32_t>(replay.records[i].value);
    return 0;
}

void cplayer::play_for(std::uint32_t real_ms) {
    if (!paused && !done) {
        budget += static_cast<std::uint64_t>(real_ms) * speed_quarters[speed];
        for (std::uint32_t ms = next_frame_ms(); !done; ms = next_frame_ms()) {
            if (ms != 0 && budget < 4ull * ms)
                break;
            budget -= ms != 0 ? 4ull * ms : 0;
            play_frame(); // at the end, where there are no more frames, it ends
        }
    }
    const auto minutes = [](std::uint64_t ms) { return static_cast<unsigned>(ms / 60000); };
    const auto seconds = [](std::uint64_t ms) { return static_cast<unsigned>(ms / 1000 % 60); };
    std::snprintf(field_line, sizeof field_line, "REPLAY %u:%02u / %u:%02u %s%s",
                  minutes(elapsed_ms), seconds(elapsed_ms), minutes(whole_ms), seconds(whole_ms),
                  speed_names[speed], paused ? " paused" : "");
}

bool cplayer::heard_key(std::uint32_t vk, bool repeat) {
    if (feeding)
        return false;
    if (repeat)
        return true;
    if (vk == vk_p)
        paused = !paused;
    else if (vk == os::VK_RIGHT && speed < 5)
        ++speed;
    else if (vk == os::VK_LEFT && speed > 0)
        --speed;
    else if (vk == os::VK_ESCAPE)
        loop_request = loop_quit;
    samples_muted = speed != 2;
    return true;
}
