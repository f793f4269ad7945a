// The messages of network play, as docs/network.md lays them out byte by byte: a host runs the
// one game and plays the left paddle, a guest plays the right one. Encoding and decoding are pure
// functions over bytes, so the session, the tests and the fuzzer share them. Whatever arrives
// from the network is hostile until decode_message has taken it: each field is checked against
// what a peer of this version can send, and anything else is refused with a one-line reason.
#pragma once

#include "game/game.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The protocol this program speaks, and the only one it plays with (docs/network.md: version
// rules).
inline constexpr std::uint16_t net_protocol_version = 1;

// Limits of what a message may hold.
inline constexpr std::size_t net_max_version_bytes = 32;  // the game's version, printable ASCII
inline constexpr std::uint8_t net_max_key_pictures = 16;  // in one input
inline constexpr float net_max_magnitude = 100000.0f;     // of any float, which must be finite
inline constexpr std::uint16_t net_max_field_size = 8192; // the field's width and height
inline constexpr std::uint16_t net_max_code = 9999;       // the 4-digit join code
// The longest message of all (a state); a longer packet is never one.
inline constexpr std::size_t net_max_message_bytes = 66;

// A message's first byte. The bodies below are named after their kinds.
enum class net_kind : std::uint8_t {
    hello = 1,   // guest to host, the first message
    welcome = 2, // host to guest: the seat is the guest's
    refused = 3, // host to guest: no game, and why
    input = 4,   // guest to host, every guest frame
    state = 5,   // host to guest, 60 to 100 times a second
    pause = 6,   // either way
    leave = 7,   // either way, before a disconnect
};

// The keys of a key picture, one bit each; no other bit may be set.
enum : std::uint8_t {
    net_key_up = 1,
    net_key_down = 2,
    net_key_space = 4,
    net_all_keys = 7,
};

// The menus open on either side, one bit each.
enum : std::uint8_t {
    net_menu_host = 1,
    net_menu_guest = 2,
    net_both_menus = 3,
};

// The guest's paddle: the right one (the only seat a guest takes in this version).
inline constexpr std::uint8_t net_guest_side = 1;

struct net_hello {
    std::string version; // the guest's game version (brevox_version)
    std::uint16_t code = 0;
    bool operator==(const net_hello&) const = default;
};

struct net_welcome {
    std::string version; // the host's game version
    std::uint16_t field_width = 0, field_height = 0;
    float speed = 0; // the game speed: 10, 12 or 14
    std::uint16_t left_score = 0, right_score = 0;
    std::uint8_t guest_side = net_guest_side;
    bool operator==(const net_welcome&) const = default;
};

enum class net_refusal : std::uint8_t {
    other_version = 1, // another game or protocol version
    wrong_code = 2,
    seat_taken = 3, // another guest plays
};

struct net_refused {
    net_refusal reason = net_refusal::other_version;
    std::string version; // the host's game version
    bool operator==(const net_refused&) const = default;
};

// The keys a guest frame read, and how long that frame was.
struct net_key_picture {
    std::uint8_t keys = 0;     // net_key_* bits
    std::uint8_t frame_ms = 0; // 1..255
    bool operator==(const net_key_picture&) const = default;
};

struct net_input {
    std::uint32_t sequence = 0; // of the newest picture; one more each guest frame
    // The newest `count` frames' pictures (1..16), newest first, so that a lost packet loses no
    // press; the pictures from `count` on are not sent.
    std::uint8_t count = 0;
    std::array<net_key_picture, net_max_key_pictures> pictures{};
    float paddle_y = 0, paddle_velocity = 0; // the guest's paddle as it shows it
    std::uint32_t state_frame = 0;           // the host frame of the newest state it has
    bool operator==(const net_input&) const = default;
};

// Who paused the game.
enum class net_pauser : std::uint8_t { none = 0, host = 1, guest = 2 };

