// Network play between two machines over ENet. The host runs the one game, by the same rules as
// at one machine, and plays the left paddle; its guest joins with the host's join code and plays
// the right one. The guest's keys reach the host's game as the keys of hands seated at the right
// paddle, so the rules never learn who holds it, and a host's replay records them like any
// other. The guest runs none of the rules but its own paddle's, so that the paddle answers its
// keys at once, and draws the host's state for the rest (see docs/network.md). Main thread only.
#pragma once

#include "game/game.h"
#include "net/protocol.h"
#include "os/net.h"
#include "platform/input.h"

#include <cstdint>
#include <deque>
#include <string>

// The game's port; the next one answers the queries of guests looking on the local network.
inline constexpr std::uint16_t net_default_port = 28777;
// The channels: control messages (hello, welcome, refused, pause, leave), reliable; keys and
// states, unsequenced, every frame.
inline constexpr std::uint8_t net_control_channel = 0;
inline constexpr std::uint8_t net_play_channel = 1;
inline constexpr std::size_t net_channels = 2;

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
    void set_notice(const std::string& text);
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
};

// Where and how a guest joins.
struct cjoin_settings {
    std::string host_name; // empty: look on the local network
    std::uint16_t port = net_default_port;
    std::uint16_t code = 0;
    os::net_address broadcast{os::net_ipv4_broadcast, 0}; // where to look; port: the game's + 1
};

class cguest : public ckey_source {
public:
    cguest() = default;
    cguest(const cguest&) = delete;
    cguest& operator=(const cguest&) = delete;
    ~cguest() override;

    // Finds the host (on the local network when no name is given) and joins it, within 5 s.
    // False with what to tell the person.
    bool join(const cjoin_settings& settings, std::string& error);
    // Once the game exists: says where it joined.
    void start();
    // Instead of the game's frame: the network heard, the own paddle moved by the keys, the
    // host's state shown; a lost link is joined again every few seconds.
    void frame(cgame& game, std::uint32_t frame_ms);
    // Tells the host that the guest leaves, and closes.
    void close();

    void hold_keys(std::uint8_t (&)[256], std::uint32_t) override {}
    // P asks the host to pause or go on; the other keys act here (ESCAPE opens this side's
    // menu, which holds the host's pause until it closes).
    bool heard_key(std::uint32_t vk, bool repeat) override;

    bool linked() const { return peer != 0 && welcomed; }
    os::net_traffic traffic() const;

private:
    struct cpicture {
        std::uint32_t sequence;
        std::uint8_t keys;
        std::uint8_t frame_ms;
    };
    struct cheard {
        net_state state;
        std::uint64_t at_ms; // this side's time when it arrived
    };

    bool wait_for_welcome(std::uint32_t within_ms, std::string& error);
    bool find_host(std::string& error);
    void connect();
    void service(cgame& game);
    void on_receive(cgame& game, const os::net_event& event);
    void link_lost(const char* why);
    void send_input(cgame& game, std::uint8_t keys, std::uint32_t frame_ms);
    void send(const net_message& message, bool reliable);
    void reconcile(cgame& game, const net_state& state);
    cshown shown_now() const;
    void show_notice(const net_state& state);

    cjoin_settings settings;
    os::net_address host_address{};
    os::hnethost client = 0;
    os::hnetpeer peer = 0;
    bool welcomed = false;
    bool started_net = false;
    std::string refusal;
    std::uint64_t time_ms = 0;        // the sum of this side's frame lengths
    std::uint64_t next_try_ms = 0;    // of a rejoin
    std::uint32_t sequence = 0;
    std::deque<cpicture> pictures;    // sent and not yet applied by the host, newest last
    std::deque<cheard> heard;         // the newest states, oldest first
    bool new_state = false;
    std::int32_t last_game_state = game_menu;
    bool menu_said = false;
    bool pause_asked = false;
    net_pause_change asked = net_pause_change::pause;
    std::string notice;
    std::string line;
    std::uint64_t dropped = 0;
};

// The join code's text: four digits.
std::string code_text(std::uint16_t code);
