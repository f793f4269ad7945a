// Network play between two machines over ENet. The host runs the one game, by the same rules as
// at one machine, and plays the left paddle; its guest joins with the host's join code and plays
// the right one. The guest's keys reach the host's game as the keys of hands seated at the right
// paddle, so the rules never learn who holds it, and a host's replay records them like any
// other. The guest runs none of the rules but its own paddle's, so that the paddle answers its
// keys at once, and draws the host's state for the rest (see docs/network.md). Main thread only.
#pragma once

#include "net/protocol.h"
#include "os/net.h"

#include <cstdint>
#include <string>

// The game's port; the next one answers the queries of guests looking on the local network.
inline constexpr std::uint16_t net_default_port = 28777;
// The channels: control messages (hello, welcome, refused, pause, leave), reliable; keys and
// states, unsequenced, every frame.
inline constexpr std::uint8_t net_control_channel = 0;
inline constexpr std::uint8_t net_play_channel = 1;
inline constexpr std::size_t net_channels = 2;

// How soon either side notices a silent link (within 5 s): the peer's timeout, and the ping
// that keeps a quiet link heard.
inline constexpr std::uint32_t peer_timeout_ms = 3000;
inline constexpr std::uint32_t peer_ping_ms = 500;
inline constexpr std::uint32_t vk_p = 'P';
// The most a frame takes from the network: a flood waits for the next frames, and the game goes
// on drawing meanwhile.
inline constexpr int events_per_frame = 256;

// Sends a message to a peer: reliably on the control channel, or unsequenced on the play
// channel. One that this side would refuse itself is logged and not sent.
void send_message(os::hnetpeer peer, const net_message& message, bool reliable);

// The join code's text: four digits.
std::string code_text(std::uint16_t code);
