#include "replay/player.h"

#include "base/loop_request.h"
#include "cvar/cvars.h"
#include "platform/window.h"
#include "replay/recorder.h"

#include <bit>

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
            key_down(static_cast<std::uint32_t>(record.value), record.bits != 0);
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
