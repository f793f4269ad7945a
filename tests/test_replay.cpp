// Replays: the file's encoding against hostile bytes, and whole runs of random play recorded and
// played back equal, until one key of one frame is changed.
#include "app/main_loop.h"
#include "base/log.h"
#include "base/loop_request.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/clock.h"
#include "os/gl.h"
#include "os/keys.h"
#include "os/process.h"
#include "os/sound.h"
#include "os/sysinfo.h"
#include "os/timers.h"
#include "os/window.h"
#include "platform/window.h"
#include "replay/format.h"
#include "replay/recorder.h"
#include "support/test_env.h"

#include <GL/gl.h>

#include <csignal>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::span<const std::uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

creplay sample_replay() {
    creplay replay;
    replay.program_version = "0.7a";
    replay.options = "--computer both";
    replay.start_time = 1'800'000'000;
    replay.checks.push_back({1.5f, -2.0f, 3, 4, 5, 6, 640, 8, -9, 1, 2, game_in_play, 1, 2, 1});
    replay.records = {{record_field, 0, 480, 640}, {record_speed, 0, 0, 0x41200000},
                      {record_key, 1, 0, 27},      {record_timer, 0, 0, 1},
                      {record_calendar, 0, 0, -5}, {record_frame, 31, 0, 70000},
                      {record_check, 0, 0, 0},     {99, 0, 0, 0}, // a kind the reader skips
                      {record_end, 0, 0, 1}};
    replay.complete = true;
    return replay;
}