struct net_state {
    std::uint32_t frame = 0;             // the host's frame number
    std::uint32_t time_ms = 0;           // the host's game time: the sum of its frame lengths
    std::uint32_t input_applied = 0;     // the newest guest input sequence the host has applied
    std::uint8_t game_state = game_menu; // game_menu .. game_point
    std::uint8_t server = 0;             // 0 left, 1 right
    float ball_x = 0, ball_y = 0, ball_vx = 0, ball_vy = 0;
    std::uint8_t ball_heading = 0; // 1 toward the right paddle, 0 toward the left one
    float left_y = 0, left_velocity = 0, right_y = 0, right_velocity = 0;
    std::uint16_t left_score = 0, right_score = 0;
    bool medal_shown = false;
    std::uint8_t medal_kind = medal_none; // medal_none .. medal_slow
    // Medals awarded so far, wrapping at 256: a change tells the guest to play a medal's voice
    // once, even when the states between were lost.
    std::uint8_t medals_awarded = 0;
    float speed = 0; // 10, 12 or 14
    std::uint16_t field_width = 0, field_height = 0;
    std::uint8_t host_keys = 0; // net_key_* bits
    net_pauser paused_by = net_pauser::none;
    std::uint8_t menus = 0; // net_menu_* bits
    bool operator==(const net_state&) const = default;
};

enum class net_pause_change : std::uint8_t {
    pause = 1,
    resume = 2,
    menu_opened = 3,
    menu_closed = 4,
};

struct net_pause {
    net_pause_change what = net_pause_change::pause;
    bool operator==(const net_pause&) const = default;
};

struct net_leave {
    bool operator==(const net_leave&) const = default;
};

// One message; its alternative's index is its kind less one.
using net_message =
    std::variant<net_hello, net_welcome, net_refused, net_input, net_state, net_pause, net_leave>;

net_kind kind_of(const net_message& message);
// "hello", "state", ...; "unknown" for a byte that is no kind.
const char* kind_name(net_kind kind);

// The bytes of `message`. False, with a one-line reason in `error` and `bytes` empty, when it
// holds what a peer would refuse (the very checks of decode_message): the session learns of its
// own fault rather than its peer.
bool encode_message(const net_message& message, std::vector<std::uint8_t>& bytes,
                    std::string& error);
// Takes one packet. False with a one-line reason in `error`, `message` untouched, when it is not
// a message of this protocol version that this program plays.
bool decode_message(std::span<const std::uint8_t> bytes, net_message& message, std::string& error);

// Finding games on the local network: plain UDP datagrams, the same 12 bytes in every protocol
// version, so that a guest and a host of different versions still find each other and can say
// so. Their decoders take any protocol version and give it; the session compares it.
inline constexpr char net_query_magic[8] = {'B', 'R', 'E', 'V', 'O', 'X', 'Q', '?'};
inline constexpr char net_answer_magic[8] = {'B', 'R', 'E', 'V', 'O', 'X', 'A', '!'};

struct net_query {
    std::uint16_t protocol = net_protocol_version;
    std::uint16_t code = 0; // the game looked for
    bool operator==(const net_query&) const = default;
};

struct net_answer {
    std::uint16_t protocol = net_protocol_version; // the host's
    std::uint16_t port = 0;                        // the host's ENet port, 1..65535
    bool operator==(const net_answer&) const = default;
};

bool encode_query(const net_query& query, std::vector<std::uint8_t>& bytes, std::string& error);
bool decode_query(std::span<const std::uint8_t> bytes, net_query& query, std::string& error);
bool encode_answer(const net_answer& answer, std::vector<std::uint8_t>& bytes, std::string& error);
bool decode_answer(std::span<const std::uint8_t> bytes, net_answer& answer, std::string& error);

// The ENet connect data: FNV-1a (32 bits) of "brevox-net/1 " followed by the game's version, so
// that a host turns away a peer of another protocol or game version before its hello.
std::uint32_t protocol_fingerprint(std::string_view version);
