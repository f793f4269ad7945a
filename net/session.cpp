#include "net/session.h"

#include "base/log.h"
#include "base/loop_request.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "os/keys.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// The host's states go out this often: 100 a second, or once a frame below 100 frames a second.
constexpr std::uint32_t state_interval_ms = 10;
// A link unheard this long is silent: the peers' timeouts end it (within 5 s), and a guest that
// comes back with the code meanwhile takes its seat back at once.
constexpr std::uint32_t silence_ms = 1000;
constexpr std::uint32_t peer_timeout_ms = 3000;
constexpr std::uint32_t peer_ping_ms = 500;
// A guest joins within this, or says the host cannot be reached; it tries again this often once
// the link went.
constexpr std::uint32_t join_within_ms = 5000;
constexpr std::uint32_t rejoin_every_ms = 3000;
// Looking on the local network: the queries, this often, for this long.
constexpr std::uint32_t query_every_ms = 500;
constexpr std::uint32_t look_for_ms = 3000;
// The guest shows the host's game this far behind the newest state it could have, so that a
// state arriving late or lost is drawn between its neighbours; beyond the newest it runs the
// ball on for at most this long.
constexpr std::uint32_t show_behind_ms = 15;
constexpr std::uint32_t run_on_ms = 50;
// States kept for drawing between them, and pictures kept for the host to acknowledge.
constexpr std::size_t states_kept = 32;
constexpr std::size_t pictures_kept = 256;
constexpr std::uint32_t vk_p = 'P';
// The host's links: the guest, a guest coming back before the old link timed out, and others
// being turned away; a refused link is ended this long after its refusal.
constexpr std::size_t peer_slots = 8;
constexpr std::uint32_t refused_linger_ms = 1500;

// The host's field is the one the guest draws (scaled to its window); set when it changed, as
// each change is logged.
void apply_to_settings_field(std::uint16_t width, std::uint16_t height) {
    if (!main_cvars)
        return;
    if (main_cvars->get_int("clwidth") != width)
        main_cvars->set_int("clwidth", width);
    if (main_cvars->get_int("clheight") != height)
        main_cvars->set_int("clheight", height);
}

std::uint8_t clamp_byte(std::uint32_t value) {
    return static_cast<std::uint8_t>(std::clamp<std::uint32_t>(value, 1, 255));
}

bool encode(const net_message& message, std::vector<std::uint8_t>& bytes) {
    std::string error;
    if (encode_message(message, bytes, error))
        return true;
    log_printf(main_log, " (net) not sent [%s]\n", error.c_str());
    return false;
}

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

cshown shown_of(const net_state& state) {
    cshown shown;
    shown.state = state.game_state;
    shown.server = state.server;
    shown.ball_x = state.ball_x;
    shown.ball_y = state.ball_y;
    shown.ball_vx = state.ball_vx;
    shown.ball_vy = state.ball_vy;
    shown.heading = state.ball_heading;
    shown.left_y = state.left_y;
    shown.left_velocity = state.left_velocity;
    shown.right_y = state.right_y;
    shown.right_velocity = state.right_velocity;
    shown.left_score = state.left_score;
    shown.right_score = state.right_score;
    shown.medal_shown = state.medal_shown ? 1 : 0;
    shown.medal_kind = state.medal_kind;
    shown.medals_awarded = state.medals_awarded;
    shown.speed = state.speed;
    return shown;
}

const char* refusal_text(net_refusal reason) {
    switch (reason) {
    case net_refusal::wrong_code:
        return "the code is not its game's";
    case net_refusal::seat_taken:
        return "another guest plays there";
    default:
        return "it runs another version";
    }
}

bool in_play_or_serving(std::int32_t state) {
    return state == game_serve_wait || state == game_in_play || state == game_point;
}

} // namespace

std::string code_text(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "%04u", static_cast<unsigned>(code));
    return text;
}

// --- The guest's hands at the host ---------------------------------------------------------

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

