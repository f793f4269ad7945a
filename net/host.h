// The host's side of network play: the port, the join code, the guest's hands at the right
// paddle, and the states sent to the guest. Main thread only.
#pragma once

#include "game/game.h"
#include "net/protocol.h"
#include "net/session.h"
#include "net/trace.h"
#include "os/net.h"
#include "platform/input.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// The guest's keys at the host: the right paddle's up and down keys as the guest holds them, and
// SPACE only where the guest's SPACE acts (the intro, its own serve). Without a guest nobody
// serves.
class cguest_hands : public ckey_source {
public:
    explicit cguest_hands(const cgame& played) : game(played) {}
    void hold_keys(std::uint8_t (&keys)[256], std::uint32_t frame_ms) override;
    bool at_this_machine() const override { return false; }

    std::uint8_t held = 0;        // net_key_* bits of the newest picture
    bool space_since_last = false; // a SPACE in any picture since the last frame
    bool present = false;          // a guest is linked
private:
    const cgame& game;
};

class chost {
public:
    chost() = default;
    chost(const chost&) = delete;
    chost& operator=(const chost&) = delete;
    ~chost();

    // Opens the port and the next one, and draws the join code. False with the reason.
    bool open(std::uint16_t port, std::string& error);
    // Once the game exists: the guest's hands sit at the right paddle; the join line goes to the
    // log and the screen.
    void start(cgame& game);
    // Before the game's frame: joins, keys, pauses and leaves from the network, queries from the
    // local network; a pause the players want reaches the game as the key P.
    void before_frame(std::uint32_t frame_ms);
    // After it: the state at its rate.
    void after_frame(std::uint32_t frame_ms);
    // Tells a guest that the host leaves, and closes.
    void close();

    std::uint16_t code() const { return join_code; }
    std::uint16_t port() const { return host_port; }
    // What went on the wire (for the benchmark).
    os::net_traffic traffic() const;

private:
    void send_state(std::uint32_t frame_ms);
    void trace_frame(std::uint32_t frame_ms, std::int64_t after_us, std::int64_t after_cpu_us);
    void on_connect(const os::net_event& event);
    void on_receive(const os::net_event& event);
    void on_hello(os::hnetpeer peer, const net_hello& hello);
    void on_input(const net_input& input);
    void on_pause(const net_pause& pause);
    void guest_gone(const char* what, const char* notice);
    void refuse(os::hnetpeer peer, net_refusal reason, const char* why);
    void end_refused_links();
    void send(os::hnetpeer peer, const net_message& message, bool reliable);
    void answer_queries();
    void hold_pause();
    void say_who_holds_play();
    void set_notice(std::string_view text);
    bool guest_is_live() const;

    os::hnethost host = 0;
    os::hnetsocket finder = 0;
    std::uint16_t host_port = 0;
    std::uint16_t join_code = 0;
    std::string join_line;
    cgame* game = nullptr;
    cguest_hands* hands = nullptr; // the seating owns them
    os::hnetpeer guest = 0;
    std::string guest_name;
    bool guest_menu = false;
    net_pauser paused_by = net_pauser::none;
    net_pauser said_paused_by = net_pauser::none; // in the log
    std::int32_t last_state = game_menu;
    std::uint32_t input_applied = 0;
    std::uint64_t time_ms = 0;       // the game time of the host's frames
    std::uint64_t guest_heard_ms = 0; // when the guest was last heard, in that time
    std::uint64_t next_queries_ms = 0; // when the local network's queries are read next
    std::uint64_t frames = 0;
    std::uint32_t since_state_ms = 0;
    std::uint64_t dropped = 0; // packets that were no message of ours
    struct crefused {
        os::hnetpeer peer;
        std::uint64_t until_ms;
    };
    std::deque<crefused> refused_peers;
    std::string notice;
    std::string away_notice; // while no guest plays
    bool started_net = false;
    cnet_trace trace;
    std::int64_t frame_began_us = 0; // with the trace on: when before_frame began
    std::int64_t before_us = 0;      // and how long it took
    std::int64_t before_cpu_us = 0;  // and the thread's CPU time in it
};