TEST(replay_format_test, ARecordingDecodesAsWrittenAndHostileFilesGetAReason) {
    creplay written = sample_replay();
    std::string file;
    ASSERT_TRUE(encode_replay(written, file));
    creplay read;
    std::string error;
    ASSERT_TRUE(decode_replay(bytes_of(file), read, error)) << error;
    EXPECT_TRUE(read.complete);
    EXPECT_EQ(read.options, written.options);
    EXPECT_EQ(read.start_time, written.start_time);
    ASSERT_EQ(read.records.size(), written.records.size() - 1) << "kind 99 skipped";
    for (std::size_t i = 0, w = 0; i < read.records.size(); ++i, ++w) {
        w += written.records[w].kind == 99;
        EXPECT_EQ(read.records[i].kind, written.records[w].kind);
        EXPECT_EQ(read.records[i].value, written.records[w].value) << i;
        EXPECT_EQ(read.records[i].extra, written.records[w].extra) << i;
        EXPECT_EQ(read.records[i].bits, written.records[w].bits) << i;
    }
    ASSERT_EQ(read.checks.size(), 1u);
    EXPECT_EQ(first_difference(read.checks[0], written.checks[0]), nullptr);
    ccheck zero = written.checks[0], negative_zero = zero;
    zero.right_velocity = 0.0f;
    negative_zero.right_velocity = -0.0f; // bit for bit
    EXPECT_STREQ(first_difference(zero, negative_zero), "right paddle velocity");

    // Cut short: read up to its last whole record, not complete.
    ASSERT_TRUE(decode_replay(bytes_of(file.substr(0, file.size() - 12)), read, error)) << error;
    EXPECT_FALSE(read.complete);

    const auto refused = [&](const creplay& replay, const char* reason) {
        std::string bytes;
        ASSERT_TRUE(encode_replay(replay, bytes));
        EXPECT_FALSE(decode_replay(bytes_of(bytes), read, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    };
    creplay other = written;
    other.version = 2;
    refused(other, "format version 2, this brevox plays version 1");
    other = written;
    other.records[3] = {17, 0, 0, 0}; // a kind this version does not know and must not skip
    refused(other, "unknown record kind 17 before frame 1");
    other = written;
    other.records[5].bits = 64; // a key the game has not
    refused(other, "bad record of kind 1");
    other = written;
    other.records.back().value = 2; // more frames than it holds
    refused(other, "end mark");

    for (const std::string& hostile :
         {std::string(), std::string("BREVOXRP"), std::string(300, '\x1f'), file.substr(0, 10)}) {
        EXPECT_FALSE(decode_replay(bytes_of(hostile), read, error));
        EXPECT_FALSE(error.empty());
    }
}

// Random play on the manual clock: keys held and let go, serves, pauses, the menu with its
// speeds and resolutions, F1 into fullscreen and back, until the window is closed.
std::mt19937 keys_chance;
int steps_left = 0;

void play_at_random(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    if (!main_window || !main_game || !main_menu)
        return;
    const os::hwnd window = main_window->hwnd;
    if (--steps_left <= 0) {
        os::kill_timer(0, id);
        os::seam::request_close(window);
        return;
    }
    static constexpr std::uint8_t held[] = {os::DIK_UP, os::DIK_DOWN, os::DIK_LSHIFT,
                                            os::DIK_LCONTROL, os::DIK_SPACE};
    static constexpr std::uint8_t events[] = {os::DIK_ESCAPE, os::DIK_P, os::DIK_F1};
    static constexpr std::uint8_t menu_keys[] = {os::DIK_UP, os::DIK_DOWN, os::DIK_LEFT,
                                                 os::DIK_RIGHT, os::DIK_RETURN};
    // First the menu: 800x600 and the next speed, applied (a restart), then "continue"; F1 into
    // fullscreen and back later on.
    static constexpr std::uint8_t script[] = {os::DIK_DOWN,   os::DIK_RIGHT, os::DIK_DOWN,
                                              os::DIK_RIGHT,  os::DIK_DOWN,  os::DIK_DOWN,
                                              os::DIK_RETURN, os::DIK_UP,    os::DIK_RETURN};
    const int step = 375 - steps_left - 1;
    if (step < 9 || steps_left == 150 || steps_left == 100) {
        const std::uint8_t key = step < 9 ? script[step] : os::DIK_F1;
        os::seam::press_key(window, key);
        os::seam::release_key(window, key);
        return;
    }
    const std::uint32_t roll = keys_chance() % 100;
    if (main_game->state == game_menu) {
        // Half the time on the way back to the field through "continue", never "quit".
        std::uint8_t key = menu_keys[roll % 5];
        if (roll < 50)
            key = main_menu->selected == 3 ? os::DIK_RETURN : os::DIK_DOWN;
        else if (key == os::DIK_RETURN && main_menu->selected == 5)
            return;
        os::seam::press_key(window, key);
        os::seam::release_key(window, key);
    } else if (roll < 3) {
        const std::uint8_t key = events[roll];
        os::seam::press_key(window, key);
        os::seam::release_key(window, key);
    } else if (roll < 60) {
        os::seam::press_key(window, held[roll % 5]);
    } else {
        os::seam::release_key(window, held[roll % 5]);
    }
}

class replay_run_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        prepare_whole_run();
        os::seam::use_synthetic_display_modes(
            {{148, 0, 32, 1024, 768, 60}, {148, 0, 32, 800, 600, 60}, {148, 0, 32, 640, 480, 60}});
    }
    // Records a run of random play started with `options`; the decoded file.
    static creplay record(const char* options, unsigned seed) {
        keys_chance.seed(seed);
        steps_left = 375; // 15 s of play (play_at_random's script counts on it)
        std::string error;
        EXPECT_EQ(start_recording("run.replay", options, error), 1) << error;
        EXPECT_NE(os::set_timer(0, 0, 40, play_at_random), 0u);
        EXPECT_EQ(WinMain(os::module_instance(), 0, options, 1), 0);
        return read("run.replay");
    }
    static creplay read(const char* name) {
        std::ifstream in(name, std::ios::binary);
        const std::string file((std::istreambuf_iterator<char>(in)), {});
        creplay replay;
        std::string error;
        EXPECT_TRUE(decode_replay(bytes_of(file), replay, error)) << error;
        EXPECT_TRUE(replay.complete);
        return replay;
    }
    // --check's status, with what it printed.
    static int check(const creplay& replay, std::string& said) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = check_replay(os::module_instance(), replay, "run.replay");
        said = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        return status;
    }
};

