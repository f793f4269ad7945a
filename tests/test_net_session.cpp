// Network play through the whole program, the host's side: the real game hosts, and guests made
// of the network layer and the messages alone knock at it, so that every answer is seen. The
// host's game runs on the manual clock; the guests are serviced at each tick of a script.
#include "app/main_loop.h"
#include "base/loop_request.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "net/guest.h"
#include "net/host.h"
#include "os/keys.h"
#include "os/net.h"
#include "os/process.h"
#include "os/sound.h"
#include "os/timers.h"
#include "os/window.h"
#include "platform/window.h"
#include "support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

namespace {

// Guests of the tests' own: each link's messages as they arrived.
struct cfake_link {
    std::vector<net_message> got;
    bool connected = false;
    bool gone = false;
};

class cfake_guests {
public:
    cfake_guests() : client(os::net_host_create(nullptr, 8, net_channels)) {}
    ~cfake_guests() { os::net_host_destroy(client); }

    os::hnetpeer knock(std::uint16_t port, std::uint32_t data) {
        const os::hnetpeer peer =
            os::net_connect(client, {os::net_ipv4_loopback, port}, net_channels, data);
        links[peer] = {};
        return peer;
    }
    // Takes what arrived; with `wait_ms`, waits that long for the first event.
    void service(std::uint32_t wait_ms = 0) {
        os::net_event event;
        for (; os::net_service(client, event, wait_ms) > 0; wait_ms = 0) {
            cfake_link& link = links[event.peer];
            if (event.kind == os::net_event_kind::connect)
                link.connected = true;
            else if (event.kind == os::net_event_kind::receive) {
                net_message message;
                std::string error;
                if (decode_message(event.bytes, message, error))
                    link.got.push_back(message);
                else
                    ADD_FAILURE() << "the host sent what is no message: " << error;
            } else if (event.kind != os::net_event_kind::none) {
                link.gone = true;
            }
        }
    }
    // The last message of that kind the link got, or null.
    template <typename kind> const kind* last(os::hnetpeer peer) {
        const auto& got = links[peer].got;
        for (auto it = got.rbegin(); it != got.rend(); ++it)
            if (const auto* message = std::get_if<kind>(&*it))
                return message;
        return nullptr;
    }
    bool refused_for(os::hnetpeer peer, net_refusal reason) {
        const auto* refused = last<net_refused>(peer);
        return refused && refused->reason == reason;
    }

    os::hnethost client;
    std::map<os::hnetpeer, cfake_link> links;
};

// A script of steps, one at a time: each waits until its condition holds, then acts. A step
// that waits more ticks than any link needs fails the test and ends the run.
struct cstep {
    const char* what;
    std::function<bool()> done;
    std::function<void()> then;
};
std::vector<cstep>* script = nullptr;
std::size_t step_at = 0;
int waited = 0;
std::function<void()> every_tick;

void run_script(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) {
    if (every_tick)
        every_tick();
    if (step_at < script->size() && (*script)[step_at].done()) {
        if ((*script)[step_at].then)
            (*script)[step_at].then();
        ++step_at;
        waited = 0;
    } else if (++waited > 3000) {
        ADD_FAILURE() << "gave up waiting for " << (*script)[step_at].what;
        step_at = script->size();
    }
    if (step_at == script->size()) {
        os::kill_timer(0, id);
        loop_request = loop_quit;
    }
}

void press(std::uint8_t key) {
    os::seam::press_key(main_window->hwnd, key);
    os::seam::release_key(main_window->hwnd, key);
}

class net_session_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        prepare_whole_run();
        ASSERT_TRUE(os::net_initialize());
    }
    void TearDown() override {
        os::net_shutdown();
        script = nullptr;
        every_tick = nullptr;
        brevox_test::TearDown();
    }
    // Runs the game as a host on a port of the system's choice, with the script at every tick.
    static void host_with(std::vector<cstep>& steps) {
        std::string error;
        ASSERT_EQ(start_hosting(0, error), 1) << error;
        script = &steps;
        step_at = 0;
        waited = 0;
        ASSERT_NE(os::set_timer(0, 0, 10, run_script), 0u);
        EXPECT_EQ(WinMain(os::module_instance(), 0, "", 1), 0);
        EXPECT_EQ(step_at, steps.size());
    }
};

