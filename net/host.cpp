#include "net/host.h"

#include "base/log.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "os/clock.h"
#include "os/keys.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

namespace {

// The host's states go out this often: 100 a second, or once a frame below 100 frames a second.
constexpr std::uint32_t state_interval_ms = 10;
// A guest unheard this long is away: a guest that comes back with the code meanwhile takes its
// seat back at once, before the old link has timed out.
constexpr std::uint32_t silence_ms = 1000;
// The host's links: the guest, a guest coming back before the old link timed out, and others
// being turned away; a refused link is ended this long after its refusal.
constexpr std::size_t peer_slots = 8;
constexpr std::uint32_t refused_linger_ms = 1500;
// The local network's queries are read this often: a guest waits half a second for an answer.
constexpr std::uint32_t queries_every_ms = 50;

cvar_handle field_width("clwidth");
cvar_handle field_height("clheight");

net_state state_of(const cgame& game, std::uint64_t frame, std::uint64_t time_ms) {
    const cshown shown = game.shown();
    net_state state;
    state.frame = static_cast<std::uint32_t>(frame);
    state.time_ms = static_cast<std::uint32_t>(time_ms);
    state.game_state = static_cast<std::uint8_t>(shown.state);
    state.server = static_cast<std::uint8_t>(shown.server);
    state.ball_x = shown.ball_x;
    state.ball_y = shown.ball_y;
    state.ball_vx = shown.ball_vx;
    state.ball_vy = shown.ball_vy;
    state.ball_heading = static_cast<std::uint8_t>(shown.heading);
    state.left_y = shown.left_y;
    state.left_velocity = shown.left_velocity;
    state.right_y = shown.right_y;
    state.right_velocity = shown.right_velocity;
    state.left_score = static_cast<std::uint16_t>(std::min(shown.left_score, 65535));
    state.right_score = static_cast<std::uint16_t>(std::min(shown.right_score, 65535));
    state.medal_shown = shown.medal_shown != 0;
    state.medal_kind = static_cast<std::uint8_t>(shown.medal_kind);
    state.medals_awarded = static_cast<std::uint8_t>(shown.medals_awarded);
    state.speed = shown.speed;
    return state;
}

} // namespace

void cguest_hands::hold_keys(std::uint8_t (&keys)[256], std::uint32_t) {
    const bool their_serve = game.state == game_serve_wait && game.server == 1;
    if (!present) {
        if (game.state == game_serve_wait)
            keys[os::DIK_SPACE] = 0; // nobody serves to an empty seat
        return;
    }
    if (held & net_key_up)
        hold_key(keys, game.right->up_key);
    if (held & net_key_down)
        hold_key(keys, game.right->down_key);
    if ((space_since_last || (held & net_key_space)) &&
        (game.state == game_intro || their_serve))
        hold_key(keys, os::DIK_SPACE);
    space_since_last = false;
}

chost::~chost() { close(); }

bool chost::open(std::uint16_t port, std::string& error) {
    if (!os::net_initialize()) {
        error = "the network cannot be started";
        return false;
    }
    started_net = true;
    const os::net_address bind_to{os::net_ipv4_any, port};
    host = os::net_host_create(&bind_to, peer_slots, net_channels);
    if (!host) {
        error = "port " + std::to_string(port) + " cannot be opened (another program has it?)";
        close();
        return false;
    }
    host_port = port != 0 ? port : os::net_host_address(host).port; // 0: the system's choice
    finder = os::net_socket_open(static_cast<std::uint16_t>(host_port + 1), false);
    std::random_device random;
    join_code = static_cast<std::uint16_t>(random() % 10000);
    return true;
}