TEST_F(replay_run_test, RandomPlayPlaysBackEqualUntilOneKeyOfOneFrameChanges) {
    for (const char* options : {"", "--computer both"}) {
        SCOPED_TRACE(options);
        creplay replay = record(options, 22);
        std::string said;
        ASSERT_EQ(check(replay, said), 0) << said;
        std::int64_t frames = 0, fields = 0, keys = 0, timers = 0, draws = 0;
        for (const crecord& r : replay.records) {
            frames += r.kind == record_frame;
            fields += r.kind == record_field;
            keys += r.kind == record_key;
            timers += r.kind == record_timer;
            draws += r.kind == record_calendar;
        }
        EXPECT_EQ(said, "replay run.replay: " + std::to_string(frames) + " frames, " +
                            std::to_string(replay.checks.size()) + " checks, all equal\n");
        EXPECT_GE(replay.checks.size(), 12u);
        // The play went through restarts, the menu, serves and points.
        EXPECT_GE(fields, 2);
        EXPECT_GE(keys, 20);
        EXPECT_GE(timers, 1);
        EXPECT_GE(draws, 2);

        // The last frame before a check in play, with the left paddle well inside the field,
        // pushes it the other way: that check names the frame.
        std::size_t last_frame = 0;
        std::int64_t frame = 0, changed = 0;
        for (std::size_t i = 0; i < replay.records.size() && changed == 0; ++i) {
            const crecord& r = replay.records[i];
            if (r.kind == record_frame) {
                last_frame = i;
                ++frame;
            }
            if (r.kind != record_check)
                continue;
            const ccheck& c = replay.checks[r.value];
            if (c.state == game_in_play && c.left_y > 100 && c.left_y < 380)
                changed = frame;
        }
        ASSERT_NE(changed, 0) << "no check in play";
        std::uint8_t& bits = replay.records[last_frame].bits;
        // Up wins over down: up held becomes down alone, anything else up.
        bits = bits & replay_key_lshift ? (bits & ~replay_key_lshift) | replay_key_lcontrol
                                        : bits | replay_key_lshift;
        std::string file;
        ASSERT_TRUE(encode_replay(replay, file));
        creplay changed_replay;
        std::string error;
        ASSERT_TRUE(decode_replay(bytes_of(file), changed_replay, error));
        EXPECT_EQ(check(changed_replay, said), 1);
        EXPECT_EQ(said.find("replay run.replay: frame " + std::to_string(changed) + " differs in "),
                  0u)
            << said;
    }
}

// The viewer's keys at tenths of a second. The first run plays at x1/2 for 6 s, through the
// first serve's delay, where the game's timer would go off by the clock before the record's
// time, then at x8 to the end; the
// second pauses at x8 and ends with ESCAPE after 6 s, by when x8 would have played the whole.
struct cpress {
    int tick;
    std::uint8_t key;
};
constexpr cpress slow_then_fast[] = {{1, os::DIK_LEFT},
                                     {60, os::DIK_RIGHT},
                                     {61, os::DIK_RIGHT},
                                     {62, os::DIK_RIGHT},
                                     {63, os::DIK_RIGHT}};
constexpr cpress fast_then_paused[] = {{1, os::DIK_RIGHT},
                                       {2, os::DIK_RIGHT},
                                       {3, os::DIK_RIGHT},
                                       {5, os::DIK_P},
                                       {65, os::DIK_ESCAPE}};
std::span<const cpress> viewer_script;
int viewer_ticks = 0;

void view(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    if (!main_window)
        return;
    ++viewer_ticks;
    for (const cpress& press : viewer_script)
        if (press.tick == viewer_ticks) {
            os::seam::press_key(main_window->hwnd, press.key);
            os::seam::release_key(main_window->hwnd, press.key);
        }
    if (viewer_ticks >= viewer_script.back().tick)
        os::kill_timer(0, id);
}

