#include "net/guest.h"

#include "base/log.h"
#include "base/version.h"
#include "cvar/cvars.h"
#include "os/clock.h"
#include "os/keys.h"
#include "platform/window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

// A guest joins within this, or says the host cannot be reached; it tries again this often once
// the link went.
constexpr std::uint32_t join_within_ms = 5000;
constexpr std::uint32_t rejoin_every_ms = 3000;
// Looking on the local network: the queries, this often, for this long.
constexpr std::uint32_t query_every_ms = 500;
constexpr std::uint32_t look_for_ms = 3000;
// The host's paddle is drawn this far behind the newest state this side could have, so that a
// state arriving late or lost is drawn between its neighbours.
constexpr std::uint32_t show_behind_ms = 15;
// The host's ball is drawn where the host's game will have it when the keys this side reads now
// reach it: run on from the newest state by the rules, in frames as long as the host's at the
// cap of 200 a second, for at most this long (a silent link leaves it standing).
constexpr std::uint32_t host_frame_ms = 5;
constexpr std::uint32_t run_on_at_most_ms = 250;
// The lead's measures kept for their median. A lead this far from it is taken at once, not
// followed: the first measures can be seconds off (they straddle the long frames of a start).
constexpr std::size_t leads_kept = 31;
constexpr double lead_taken_at_once_ms = 100;
// States kept for drawing between them, and pictures kept for the host to acknowledge.
constexpr std::size_t states_kept = 32;
constexpr std::size_t pictures_kept = 256;

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
    host_text = os::net_address_text(host_address);
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
        error = !other.empty()
                    ? other
                    : "no game with code " + code_text(settings.code) +
                          " answered on the local network (" + os::net_address_text(to) + ")";
    return found;
}

void cguest::connect() {
    welcomed = false;
    peer =
        os::net_connect(client, host_address, net_channels, protocol_fingerprint(brevox_version));
    if (peer)
        os::net_set_peer_timeout(peer, 0, peer_timeout_ms, peer_timeout_ms, peer_ping_ms);
}

bool cguest::wait_for_welcome(std::uint32_t within_ms, std::string& error) {
    const std::string& where = host_text;
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
                refusal =
                    refused->reason == net_refusal::other_version
                        ? "the host at " + where + " runs brevox " + refused->version +
                              ", this is " + brevox_version
                        : "the host at " + where + " refused: " + refusal_text(refused->reason);
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
    send_message(peer, message, reliable);
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
    log_printf(main_log, "+ joined the network game at %s\n", host_text.c_str());
    trace.open("guest");
}