// Who may sit at the right paddle: another version, a wrong code and a second guest are turned
// away with their reason; the guest's keys, SPACE and pauses act as the host's would, its menu
// holds the pause against the host's P, garbage is dropped; a guest gone silent gives its seat
// to the next one with the code, and the host's quit is said to it.
TEST_F(net_session_test, TheHostSeatsOneGuestWithItsCodeAndPlaysByItsKeys) {
    struct ctraced { // the benchmark's trace, for this test alone
        ctraced() { setenv("BREVOX_NET_TRACE", "net.trace", 1); }
        ~ctraced() { unsetenv("BREVOX_NET_TRACE"); }
    } traced;
    cfake_guests guests;
    std::uint16_t port = 0, code = 0;
    os::hnetpeer other_version = 0, wrong_code = 0, guest = 0, second = 0, back = 0;
    bool guest_talks = true;
    std::uint32_t sequence = 0;
    std::uint8_t guest_keys = 0;
    const std::uint32_t fingerprint = protocol_fingerprint(brevox_version);
    const auto hello = [&](os::hnetpeer peer, std::uint16_t with_code) {
        send_message(peer, net_hello{brevox_version, with_code}, true);
    };
    const auto connected = [&](os::hnetpeer peer) { return guests.links[peer].connected; };
    const auto game_state = [] { return main_game ? main_game->state : -1; };
    every_tick = [&] {
        guests.service();
        if (guest && guest_talks && connected(guest)) {
            net_input input;
            input.sequence = ++sequence;
            input.count = 1;
            input.pictures[0] = {guest_keys, 10};
            send_message(guest, input, false);
        }
    };
    std::vector<cstep> steps = {
        {"the host", [&] { return main_host != nullptr && main_game != nullptr; },
         [&] {
             port = main_host->port();
             code = main_host->code();
             other_version = guests.knock(port, fingerprint + 1);
         }},
        {"another version's refusal",
         [&] { return guests.refused_for(other_version, net_refusal::other_version); },
         [&] { wrong_code = guests.knock(port, fingerprint); }},
        {"the wrong code's link", [&] { return connected(wrong_code); },
         [&] { hello(wrong_code, static_cast<std::uint16_t>((code + 1) % 10000)); }},
        {"the wrong code's refusal",
         [&] { return guests.refused_for(wrong_code, net_refusal::wrong_code); },
         [&] { guest = guests.knock(port, fingerprint); }},
        {"the guest's link", [&] { return connected(guest); }, [&] { hello(guest, code); }},
        {"the welcome", [&] { return guests.last<net_welcome>(guest) != nullptr; },
         [&] {
             EXPECT_EQ(guests.last<net_welcome>(guest)->field_width, 640);
             second = guests.knock(port, fingerprint);
         }},
        {"the second guest's link", [&] { return connected(second); },
         [&] { hello(second, code); }},
        {"the second guest's refusal",
         [&] { return guests.refused_for(second, net_refusal::seat_taken); },
         [&] {
             const std::vector<std::uint8_t> garbage = {0xff, 1, 2};
             for (int i = 0; i < 2; ++i)
                 os::net_send(guest, net_play_channel, garbage, os::net_delivery::reliable);
             for (std::uint8_t key : {os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN, os::DIK_RETURN})
                 press(key);
         }},
        {"the intro", [&] { return game_state() == game_intro; },
         [&] { guest_keys = net_key_space; }}, // the guest may leave the intro
        {"the field",
         [&] { return game_state() == game_serve_wait && main_game->serve_is_ready(); }, nullptr},
        // The host's serve is not the guest's to make: its SPACE held long enough to serve.
        {"frames with the guest's SPACE", [&] { return waited > 50; },
         [&] {
             EXPECT_EQ(game_state(), game_serve_wait);
             guest_keys = net_key_up;
             os::seam::press_key(main_window->hwnd, os::DIK_SPACE);
         }},
        {"the host's serve", [&] { return game_state() == game_in_play; },
         [&] {
             os::seam::release_key(main_window->hwnd, os::DIK_SPACE);
             send_message(guest, net_pause{net_pause_change::pause}, true);
         }},
        {"the guest's pause", [&] { return game_state() == game_paused; },
         [&] { send_message(guest, net_pause{net_pause_change::menu_opened}, true); }},
        {"the guest's menu in the states",
         [&] {
             const auto* state = guests.last<net_state>(guest);
             return state && state->menus == net_menu_guest &&
                    state->paused_by == net_pauser::guest;
         },
         [&] { press(os::DIK_P); }},
        {"frames after the host's P", [&] { return waited > 20; },
         [&] {
             EXPECT_EQ(game_state(), game_paused) << "the guest's menu holds the pause";
             send_message(guest, net_pause{net_pause_change::menu_closed}, true);
         }},
        {"the menu closed", [&] { return guests.last<net_state>(guest)->menus == 0; },
         [&] { press(os::DIK_P); }},
        {"play again", [&] { return game_state() == game_in_play; },
         [&] {
             EXPECT_GT(main_game->right->velocity, 0.0f) << "the guest's Up moves its paddle";
             guest_talks = false;
         }},
        // The guest falls silent: the next one with the code takes its seat at once.
        {"the silence", [&] { return waited > 150; },
         [&] {
             EXPECT_EQ(main_game->input->key_down(os::DIK_UP), 0)
                 << "a silent guest's Up is let go";
             back = guests.knock(port, fingerprint);
         }},
        {"the new guest's link", [&] { return connected(back); }, [&] { hello(back, code); }},
        {"the new guest's welcome", [&] { return guests.last<net_welcome>(back) != nullptr; },
         [&] { os::seam::request_close(main_window->hwnd); }},
    };
    host_with(steps);
    // The host said its leave to the guest it had last.
    for (int i = 0; i < 200 && !guests.last<net_leave>(back); ++i)
        guests.service(5);
    EXPECT_NE(guests.last<net_leave>(back), nullptr);
    const std::string log = read_log();
    for (const char* line :
         {" (net) refused 127.0.0.1:", ": another version of the game\n", ": a wrong code\n",
          ": the guest plays\n", " (net) paused by the guest\n", " (net) play goes on\n",
          " (net) the host left its guest\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    const auto lines_with = [&log](const std::string& text) {
        std::size_t count = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    };
    EXPECT_EQ(lines_with(" (net) the guest joined from "), 2u);
    EXPECT_EQ(lines_with(" (net) dropped a packet from "), 1u) << "garbage is said once";

    // The trace: a line of each of the host's frames and the wire's totals, in the fields
    // tools/net_figures.py reads; the guest's keys were taken up to its last input.
    EXPECT_EQ(lines_with(" (net) tracing to net.trace : OK\n"), 1u);
    std::ifstream trace("net.trace");
    std::size_t frames = 0, totals = 0;
    double applied = 0;
    long long last_totals = -1'000'000;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream words(line);
        long long at = -1;
        std::string side, kind;
        words >> at >> side >> kind;
        const std::vector<double> figures(std::istream_iterator<double>(words), {});
        const bool frame = kind == "frame" && figures.size() == 11;
        const bool wire = kind == "traffic" && figures.size() == 2;
        EXPECT_TRUE(at >= 0 && side == "host" && words.eof() && (frame || wire)) << line;
        frames += frame;
        totals += wire;
        if (wire) {
            EXPECT_GE(at - last_totals, 1'000'000) << "the totals once a second";
            last_totals = at;
        }
        applied = frame ? std::max(applied, figures[5]) : applied;
    }
    EXPECT_GT(frames, 100u);
    EXPECT_GT(totals, 0u);
    EXPECT_EQ(applied, sequence);
}