TEST_F(replay_run_test, AReplayInAWindowPlaysAtTheViewersSpeedPausesAndEnds) {
    const creplay replay = record("", 7); // the people hold SPACE before a serve is ready too
    std::uint64_t recorded_ms = 0;
    for (const crecord& r : replay.records)
        recorded_ms += r.kind == record_frame ? static_cast<std::uint64_t>(r.value) : 0;
    for (bool pauses : {false, true}) {
        viewer_ticks = 0;
        viewer_script = pauses ? std::span(fast_then_paused) : std::span(slow_then_fast);
        ASSERT_NE(os::set_timer(0, 0, 100, view), 0u);
        const std::uint64_t start_us = os::seam::manual_clock_us();
        testing::internal::CaptureStdout();
        EXPECT_EQ(play_replay(os::module_instance(), replay, "run.replay"), 0);
        const std::string said = testing::internal::GetCapturedStdout();
        const std::uint64_t took_ms = (os::seam::manual_clock_us() - start_us) / 1000;
        if (pauses) {
            EXPECT_EQ(said, "") << "the pause kept it from its end, until ESCAPE";
            EXPECT_EQ(viewer_ticks, 65);
        } else {
            EXPECT_NE(said.find("checks, all equal"), std::string::npos) << said;
            EXPECT_LT(took_ms, recorded_ms * 3 / 4) << "x8 after the first 6 s";
        }
    }
    EXPECT_EQ(samples_muted, 0);
}

// What a frame in play showed, by the state it showed: a digest of its pixels without the band
// at the top where a replay's line goes, and the sounds started so far.
struct cshown {
    std::size_t picture;
    std::uint64_t sounds;
};
std::map<std::string, cshown>* frames_shown = nullptr;

void note_frame_shown() {
    if (!frames_shown || !main_game || main_game->state != game_in_play)
        return;
    const ccheck state = check_of(*main_game);
    std::string key(sizeof state, '\0');
    std::memcpy(key.data(), &state, sizeof state);
    GLint view[4] = {};
    glGetIntegerv(GL_VIEWPORT, view);
    const int top_band = 64; // the REPLAY line, 40 units below the top
    std::string pixels(static_cast<std::size_t>(view[2]) * (view[3] - top_band) * 3, '\0');
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(view[0], view[1], view[2], view[3] - top_band, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels.data());
    (*frames_shown)[key] = {std::hash<std::string>{}(pixels), os::seam::buffers_started()};
}

// Two people at random, SPACE held from the intro on, so that balls are missed and aces voiced.
void play_the_serves(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    if (!main_window)
        return;
    const os::hwnd window = main_window->hwnd;
    static constexpr std::uint8_t to_the_intro[] = {os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN,
                                                    os::DIK_RETURN};
    static constexpr std::uint8_t paddle_keys[] = {os::DIK_UP, os::DIK_DOWN, os::DIK_LSHIFT,
                                                   os::DIK_LCONTROL};
    const int step = 225 - steps_left--;
    if (step < 4) {
        os::seam::press_key(window, to_the_intro[step]);
        os::seam::release_key(window, to_the_intro[step]);
    } else if (step == 4) {
        os::seam::press_key(window, os::DIK_SPACE);
    } else if (steps_left > 0) {
        const std::uint32_t roll = keys_chance();
        const std::uint8_t key = paddle_keys[roll % 4];
        if (roll / 4 % 2)
            os::seam::press_key(window, key);
        else
            os::seam::release_key(window, key);
    } else {
        os::kill_timer(0, id);
        os::seam::request_close(window);
    }
}