void cguest::link_lost(const char* why) {
    if (peer)
        os::net_reset(peer);
    peer = 0;
    welcomed = false;
    pictures.clear();
    heard.clear();
    leads.clear();
    lead_known = false;
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
        take_state(*state);
    } else if (const auto* welcome = std::get_if<net_welcome>(&message)) {
        welcomed = true;
        notice.clear();
        apply_to_settings_field(welcome->field_width, welcome->field_height);
        log_printf(main_log, " (net) joined the host at %s again\n", host_text.c_str());
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
    for (int heard = 0; client && heard < events_per_frame && os::net_service(client, event, 0) > 0;
         ++heard) {
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

void cguest::take_state(const net_state& state) {
    if (!heard.empty() && state.frame <= heard.back().state.frame)
        return; // late: a newer one is here already
    heard.push_back({state, time_ms});
    if (heard.size() > states_kept)
        heard.pop_front();
    new_state = true;
    // The newest picture the host had taken by this state: the host's time less this side's at
    // its read is a measure of the lead (longer when the host took it a frame before).
    const auto taken = std::find_if(pictures.begin(), pictures.end(), [&](const cpicture& p) {
        return p.sequence == state.input_applied;
    });
    if (taken == pictures.end())
        return;
    leads.push_back(static_cast<std::int64_t>(state.time_ms) -
                    static_cast<std::int64_t>(taken->read_ms));
    if (leads.size() > leads_kept)
        leads.pop_front();
    std::array<std::int64_t, leads_kept> sorted{};
    const auto end = std::copy(leads.begin(), leads.end(), sorted.begin());
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(leads.size() / 2);
    std::nth_element(sorted.begin(), middle, end);
    lead_median = static_cast<double>(*middle);
}

// The lead the ball is shown by follows the measures' median by at most a quarter of each frame,
// so that the ball never jumps for it, unless it is far off.
void cguest::follow_lead(std::uint32_t frame_ms) {
    if (leads.empty())
        return;
    const double median = lead_median;
    const double most = std::max(1.0, frame_ms / 4.0);
    const bool far_off = std::abs(median - lead_ms) > lead_taken_at_once_ms;
    lead_ms = lead_known && !far_off ? lead_ms + std::clamp(median - lead_ms, -most, most) : median;
    lead_known = true;
}

void cguest::remember_picture(std::uint8_t keys, std::uint32_t frame_ms) {
    pictures.push_back({++sequence, keys, clamp_byte(frame_ms), time_ms, 0, 0});
    if (pictures.size() > pictures_kept)
        pictures.pop_front();
}

void cguest::send_input(const cgame& game) {
    net_input input;
    input.sequence = sequence;
    input.count =
        static_cast<std::uint8_t>(std::min<std::size_t>(pictures.size(), net_max_key_pictures));
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
    const bool moving = in_play_or_serving(state.game_state);
    for (cpicture& picture : pictures) {
        if (moving)
            game.push_paddle(1, picture.keys, picture.frame_ms);
        picture.paddle_y = game.right->y;
        picture.paddle_velocity = game.right->velocity;
    }
}

// The host's time less this side's at the arrival of a state, at its closest: the newest state
// this side can expect now is the host's at this side's time plus this.
std::int64_t cguest::host_time_ahead() const {
    std::int64_t ahead = 0;
    bool first = true;
    for (const cheard& h : heard) {
        const std::int64_t offset =
            static_cast<std::int64_t>(h.state.time_ms) - static_cast<std::int64_t>(h.at_ms);
        if (first || offset > ahead)
            ahead = offset;
        first = false;
    }
    return ahead;
}

// The newest state, its ball run on to the moment the host takes this frame's keys, and the
// host's paddle show_behind_ms behind the newest state this side can expect, between the two
// states around that moment.
cshown cguest::shown_now() const {
    const net_state& newest = heard.back().state;
    const std::int64_t expected = static_cast<std::int64_t>(time_ms) + host_time_ahead();
    cshown shown = shown_of(newest);
    const std::int64_t ball_at =
        lead_known ? static_cast<std::int64_t>(time_ms) + std::llround(lead_ms) : expected;
    run_ball_on(shown, newest, ball_at);

    const std::int64_t paddle_at = expected - show_behind_ms;
    const net_state* before = &heard.front().state;
    for (const cheard& h : heard) {
        if (static_cast<std::int64_t>(h.state.time_ms) > paddle_at) {
            const float span = static_cast<float>(h.state.time_ms - before->time_ms);
            const float part =
                span > 0 ? static_cast<float>(paddle_at - before->time_ms) / span : 1.0f;
            shown.left_y =
                before->left_y + (h.state.left_y - before->left_y) * std::max(part, 0.0f);
            break;
        }
        before = &h.state;
    }
    return shown;
}

// The host's ball from the state `from` to the host's time `to_ms`, in the host's frames, by the
// rules: against the host's paddle where the state has it, and this side's own paddle where the
// host will have it at each of those frames (where the keys read a lead earlier moved it; before
// the first of them, where the host says it stood).
void cguest::run_ball_on(cshown& shown, const net_state& from, std::int64_t to_ms) const {
    if (from.game_state != game_in_play)
        return;
    cball ball;
    ball.x = shown.ball_x;
    ball.y = shown.ball_y;
    ball.vx = shown.ball_vx;
    ball.vy = shown.ball_vy;
    ball.heading = shown.heading;
    cpaddle host_paddle(0);
    host_paddle.y = from.left_y;
    host_paddle.velocity = from.left_velocity;
    const float width = static_cast<float>(from.field_width);
    cpaddle own(1);
    own.x = width;
    const float height = static_cast<float>(from.field_height);
    const std::int64_t run = std::clamp<std::int64_t>(
        to_ms - static_cast<std::int64_t>(from.time_ms), 0, run_on_at_most_ms);
    for (std::int64_t done = 0; done < run;) {
        const std::int64_t frame = std::min<std::int64_t>(host_frame_ms, run - done);
        done += frame;
        own.y = from.right_y;
        own.velocity = from.right_velocity;
        const double read_by = static_cast<double>(from.time_ms + done) - lead_ms;
        for (const cpicture& picture : pictures) {
            if (!lead_known || static_cast<double>(picture.read_ms) > read_by)
                break;
            own.y = picture.paddle_y;
            own.velocity = picture.paddle_velocity;
        }
        const float steps = static_cast<float>(frame) * from.speed * steps_per_ms_and_speed;
        if (step_ball(ball, steps, width, height, host_paddle, own) == ball_step::out)
            break;
    }
    shown.ball_x = ball.x;
    shown.ball_y = ball.y;
    shown.ball_vx = ball.vx;
    shown.ball_vy = ball.vy;
    shown.heading = ball.heading;
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
    // Up and Down choose in this side's menu: they move no paddle meanwhile.
    const std::uint8_t read = game.read_side_keys(1, frame_ms);
    const std::int64_t read_at = trace.on() ? os::monotonic_us() : 0;
    const std::uint8_t keys = game.state == game_menu ? 0 : read;
    remember_picture(keys, frame_ms);
    if (linked()) {
        send_input(game);
        os::net_flush(client);
    }
    if (!heard.empty()) {
        const net_state& newest = heard.back().state;
        if (new_state) {
            reconcile(game, newest);
        } else if (in_play_or_serving(newest.game_state) && game.state != game_menu) {
            game.push_paddle(1, keys, frame_ms);
        }
        pictures.back().paddle_y = game.right->y;
        pictures.back().paddle_velocity = game.right->velocity;
        follow_lead(frame_ms);
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
    std::snprintf(field_line, sizeof field_line, "GUEST  %s  %u ms", host_text.c_str(),
                  static_cast<unsigned>(round_trip));
    screen_notice = notice.empty() ? nullptr : notice.c_str();
    if (trace.on())
        trace_frame(game, read_at, keys);
}

// The keys as this side read them, and the field as its screen shows it.
void cguest::trace_frame(const cgame& game, std::int64_t read_at_us, std::uint8_t keys) {
    trace.frame(read_at_us, "%u %u %d %d %.2f %.2f %.2f %.2f", static_cast<unsigned>(sequence),
                static_cast<unsigned>(keys), static_cast<int>(game.state),
                static_cast<int>(game.ball->heading), static_cast<double>(game.ball->x),
                static_cast<double>(game.ball->y), static_cast<double>(game.right->y),
                static_cast<double>(game.right->x));
    trace.traffic(read_at_us, client);
}

void cguest::close() {
    trace.close();
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

bool ccode_entry::heard_key(std::uint32_t vk, bool) {
    if (vk >= '0' && vk <= '9' && typed.size() < 4) {
        typed += static_cast<char>(vk);
    } else if (vk == os::VK_BACK && !typed.empty()) {
        typed.pop_back();
    } else if (vk == os::VK_RETURN && typed.size() == 4) {
        entered = true;
        text = "Looking for the game with code " + typed + "...";
        return true;
    } else {
        return false;
    }
    show();
    return true;
}

std::int32_t ccode_entry::take_code() {
    if (!entered)
        return -1;
    entered = false;
    return std::stoi(typed);
}

void ccode_entry::failed() {
    why = "No game joined with code " + typed;
    typed.clear();
    show();
}

void ccode_entry::show() {
    text = (why.empty() ? "" : why + ". ") + "Type the host's code: " + typed +
           std::string(4 - typed.size(), '_');
}