// --- The host ------------------------------------------------------------------------------

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
    host_port = port;
    finder = os::net_socket_open(static_cast<std::uint16_t>(port + 1), false);
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
    const std::string port_part =
        host_port == net_default_port ? "" : ":" + std::to_string(host_port);
    join_line = "brevox --join " + address + port_part + " --code " + code_text(join_code);
    log_printf(main_log, "+ hosting a network game on port %u, code %s\n",
               static_cast<unsigned>(host_port), code_text(join_code).c_str());
    log_printf(main_log, " (net) a guest joins with: %s\n", join_line.c_str());
    log_printf(main_log, " (net) answering on the local network on port %u : %s\n",
               static_cast<unsigned>(host_port + 1), finder ? "OK" : "FAILED");
    std::printf("brevox: hosting; join with: %s\n", join_line.c_str());
    std::fflush(stdout);
    away_notice = "Waiting for a guest: " + join_line;
    set_notice(away_notice);
}

void chost::set_notice(const std::string& text) {
    if (text != notice)
        notice = text;
    screen_notice = notice.empty() ? nullptr : notice.c_str();
}

os::net_traffic chost::traffic() const { return os::net_host_traffic(host); }

bool chost::guest_is_live() const {
    return guest != 0 && time_ms - guest_heard_ms < silence_ms;
}