TEST_F(replay_run_test, AReplayInAWindowShowsAndSoundsWhatThePlayDid) {
    std::filesystem::create_directory_symlink(std::filesystem::path(BREVOX_SOURCE_DIR) / "data",
                                              "data"); // the medals' voices
    std::map<std::string, cshown> live, replayed;
    frames_shown = &live;
    os::seam::before_swap(note_frame_shown);
    keys_chance.seed(5);
    steps_left = 225; // 9 s
    std::string error;
    ASSERT_EQ(start_recording("run.replay", "", error), 1) << error;
    ASSERT_NE(os::set_timer(0, 0, 40, play_the_serves), 0u);
    const std::uint64_t live_base = os::seam::buffers_started();
    EXPECT_EQ(WinMain(os::module_instance(), 0, "", 1), 0);
    const std::uint64_t live_sounds = os::seam::buffers_started();
    const creplay replay = read("run.replay");

    frames_shown = &replayed;
    testing::internal::CaptureStdout();
    EXPECT_EQ(play_replay(os::module_instance(), replay, "run.replay"), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("all equal"), std::string::npos);
    os::seam::before_swap(nullptr);
    frames_shown = nullptr;

    // Over the same frames of play, the same pictures and the same sounds started since each
    // run began.
    std::size_t same = 0;
    std::uint64_t first_sounds = 0, last_sounds = 0;
    for (const auto& [state, shown] : live) {
        const auto found = replayed.find(state);
        if (found == replayed.end())
            continue;
        ++same;
        EXPECT_EQ(found->second.picture, shown.picture) << "frame " << same << " in common";
        EXPECT_EQ(found->second.sounds - live_sounds, shown.sounds - live_base)
            << "frame " << same << " in common";
        first_sounds = first_sounds ? std::min(first_sounds, shown.sounds) : shown.sounds;
        last_sounds = std::max(last_sounds, shown.sounds);
    }
    EXPECT_GE(live.size(), 500u);
    EXPECT_GE(same, live.size() * 9 / 10) << "the replay showed most frames of play";
    EXPECT_GT(last_sounds, first_sounds) << "medals were voiced during play";
}

// A replay written into a pipe whose reader goes away after 150 bytes (to the recorder, as a full
// disk): the game plays on, with a line in the log and on the field, and what was read is a
// replay up to its last whole second.
TEST_F(replay_run_test, AWriteThatFailsDuringPlayEndsTheFileNotTheGame) {
    ASSERT_EQ(mkfifo("run.replay", 0600), 0);
    const auto no_signal = std::signal(SIGPIPE, SIG_IGN); // the write fails instead
    std::string file;
    std::thread reader([&file] {
        const int fd = open("run.replay", O_RDONLY); // until the recorder opens it
        char bytes[256];
        for (ssize_t n = 1; fd >= 0 && file.size() < 150 && n > 0;)
            if ((n = ::read(fd, bytes, sizeof bytes)) > 0)
                file.append(bytes, static_cast<std::size_t>(n));
        close(fd);
    });
    std::string error;
    ASSERT_EQ(start_recording("run.replay", "--computer both", error), 1) << error;
    ASSERT_NE(os::set_timer(0, 0, 8000,
                            [](os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
                                os::kill_timer(0, id);
                                EXPECT_NE(screen_notice, nullptr) << "the players are told";
                                loop_request = loop_quit;
                            }),
              0u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(WinMain(os::module_instance(), 0, "--computer both", 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "brevox: replay cut short in run.replay\n");
    reader.join();
    std::signal(SIGPIPE, no_signal);
    screen_notice = nullptr;
    const std::string log = read_log();
    const std::string said =
        " (replay) writing run.replay FAILED [Broken pipe]: the replay ends at its last second\n";
    EXPECT_NE(log.find(said), std::string::npos) << log;
    EXPECT_EQ(log.find(said), log.rfind(" (replay) writing")) << "said once";

    creplay replay;
    ASSERT_TRUE(decode_replay(bytes_of(file), replay, error)) << error;
    EXPECT_FALSE(replay.complete);
    EXPECT_GE(replay.checks.size(), 2u);
}

} // namespace