// The guest's side without a link: the host's states handed over as the network would, and the
// guest's frames with the game on a 640 x 480 field.
class guest_view_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        std::filesystem::create_directory_symlink(std::filesystem::path(BREVOX_SOURCE_DIR) / "data",
                                                  "data"); // the medals' voices
        ASSERT_NO_FATAL_FAILURE(start_game_in_focused_window());
        game = main_game;
        game->state = game_intro; // out of the guest's own menu
    }
    // The host's game in play at its frame `frame` (10 ms each), the ball flying right.
    static net_state host_state(std::uint32_t frame) {
        net_state state;
        state.frame = frame;
        state.time_ms = frame * 10;
        state.game_state = game_in_play;
        state.ball_x = 100.0f + 4.0f * static_cast<float>(frame);
        state.ball_y = 240;
        state.ball_vx = 6; // units a step: 4 units in 10 ms at speed 10
        state.ball_heading = 1;
        state.left_y = state.right_y = 240;
        state.speed = 10;
        state.field_width = 640;
        state.field_height = 480;
        return state;
    }
    cgame* game = nullptr;
    cguest guest;
};

// The guest's key moves its paddle in the frame that reads it, without waiting for the host;
// the host's word on where the paddle stood moves it by as much as the host differs.
TEST_F(guest_view_test, TheGuestsPaddleAnswersAtOnceAndTakesTheHostsWord) {
    float after_six[2] = {};
    for (const float host_differs : {0.0f, 30.0f}) {
        SCOPED_TRACE(host_differs);
        cguest fresh;
        fresh.take_state(host_state(1));
        fresh.frame(*game, 10);
        EXPECT_EQ(game->right->y, 240.0f);
        os::seam::press_key(main_window->hwnd, os::DIK_UP);
        fresh.frame(*game, 10); // the second picture
        EXPECT_GT(game->right->y, 240.0f) << "the key moves the paddle in the frame that reads it";
        const float y = game->right->y, velocity = game->right->velocity;
        for (int picture = 3; picture <= 5; ++picture)
            fresh.frame(*game, 10);
        const float before_the_word = game->right->y;
        net_state applied = host_state(2);
        applied.input_applied = 2;
        applied.right_y = y + host_differs;
        applied.right_velocity = velocity;
        fresh.take_state(applied);
        fresh.frame(*game, 10);
        after_six[host_differs != 0] = game->right->y;
        if (host_differs == 0) {
            EXPECT_GT(game->right->y, before_the_word)
                << "the keys the host had not applied yet push it on from the host's word";
        }
        os::seam::release_key(main_window->hwnd, os::DIK_UP);
        game->place_paddle(1, 240, 0);
    }
    EXPECT_FLOAT_EQ(after_six[1], after_six[0] + 30.0f);
}

