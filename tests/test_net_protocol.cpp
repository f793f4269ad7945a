// The network messages: each kind against the bytes tools/make-net-seeds packs from the tables of
// docs/network.md (the fuzzer's seeds), and hostile packets, which get a reason and no message.
#include "net/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>

namespace {

using bytes = std::vector<std::uint8_t>;

bytes seed(const std::string& name) {
    std::ifstream in(std::string(BREVOX_SOURCE_DIR) + "/tests/fuzz/seeds/net/" + name,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bytes f32(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

// The messages tools/make-net-seeds writes, by their files' names.
std::vector<std::pair<std::string, net_message>> seeded_messages() {
    net_input input{.sequence = 1234567,
                    .count = 3,
                    .paddle_y = 301.25f,
                    .paddle_velocity = -7.5f,
                    .state_frame = 99000};
    input.pictures[0] = {net_key_up | net_key_space, 16};
    input.pictures[1] = {net_key_down, 17};
    input.pictures[2] = {0, 255};
    const net_state state{.frame = 123456,
                          .time_ms = 987654,
                          .input_applied = 1234560,
                          .game_state = game_paused,
                          .server = 1,
                          .ball_x = 412.5f,
                          .ball_y = 288.0f,
                          .ball_vx = -6.25f,
                          .ball_vy = 3.5f,
                          .ball_heading = 0,
                          .left_y = 240.0f,
                          .left_velocity = 1.5f,
                          .right_y = 333.75f,
                          .right_velocity = -2.0f,
                          .left_score = 7,
                          .right_score = 300,
                          .medal_shown = true,
                          .medal_kind = medal_slow,
                          .medals_awarded = 201,
                          .speed = 14.0f,
                          .field_width = 1024,
                          .field_height = 768,
                          .host_keys = net_key_down | net_key_space,
                          .paused_by = net_pauser::guest,
                          .menus = net_menu_host};
    return {
        {"hello", net_hello{"0.7a", 4711}},
        {"welcome", net_welcome{"0.7a", 800, 600, 12.0f, 3, 11, net_guest_side}},
        {"refused", net_refused{net_refusal::seat_taken, "0.7a"}},
        {"input", input},
        {"state", state},
        {"pause", net_pause{net_pause_change::menu_opened}},
        {"leave", net_leave{}},
    };
}

// Decodes `packet` as the seed `name` is: a datagram or a message.
bool decode_as(const std::string& name, const bytes& packet, std::string& error) {
    if (name == "query") {
        net_query query;
        return decode_query(packet, query, error);
    }
    if (name == "answer") {
        net_answer answer;
        return decode_answer(packet, answer, error);
    }
    net_message message = net_leave{};
    const bool read = decode_message(packet, message, error);
    EXPECT_TRUE(read || std::holds_alternative<net_leave>(message)) << "touched when refused";
    return read;
}

TEST(net_protocol_test, EveryKindEncodesToItsDocumentedBytesAndDecodesBack) {
    std::string error;
    for (const auto& [name, message] : seeded_messages()) {
        SCOPED_TRACE(name);
        const bytes expected = seed(name);
        bytes encoded;
        ASSERT_TRUE(encode_message(message, encoded, error)) << error;
        EXPECT_EQ(encoded, expected);
        net_message decoded;
        ASSERT_TRUE(decode_message(expected, decoded, error)) << error;
        EXPECT_EQ(decoded, message);
    }
    EXPECT_EQ(seed("state").size(), net_max_message_bytes);

    const net_query query{1, 4711};
    const net_answer answer{1, 50123};
    bytes encoded;
    ASSERT_TRUE(encode_query(query, encoded, error)) << error;
    EXPECT_EQ(encoded, seed("query"));
    net_query query_read;
    ASSERT_TRUE(decode_query(encoded, query_read, error)) << error;
    EXPECT_EQ(query_read, query);
    ASSERT_TRUE(encode_answer(answer, encoded, error)) << error;
    EXPECT_EQ(encoded, seed("answer"));
    net_answer answer_read;
    ASSERT_TRUE(decode_answer(encoded, answer_read, error)) << error;
    EXPECT_EQ(answer_read, answer);
    // Another protocol version's datagram is read, so that the guest can say what it found.
    encoded[8] = 2;
    ASSERT_TRUE(decode_answer(encoded, answer_read, error)) << error;
    EXPECT_EQ(answer_read.protocol, 2);

    // FNV-1a of "brevox-net/1 0.7a" and of "brevox-net/1 ", worked out apart from this code.
    EXPECT_EQ(protocol_fingerprint("0.7a"), 0x77e0efd7u);
    EXPECT_EQ(protocol_fingerprint(""), 0x7fa72e65u);
}

TEST(net_protocol_test, HostilePacketsGetAReasonAndNoMessage) {
    const std::string names[] = {"hello", "welcome", "refused", "input", "state",
                                 "pause", "leave",   "query",   "answer"};
    std::string error;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const bytes whole = seed(name);
        ASSERT_TRUE(decode_as(name, whole, error)) << error;
        for (std::size_t size = 0; size < whole.size(); ++size) {
            error.clear();
            EXPECT_FALSE(decode_as(name, bytes(whole.begin(), whole.begin() + size), error));
            const bool datagram = name == "query" || name == "answer";
            EXPECT_NE(error.find(size || datagram ? "cut short" : "empty"), std::string::npos)
                << size << ": " << error;
        }
        bytes longer = whole;
        longer.push_back(0);
        EXPECT_FALSE(decode_as(name, longer, error));
        EXPECT_NE(error.find(": 1 byte after its end"), std::string::npos) << error;
    }

    const struct {
        const char* seed;
        std::size_t at; // the patch replaces the seed's bytes from here on, growing it if need be
        bytes patch;
        const char* error;
    } cases[] = {
        {"leave", 0, {8}, "unknown message kind 8"},
        {"hello", 1, {2, 0}, "hello: protocol version 2, this brevox speaks version 1"},
        {"hello", 3, {0}, "hello: version of 0 bytes (1 to 32)"},
        {"hello", 5, {0x7f}, "hello: version holds byte 127, not printable ASCII"},
        {"hello", 8, {0x10, 0x27}, "hello: join code 10000 is not in 0..9999"},
        {"welcome", 8, {0x01, 0x20}, "welcome: field height 8193 is not in 1..8192"},
        {"welcome", 10, f32(11.0f), "welcome: game speed 11 is not 10, 12 or 14"},
        {"welcome", 10, f32(NAN), "welcome: game speed is not a finite number"},
        {"refused", 1, {4}, "refused: reason 4 is not in 1..3"},
        {"input", 5, {17}, "input: key picture count 17 is not in 1..16"},
        {"input", 6, {8}, "input: keys 8 set bits outside 7"},
        {"input", 16, f32(-1e6f), "input: paddle velocity -1000000 is beyond 100000"},
        {"state", 13, {6}, "state: game state 6 is not in 0..5"},
        {"state", 15, f32(NAN), "state: ball x is not a finite number"},
        {"state", 27, f32(std::nextafter(net_max_magnitude, INFINITY)),
         "state: ball y velocity 100000.008 is beyond 100000"},
        {"state", 53, {4}, "state: medal kind 4 is not in 0..3"},
        {"state", 65, {4}, "state: menus 4 set bits outside 3"},
        {"pause", 1, {5}, "pause: change 5 is not in 1..4"},
        {"query", 0, {'X'}, "query: does not start with BREVOXQ?"},
        {"answer", 7, {'?'}, "answer: does not start with BREVOXA!"},
        {"answer", 10, {0, 0}, "answer: port 0 is not in 1..65535"},
    };
    for (const auto& c : cases) {
        bytes packet = seed(c.seed);
        packet.resize(std::max(packet.size(), c.at + c.patch.size()));
        std::copy(c.patch.begin(), c.patch.end(), packet.begin() + c.at);
        error.clear();
        EXPECT_FALSE(decode_as(c.seed, packet, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(net_protocol_test, WhatAPeerWouldRefuseIsNotEncoded) {
    net_state state;
    state.speed = 10.0f;
    state.field_width = state.field_height = 100;
    state.ball_x = NAN;
    net_input input;
    input.count = 17;
    const struct {
        net_message message;
        const char* error;
    } cases[] = {
        {state, "state: ball x is not a finite number"},
        {input, "input: key picture count 17 is not in 1..16"},
        {net_hello{std::string(33, 'x'), 0}, "hello: version of 33 bytes (1 to 32)"},
    };
    std::string error;
    for (const auto& c : cases) {
        bytes encoded = {1, 2, 3};
        EXPECT_FALSE(encode_message(c.message, encoded, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(encoded.empty());
    }
    bytes encoded;
    EXPECT_FALSE(encode_query({1, 10000}, encoded, error));
    EXPECT_EQ(error, "query: join code 10000 is not in 0..9999");
    EXPECT_FALSE(encode_answer({1, 0}, encoded, error));
    EXPECT_EQ(error, "answer: port 0 is not in 1..65535");
}

} // namespace