void chost::start(cgame& played) {
    game = &played;
    auto seated = std::make_unique<cguest_hands>(played);
    hands = seated.get();
    main_seating.seat(1, std::move(seated));
    const std::vector<os::net_address> addresses = os::net_local_addresses();
    std::string address = addresses.empty() ? "127.0.0.1" : os::net_address_text(addresses[0]);
    address = address.substr(0, address.find(':'));
    std::string port_part; // GCC 12 warns of ":" + std::string in an optimised build
    if (host_port != net_default_port)
        port_part.append(":").append(std::to_string(host_port));
    join_line = "brevox --join " + address + port_part + " --code " + code_text(join_code);
    log_printf(main_log, "+ hosting a network game on port %u, code %s\n",
               static_cast<unsigned>(host_port), code_text(join_code).c_str());
    log_printf(main_log, " (net) a guest joins with: %s\n", join_line.c_str());
    log_printf(main_log, " (net) answering on the local network on port %u : %s\n",
               static_cast<unsigned>(host_port + 1), finder ? "OK" : "FAILED");
    trace.open("host");
    std::printf("brevox: hosting; join with: %s\n", join_line.c_str());
    std::fflush(stdout);
    away_notice = "Waiting for a guest: " + join_line;
    set_notice(away_notice);
}

void chost::set_notice(std::string_view text) {
    if (notice != text)
        notice = text;
    screen_notice = notice.empty() ? nullptr : notice.c_str();
}

os::net_traffic chost::traffic() const { return os::net_host_traffic(host); }

bool chost::guest_is_live() const {
    return guest != 0 && time_ms - guest_heard_ms < silence_ms;
}

void chost::send(os::hnetpeer peer, const net_message& message, bool reliable) {
    send_message(peer, message, reliable);
}

void chost::refuse(os::hnetpeer peer, net_refusal reason, const char* why) {
    log_printf(main_log, " (net) refused %s: %s\n",
               os::net_address_text(os::net_peer_address(peer)).c_str(), why);
    send(peer, net_refused{reason, brevox_version}, true);
    // The refused side ends the link once it has read why; a disconnect sent now could overtake
    // a resent refusal on a lossy link, so it follows a little later.
    refused_peers.push_back({peer, time_ms + refused_linger_ms});
}

void chost::end_refused_links() {
    while (!refused_peers.empty() && refused_peers.front().until_ms <= time_ms) {
        os::net_disconnect(refused_peers.front().peer, 0);
        refused_peers.pop_front();
    }
}

void chost::before_frame(std::uint32_t frame_ms) {
    if (!host || !game)
        return;
    const std::int64_t began = trace.on() ? os::monotonic_us() : 0;
    const std::int64_t began_cpu = trace.on() ? os::thread_cpu_us() : 0;
    time_ms += frame_ms;
    os::net_event event;
    for (int heard = 0; heard < events_per_frame && os::net_service(host, event, 0) > 0; ++heard) {
        switch (event.kind) {
        case os::net_event_kind::connect:
            on_connect(event);
            break;
        case os::net_event_kind::receive:
            on_receive(event);
            break;
        case os::net_event_kind::disconnect:
        case os::net_event_kind::timeout:
            std::erase_if(refused_peers, [&](const crefused& r) { return r.peer == event.peer; });
            if (event.peer == guest && event.kind == os::net_event_kind::disconnect)
                guest_gone("the guest left", "The other player left"); // it said so, or no more
            else if (event.peer == guest)
                guest_gone("the guest's link went silent", "The guest's link went silent");
            break;
        default:
            break;
        }
    }
    if (guest && !guest_is_live())
        hands->held = 0; // a guest unheard holds no key down
    if (time_ms >= next_queries_ms) {
        next_queries_ms = time_ms + queries_every_ms;
        answer_queries();
    }
    end_refused_links();
    hold_pause();
    say_who_holds_play();
    if (trace.on()) {
        frame_began_us = began;
        before_us = os::monotonic_us() - began;
        before_cpu_us = os::thread_cpu_us() - began_cpu;
    }
}

// The line over the field: where the guest is, or who holds play.
void chost::say_who_holds_play() {
    if (!guest)
        set_notice(away_notice);
    else if (guest_menu)
        set_notice("The guest is in the menu");
    else if (paused_by == net_pauser::guest)
        set_notice("Paused by the guest");
    else if (paused_by == net_pauser::host)
        set_notice("Paused by the host");
    else
        set_notice("");
}