// The host's ball is drawn where the host's game will have it when the keys read now reach it:
// run on from the newest state, it moves every frame by about its step, through lost states and
// a link that slows down, and a first measure far off is soon forgotten; at the guest's paddle it
// turns, or passes, by that paddle before the host says so.
TEST_F(guest_view_test, TheBallIsDrawnWhereTheHostWillJudgeItWithoutJumps) {
    const float step_per_5_ms = 6.0f * 5 * 10 * steps_per_ms_and_speed; // 2 units
    const std::uint32_t to_guest_ms = 20;
    const auto to_host_ms = [](std::uint32_t f) { return f < 30 ? 20u : 40u; };
    // The host's state at its frame f (10 ms each; one clock for both sides): the ball from x 300
    // at 0.4 units a ms, and the newest of the guest's pictures (one each 5 ms frame) it took.
    const auto state_at = [&](std::uint32_t f, float own_y) {
        net_state state = host_state(f);
        state.ball_x = 300.0f + 4.0f * static_cast<float>(f);
        state.right_y = own_y;
        state.input_applied = (10 * f - to_host_ms(f)) / 5;
        return state;
    };
    for (const float own_y : {240.0f, 60.0f}) {
        SCOPED_TRACE(own_y);
        cguest fresh;
        game->place_paddle(1, own_y, 0);
        game->ball->heading = 1;
        float last_x = 0;
        bool turned = false, passed = false;
        for (std::uint32_t k = 1; k <= 250 && !turned && !passed; ++k) {
            const std::uint32_t f = (5 * k - to_guest_ms) / 10;             // arriving now
            if (5 * k >= 10 + to_guest_ms && 5 * k % 10 == 0 && f % 5 != 3) // one in five lost
                fresh.take_state(state_at(f, own_y));
            if (k == 2) { // a first measure of the lead a second off, as after a long first frame
                net_state first = state_at(0, own_y);
                first.time_ms = 1000;
                first.input_applied = 1;
                fresh.take_state(first);
            }
            fresh.frame(*game, 5);
            const float x = game->ball->x;
            turned = game->ball->heading == 0;
            passed = x > 640 - ball_front - hit_band_near;
            const std::uint32_t lead = to_host_ms(f);
            if (k > 30 && !turned) {
                if (k < 60 || k > 120) {
                    EXPECT_NEAR(x, 300.0f + 0.4f * static_cast<float>(5 * k + lead), step_per_5_ms)
                        << "the host takes these keys then: frame " << k;
                }
                EXPECT_GT(x, last_x) << "frame " << k;
                EXPECT_LE(x - last_x, 2 * step_per_5_ms) << "frame " << k;
            }
            last_x = x;
        }
        EXPECT_EQ(turned, own_y == 240.0f) << "the paddle covers the ball, or stands away";
        EXPECT_EQ(passed, own_y == 60.0f);
    }
}

// A medal's voice sounds once for each medal the host awarded, however many states tell of it,
// and not for the medals before the guest joined.
TEST_F(guest_view_test, EachNewMedalIsVoicedOnce) {
    const std::uint64_t before = os::seam::buffers_started();
    net_state state = host_state(1);
    state.game_state = game_serve_wait;
    state.medal_kind = medal_ace;
    state.medal_shown = true;
    state.medals_awarded = 5;
    guest.take_state(state);
    guest.frame(*game, 10);
    EXPECT_EQ(os::seam::buffers_started(), before) << "the medals before the join";
    for (std::uint32_t frame = 2; frame <= 4; ++frame) {
        state = host_state(frame);
        state.game_state = game_serve_wait;
        state.medal_kind = medal_ace;
        state.medals_awarded = 6;
        guest.take_state(state);
        guest.frame(*game, 10);
    }
    EXPECT_EQ(os::seam::buffers_started(), before + 1);
}

} // namespace