void chost::send(os::hnetpeer peer, const net_message& message, bool reliable) {
    std::vector<std::uint8_t> bytes;
    if (peer && encode(message, bytes))
        os::net_send(peer, reliable ? net_control_channel : net_play_channel, bytes,
                     reliable ? os::net_delivery::reliable : os::net_delivery::unsequenced);
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
    time_ms += frame_ms;
    os::net_event event;
    while (os::net_service(host, event, 0) > 0) {
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
    answer_queries();
    end_refused_links();
    hold_pause();
    say_who_holds_play();
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
    welcome.field_width = static_cast<std::uint16_t>(main_cvars->get_int("clwidth"));
    welcome.field_height = static_cast<std::uint16_t>(main_cvars->get_int("clheight"));
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
    ++frames;
    since_state_ms += frame_ms;
    if (!guest || since_state_ms < state_interval_ms)
        return;
    since_state_ms = 0;
    net_state state = state_of(*game, frames, time_ms);
    state.input_applied = input_applied;
    state.field_width = static_cast<std::uint16_t>(main_cvars->get_int("clwidth"));
    state.field_height = static_cast<std::uint16_t>(main_cvars->get_int("clheight"));
    state.paused_by = paused_by;
    state.menus = static_cast<std::uint8_t>((game->state == game_menu ? net_menu_host : 0) |
                                            (guest_menu ? net_menu_guest : 0));
    send(guest, state, false);
    os::net_flush(host);
}

void chost::close() {
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

// --- The guest -----------------------------------------------------------------------------

cguest::~cguest() { close(); }

os::net_traffic cguest::traffic() const { return os::net_host_traffic(client); }

bool cguest::join(const cjoin_settings& wanted, std::string& error) {
    settings = wanted;
    if (!os::net_initialize()) {
        error = "the network cannot be started";
        return false;
    }
    started_net = true;
    client = os::net_host_create(nullptr, 1, net_channels);
    if (!client) {
        error = "the network cannot be used";
        return false;
    }
    if (settings.host_name.empty()) {
        if (!find_host(error))
            return false;
    } else {
        host_address.port = settings.port;
        if (!os::net_resolve(settings.host_name.c_str(), host_address)) {
            error = "the host " + settings.host_name + " is not known";
            return false;
        }
    }
    connect();
    return wait_for_welcome(join_within_ms, error);
}

bool cguest::find_host(std::string& error) {
    const os::hnetsocket socket = os::net_socket_open(0, true);
    if (!socket) {
        error = "cannot look on the local network (no socket)";
        return false;
    }
    os::net_address to = settings.broadcast;
    to.port = static_cast<std::uint16_t>(settings.port + 1);
    std::vector<std::uint8_t> query;
    encode_query(net_query{net_protocol_version, settings.code}, query, error);
    std::string other;
    bool found = false;
    for (std::uint32_t waited = 0; !found && waited < look_for_ms; waited += query_every_ms) {
        os::net_socket_send_to(socket, to, query);
        os::net_address from;
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t slice = 0; !found && slice < query_every_ms; slice += 50) {
            net_answer answer;
            if (os::net_socket_receive(socket, from, bytes, 50) <= 0 ||
                !decode_answer(bytes, answer, error))
                continue;
            if (answer.protocol != net_protocol_version) {
                other = "a host of another version answered (protocol " +
                        std::to_string(answer.protocol) + ")";
                continue;
            }
            host_address = {from.ipv4, answer.port};
            found = true;
        }
    }
    os::net_socket_close(socket);
    if (!found)
        error = !other.empty() ? other
                               : "no game with code " + code_text(settings.code) +
                                     " answered on the local network (" +
                                     os::net_address_text(to) + ")";
    return found;
}

void cguest::connect() {
    welcomed = false;
    peer = os::net_connect(client, host_address, net_channels, protocol_fingerprint(brevox_version));
    if (peer)
        os::net_set_peer_timeout(peer, 0, peer_timeout_ms, peer_timeout_ms, peer_ping_ms);
}

bool cguest::wait_for_welcome(std::uint32_t within_ms, std::string& error) {
    const std::string where = os::net_address_text(host_address);
    for (std::uint32_t waited = 0; peer && !welcomed && refusal.empty() && waited < within_ms;
         waited += 50) {
        os::net_event event;
        if (os::net_service(client, event, 50) <= 0)
            continue;
        if (event.kind == os::net_event_kind::connect) {
            send(net_hello{brevox_version, settings.code}, true);
            os::net_flush(client);
        } else if (event.kind == os::net_event_kind::receive) {
            net_message message;
            std::string ignored;
            if (!decode_message(event.bytes, message, ignored))
                continue;
            if (const auto* refused = std::get_if<net_refused>(&message))
                refusal = refused->reason == net_refusal::other_version
                              ? "the host at " + where + " runs brevox " + refused->version +
                                    ", this is " + brevox_version
                              : "the host at " + where + " refused: " +
                                    refusal_text(refused->reason);
            else if (const auto* welcome = std::get_if<net_welcome>(&message)) {
                welcomed = true;
                apply_to_settings_field(welcome->field_width, welcome->field_height);
            }
        } else if (event.kind == os::net_event_kind::disconnect ||
                   event.kind == os::net_event_kind::timeout) {
            if (event.kind == os::net_event_kind::disconnect)
                refusal = "the host at " + where + " ended the link";
            peer = 0;
        }
    }
    if (welcomed)
        return true;
    error = !refusal.empty() ? refusal : "no host answers at " + where;
    if (peer)
        os::net_reset(peer);
    peer = 0;
    return false;
}

void cguest::send(const net_message& message, bool reliable) {
    std::vector<std::uint8_t> bytes;
    if (peer && encode(message, bytes))
        os::net_send(peer, reliable ? net_control_channel : net_play_channel, bytes,
                     reliable ? os::net_delivery::reliable : os::net_delivery::unsequenced);
}

bool cguest::heard_key(std::uint32_t vk, bool repeat) {
    if (vk != vk_p || repeat || !main_game || main_game->state == game_menu)
        return false;
    if (linked())
        send(net_pause{main_game->state == game_paused ? net_pause_change::resume
                                                       : net_pause_change::pause},
             true);
    return true; // the host's game pauses, and this side shows it
}

void cguest::start() {
    log_printf(main_log, "+ joined the network game at %s\n",
               os::net_address_text(host_address).c_str());
}

void cguest::link_lost(const char* why) {
    if (peer)
        os::net_reset(peer);
    peer = 0;
    welcomed = false;
    pictures.clear();
    heard.clear();
    log_printf(main_log, " (net) %s\n", why);
    notice = std::string(why) + ": joining again";
    next_try_ms = time_ms + rejoin_every_ms;
}

void cguest::on_receive(cgame& game, const os::net_event& event) {
    net_message message;
    std::string error;
    if (!decode_message(event.bytes, message, error)) {
        if (dropped++ == 0)
            log_printf(main_log, " (net) dropped a packet from the host [%s]\n", error.c_str());
        return;
    }
    if (const auto* state = std::get_if<net_state>(&message)) {
        if (!heard.empty() && state->frame <= heard.back().state.frame)
            return; // late: a newer one is here already
        heard.push_back({*state, time_ms});
        if (heard.size() > states_kept)
            heard.pop_front();
        new_state = true;
    } else if (const auto* welcome = std::get_if<net_welcome>(&message)) {
        welcomed = true;
        notice.clear();
        apply_to_settings_field(welcome->field_width, welcome->field_height);
        log_printf(main_log, " (net) joined the host at %s again\n",
                   os::net_address_text(host_address).c_str());
        menu_said = false;
    } else if (std::holds_alternative<net_leave>(message)) {
        link_lost("The other player left");
    } else if (std::holds_alternative<net_refused>(message)) {
        link_lost("The host refused to take the guest back");
    }
    (void)game;
}

void cguest::service(cgame& game) {
    os::net_event event;
    while (client && os::net_service(client, event, 0) > 0) {
        switch (event.kind) {
        case os::net_event_kind::connect:
            send(net_hello{brevox_version, settings.code}, true);
            break;
        case os::net_event_kind::receive:
            on_receive(game, event);
            break;
        case os::net_event_kind::disconnect:
            if (event.peer == peer)
                link_lost("The other player left");
            break;
        case os::net_event_kind::timeout:
            if (event.peer == peer)
                link_lost(welcomed ? "The link to the host went silent"
                                   : "The host does not answer");
            break;
        default:
            break;
        }
    }
    if (!peer && time_ms >= next_try_ms) {
        next_try_ms = time_ms + rejoin_every_ms;
        connect();
    }
}

void cguest::send_input(cgame& game, std::uint8_t keys, std::uint32_t frame_ms) {
    pictures.push_back({++sequence, keys, clamp_byte(frame_ms)});
    if (pictures.size() > pictures_kept)
        pictures.pop_front();
    net_input input;
    input.sequence = sequence;
    input.count = static_cast<std::uint8_t>(std::min<std::size_t>(pictures.size(),
                                                                  net_max_key_pictures));
    for (std::size_t i = 0; i < input.count; ++i) {
        const cpicture& picture = pictures[pictures.size() - 1 - i];
        input.pictures[i] = {picture.keys, picture.frame_ms};
    }
    input.paddle_y = game.right->y;
    input.paddle_velocity = game.right->velocity;
    input.state_frame = heard.empty() ? 0 : heard.back().state.frame;
    send(input, false);
}

// The host's newest state says where the guest's paddle stood once it had taken the keys up to
// a picture: the paddle starts again from there with the later pictures.
void cguest::reconcile(cgame& game, const net_state& state) {
    while (!pictures.empty() && pictures.front().sequence <= state.input_applied)
        pictures.pop_front();
    game.place_paddle(1, state.right_y, state.right_velocity);
    if (!in_play_or_serving(state.game_state))
        return;
    for (const cpicture& picture : pictures)
        game.push_paddle(1, picture.keys, picture.frame_ms);
}

// The host's game as it stood show_behind_ms before the newest state this side can expect now:
// between the two states around that moment, or the newest one run on a little.
cshown cguest::shown_now() const {
    std::int64_t ahead = 0; // the host's time less this side's, at its closest
    bool first = true;
    for (const cheard& h : heard) {
        const std::int64_t offset = static_cast<std::int64_t>(h.state.time_ms) -
                                    static_cast<std::int64_t>(h.at_ms);
        if (first || offset > ahead)
            ahead = offset;
        first = false;
    }
    const std::int64_t at = static_cast<std::int64_t>(time_ms) + ahead - show_behind_ms;
    const net_state* before = &heard.front().state;
    const net_state* after = nullptr;
    for (const cheard& h : heard) {
        if (static_cast<std::int64_t>(h.state.time_ms) <= at) {
            before = &h.state;
        } else {
            after = &h.state;
            break;
        }
    }
    cshown shown = shown_of(*before);
    if (!after) {
        // Run the ball on along its way, as the rules would until the next hit.
        const std::int64_t run = std::clamp<std::int64_t>(at - before->time_ms, 0, run_on_ms);
        if (before->game_state == game_in_play) {
            const float steps = static_cast<float>(run) * before->speed * steps_per_ms_and_speed;
            shown.ball_x += before->ball_vx * steps;
            shown.ball_y += before->ball_vy * steps;
        }
        return shown;
    }
    const float span = static_cast<float>(after->time_ms - before->time_ms);
    const float part = span > 0 ? static_cast<float>(at - before->time_ms) / span : 1.0f;
    // Across a hit, a serve or a point the ball does not travel between the two: the nearer one.
    if (before->game_state != after->game_state || before->ball_heading != after->ball_heading ||
        before->left_score + before->right_score != after->left_score + after->right_score)
        return shown_of(part < 0.5f ? *before : *after);
    cshown later = shown_of(*after);
    const auto between = [part](float a, float b) { return a + (b - a) * part; };
    later.ball_x = between(before->ball_x, after->ball_x);
    later.ball_y = between(before->ball_y, after->ball_y);
    later.left_y = between(before->left_y, after->left_y);
    return later;
}

void cguest::show_notice(const net_state& state) {
    if (!linked())
        return;
    if (state.menus & net_menu_host)
        notice = "The host is in the menu";
    else if (state.menus & net_menu_guest)
        notice.clear();
    else if (state.paused_by == net_pauser::host)
        notice = "Paused by the host";
    else if (state.paused_by == net_pauser::guest)
        notice = "Paused by the guest";
    else
        notice.clear();
}

void cguest::frame(cgame& game, std::uint32_t frame_ms) {
    time_ms += frame_ms;
    service(game);
    const std::uint8_t keys = game.read_side_keys(1, frame_ms);
    if (linked()) {
        send_input(game, keys, frame_ms);
        os::net_flush(client);
    }
    if (!heard.empty()) {
        const net_state& newest = heard.back().state;
        if (new_state)
            reconcile(game, newest);
        else if (in_play_or_serving(newest.game_state) && game.state != game_menu)
            game.push_paddle(1, keys, frame_ms);
        game.show(shown_now(), 1, new_state && heard.size() == 1);
        game.take_client_width(newest.field_width);
        apply_to_settings_field(newest.field_width, newest.field_height);
        show_notice(newest);
        new_state = false;
    }
    // This side's menu holds the host's pause while it is open.
    const bool menu_open = game.state == game_menu;
    if (linked() && menu_open != menu_said) {
        send(net_pause{menu_open ? net_pause_change::menu_opened : net_pause_change::menu_closed},
             true);
        menu_said = menu_open;
    }
    const std::uint32_t round_trip = peer ? os::net_peer_round_trip_ms(peer) : 0;
    std::snprintf(field_line, sizeof field_line, "GUEST  %s  %u ms",
                  os::net_address_text(host_address).c_str(), static_cast<unsigned>(round_trip));
    screen_notice = notice.empty() ? nullptr : notice.c_str();
}

void cguest::close() {
    if (client) {
        if (linked()) {
            send(net_leave{}, true);
            os::net_disconnect(peer, 0);
            os::net_event event;
            for (int i = 0; i < 50 && os::net_service(client, event, 20) >= 0; ++i)
                if (event.kind == os::net_event_kind::disconnect)
                    break;
        }
        os::net_host_destroy(client);
        client = 0;
        peer = 0;
    }
    if (screen_notice == notice.c_str())
        screen_notice = nullptr;
    field_line[0] = '\0';
    if (started_net)
        os::net_shutdown();
    started_net = false;
}