void chost::on_connect(const os::net_event& event) {
    os::net_set_peer_timeout(event.peer, 0, peer_timeout_ms, peer_timeout_ms, peer_ping_ms);
    if (event.data != protocol_fingerprint(brevox_version))
        refuse(event.peer, net_refusal::other_version, "another version of the game");
}

void chost::on_receive(const os::net_event& event) {
    net_message message;
    std::string error;
    if (!decode_message(event.bytes, message, error)) {
        if (dropped++ == 0)
            log_printf(main_log, " (net) dropped a packet from %s [%s]\n",
                       os::net_address_text(os::net_peer_address(event.peer)).c_str(),
                       error.c_str());
        return;
    }
    if (const auto* hello = std::get_if<net_hello>(&message)) {
        on_hello(event.peer, *hello);
        return;
    }
    if (event.peer != guest)
        return; // only the guest plays
    guest_heard_ms = time_ms;
    if (const auto* input = std::get_if<net_input>(&message))
        on_input(*input);
    else if (const auto* pause = std::get_if<net_pause>(&message))
        on_pause(*pause);
    else if (std::holds_alternative<net_leave>(message))
        guest_gone("the guest left", "The other player left");
}

void chost::on_hello(os::hnetpeer peer, const net_hello& hello) {
    if (peer == guest)
        return;
    if (hello.version != brevox_version) {
        refuse(peer, net_refusal::other_version, ("version " + hello.version).c_str());
        return;
    }
    if (hello.code != join_code) {
        refuse(peer, net_refusal::wrong_code, "a wrong code");
        return;
    }
    if (guest_is_live()) {
        refuse(peer, net_refusal::seat_taken, "the guest plays");
        return;
    }
    if (guest) // silent: the same person back, before the old link timed out
        os::net_reset(guest);
    guest = peer;
    guest_name = os::net_address_text(os::net_peer_address(peer));
    guest_heard_ms = time_ms;
    guest_menu = false;
    input_applied = 0;
    hands->present = true;
    hands->held = 0;
    net_welcome welcome;
    welcome.version = brevox_version;
    welcome.field_width = static_cast<std::uint16_t>(field_width.value());
    welcome.field_height = static_cast<std::uint16_t>(field_height.value());
    welcome.speed = game->speed;
    welcome.left_score = static_cast<std::uint16_t>(std::min(game->left->score, 65535));
    welcome.right_score = static_cast<std::uint16_t>(std::min(game->right->score, 65535));
    send(peer, welcome, true);
    log_printf(main_log, " (net) the guest joined from %s\n", guest_name.c_str());
}

void chost::on_input(const net_input& input) {
    if (input.sequence <= input_applied)
        return; // an older packet, overtaken
    const std::uint32_t fresh = std::min<std::uint32_t>(input.sequence - input_applied, input.count);
    for (std::uint32_t i = 0; i < fresh; ++i)
        hands->space_since_last |= (input.pictures[i].keys & net_key_space) != 0;
    hands->held = input.pictures[0].keys;
    input_applied = input.sequence;
}

void chost::on_pause(const net_pause& pause) {
    switch (pause.what) {
    case net_pause_change::pause:
        if (game->state == game_in_play) {
            key_down(vk_p, false);
            paused_by = net_pauser::guest;
        }
        break;
    case net_pause_change::resume:
        if (game->state == game_paused && !guest_menu)
            key_down(vk_p, false);
        break;
    case net_pause_change::menu_opened:
        guest_menu = true;
        break;
    case net_pause_change::menu_closed:
        guest_menu = false;
        break;
    }
}

void chost::guest_gone(const char* what, const char* said) {
    log_printf(main_log, " (net) %s\n", what);
    if (guest)
        os::net_reset(guest);
    guest = 0;
    guest_menu = false;
    hands->present = false;
    hands->held = 0;
    away_notice = std::string(said) + ": waiting for a guest (code " + code_text(join_code) + ")";
}

