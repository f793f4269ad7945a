// The guest's side of network play: finding and joining the host, its own paddle moved at once,
// the host's states drawn between one another, and joining again when the link went. Main
// thread only.
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
    // A state from the host, as the network hands it over; an older one than the newest is
    // dropped.
    void take_state(const net_state& state);

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
        std::uint64_t read_ms; // this side's time when it was read
        float paddle_y;        // the own paddle once these keys moved it
        float paddle_velocity;
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
    void remember_picture(std::uint8_t keys, std::uint32_t frame_ms);
    void send_input(const cgame& game);
    void send(const net_message& message, bool reliable);
    void reconcile(cgame& game, const net_state& state);
    void follow_lead(std::uint32_t frame_ms);
    std::int64_t host_time_ahead() const;
    cshown shown_now() const;
    void run_ball_on(cshown& shown, const net_state& from, std::int64_t to_ms) const;
    void show_notice(const net_state& state);
    void trace_frame(const cgame& game, std::int64_t read_at_us, std::uint8_t keys);

    cjoin_settings settings;
    os::net_address host_address{};
    std::string host_text; // its address as the log and the field say it
    os::hnethost client = 0;
    os::hnetpeer peer = 0;
    bool welcomed = false;
    bool started_net = false;
    std::string refusal;
    std::uint64_t time_ms = 0;     // the sum of this side's frame lengths
    std::uint64_t next_try_ms = 0; // of a rejoin
    std::uint32_t sequence = 0;
    std::deque<cpicture> pictures; // sent and not yet applied by the host, newest last
    std::deque<cheard> heard;      // the newest states, oldest first
    // How much later the host's game takes a picture of keys than this side read it, in each
    // side's time: the newest few measures and their median, taken as each arrives, and the lead
    // the ball is shown by, which follows the median a little each frame.
    std::deque<std::int64_t> leads;
    double lead_median = 0;
    double lead_ms = 0;
    bool lead_known = false;
    bool new_state = false;
    bool menu_said = false;
    std::string notice;
    std::string line;
    std::uint64_t dropped = 0;
    cnet_trace trace;
};

// A join without a code (the desktop's "Join a game on this network"): the person types the
// host's four digits in the game's window, which plays on meanwhile; Backspace takes one back,
// Enter after the fourth asks for the game. The other keys act as ever.
class ccode_entry : public ckey_source {
public:
    ccode_entry() { show(); }
    void hold_keys(std::uint8_t (&)[256], std::uint32_t) override {}
    bool heard_key(std::uint32_t vk, bool repeat) override;
    // The code once Enter came after four digits, for one call; -1 otherwise.
    std::int32_t take_code();
    // After a join that failed (the log says why): the digits typed again.
    void failed();
    // The line over the field.
    const char* line() const { return text.c_str(); }

private:
    void show();

    std::string typed;
    std::string why;
    bool entered = false;
    std::string text;
};