// Play stops while the guest is away or its menu is open: the session presses P, as a player
// would, so that a replay of the match holds the pause too. A P of the host's that resumes play
// meanwhile is undone before the frame moves anything.
void chost::hold_pause() {
    if (game->state == game_in_play && (guest == 0 || guest_menu)) {
        key_down(vk_p, false);
        paused_by = net_pauser::guest;
    }
    if (game->state == game_paused && last_state == game_in_play &&
        paused_by == net_pauser::none)
        paused_by = net_pauser::host; // the host's own P
    if (game->state != game_paused)
        paused_by = net_pauser::none;
    if (paused_by != said_paused_by) {
        log_printf(main_log, " (net) %s\n",
                   paused_by == net_pauser::guest  ? "paused by the guest"
                   : paused_by == net_pauser::host ? "paused by the host"
                                                   : "play goes on");
        said_paused_by = paused_by;
    }
    last_state = game->state;
}

void chost::answer_queries() {
    if (!finder)
        return;
    os::net_address from;
    std::vector<std::uint8_t> bytes;
    while (os::net_socket_receive(finder, from, bytes, 0) > 0) {
        net_query query;
        std::string error;
        if (!decode_query(bytes, query, error) || query.code != join_code)
            continue;
        std::vector<std::uint8_t> answer;
        if (encode_answer(net_answer{net_protocol_version, host_port}, answer, error))
            os::net_socket_send_to(finder, from, answer);
    }
}

void chost::after_frame(std::uint32_t frame_ms) {
    if (!host || !game)
        return;
    const std::int64_t began = trace.on() ? os::monotonic_us() : 0;
    const std::int64_t began_cpu = trace.on() ? os::thread_cpu_us() : 0;
    send_state(frame_ms);
    if (trace.on())
        trace_frame(frame_ms, os::monotonic_us() - began, os::thread_cpu_us() - began_cpu);
}

// The frame as the host's game judged it, and the session's own time in it: wall-clock and the
// thread's CPU time.
void chost::trace_frame(std::uint32_t frame_ms, std::int64_t after_us, std::int64_t after_cpu_us) {
    trace.frame(frame_began_us, "%u %lld %lld %lld %lld %u %d %d %.2f %.2f %.2f",
                static_cast<unsigned>(frame_ms), static_cast<long long>(before_us),
                static_cast<long long>(after_us), static_cast<long long>(before_cpu_us),
                static_cast<long long>(after_cpu_us), static_cast<unsigned>(input_applied),
                static_cast<int>(game->state), static_cast<int>(game->ball->heading),
                static_cast<double>(game->ball->x), static_cast<double>(game->ball->y),
                static_cast<double>(game->right->y));
    trace.traffic(frame_began_us, host);
}

void chost::send_state(std::uint32_t frame_ms) {
    ++frames;
    since_state_ms += frame_ms;
    if (!guest || since_state_ms < state_interval_ms)
        return;
    since_state_ms = 0;
    net_state state = state_of(*game, frames, time_ms);
    state.input_applied = input_applied;
    state.field_width = static_cast<std::uint16_t>(field_width.value());
    state.field_height = static_cast<std::uint16_t>(field_height.value());
    state.paused_by = paused_by;
    state.menus = static_cast<std::uint8_t>((game->state == game_menu ? net_menu_host : 0) |
                                            (guest_menu ? net_menu_guest : 0));
    send(guest, state, false);
    os::net_flush(host);
}

void chost::close() {
    trace.close();
    if (host) {
        if (guest) {
            send(guest, net_leave{}, true);
            os::net_disconnect(guest, 0);
            os::net_event event;
            for (int i = 0; i < 50 && os::net_service(host, event, 20) >= 0; ++i)
                if (event.kind == os::net_event_kind::disconnect && event.peer == guest)
                    break;
            log_printf(main_log, " (net) the host left its guest\n");
        }
        if (dropped)
            log_printf(main_log, " (net) %llu packets were no message and were dropped\n",
                       static_cast<unsigned long long>(dropped));
        os::net_host_destroy(host);
        host = 0;
    }
    if (finder)
        os::net_socket_close(finder);
    finder = 0;
    guest = 0;
    if (screen_notice == notice.c_str())
        screen_notice = nullptr;
    if (started_net)
        os::net_shutdown();
    started_net = false;
}

