// The network: hosts and peers over ENet's reliable UDP, and a plain UDP socket for datagrams
// to and from anyone, broadcasts included. IPv4 only: ENet 1.3 knows no other.
//
// A host owns one UDP port and the peers connected through it; a peer is the link to one other
// host, with channels that each keep their own order. Everything happens inside net_service:
// sending what was queued, resending what was not acknowledged, pinging a quiet link, and
// handing out one event at a time. A host that is not serviced sends and hears nothing.
//
// Packets are copied out of ENet into the event and destroyed inside the layer: no caller ever
// holds one of ENet's packets, so none can leak or be freed twice, and a packet of a few dozen
// bytes costs one copy. Hosts, peers and sockets are handles; a handle that is unknown, or was
// closed, makes every call fail (0, false or -1) or do nothing.
//
// Main thread only: nothing here takes a lock, and ENet's hosts are not thread-safe either.
#pragma once

#include "os/types.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace os {

using hnethost = handle;
using hnetpeer = handle;
using hnetsocket = handle;

// Starts and stops the network; counted, so that each user calls both once. The last
// net_shutdown closes the hosts and sockets still open. Nothing else works outside a pair.
bool net_initialize();
void net_shutdown();

struct net_address {
    std::uint32_t ipv4 = 0; // host byte order: 127.0.0.1 is 0x7f000001
    std::uint16_t port = 0;

    friend bool operator==(const net_address&, const net_address&) = default;
};

constexpr std::uint32_t net_ipv4_any = 0;
constexpr std::uint32_t net_ipv4_loopback = 0x7f000001;
constexpr std::uint32_t net_ipv4_broadcast = 0xffffffff;

// Sets out.ipv4 (out.port is left as it is) from a numeric address ("192.168.1.5") or a host
// name. A name asks the system's resolver, which can take seconds when the network is down; a
// text that cannot be a host name (empty, spaces, other signs) is refused without asking.
bool net_resolve(const char* name, net_address& out);
// "192.168.1.5:28777".
std::string net_address_text(const net_address& address);
// This machine's IPv4 addresses on interfaces that are up, loopback left out, with port 0; empty
// when there is none or the system cannot tell.
std::vector<net_address> net_local_addresses();

// A host with room for `peers` peers of `channels` channels each (1 to 255). Bound to `bind_to`
// (ipv4 net_ipv4_any: every interface; port 0: one the system chooses, which net_host_address
// tells); a null bind_to makes a host that only connects out, from a port the system chooses at
// the first send. 0 on failure: the port taken, the arguments out of range, no network.
hnethost net_host_create(const net_address* bind_to, std::size_t peers, std::size_t channels);
// Closes the host and forgets its peers without a word to them: they see the link time out.
// net_disconnect_now first tells them.
void net_host_destroy(hnethost host);
// The address the host's socket is bound to ({} when unknown).
net_address net_host_address(hnethost host);

// Starts connecting to the host at `to`; the peer's connect event (or its timeout) follows
// from net_service. `data` reaches the other host with its connect event. 0 when no peer is
// free or the arguments are out of range.
hnetpeer net_connect(hnethost host, const net_address& to, std::size_t channels,
                     std::uint32_t data);

enum class net_event_kind {
    none,
    connect,    // a peer connected: ours (net_connect) or another host's, with its data
    disconnect, // the link ended as one side asked: data is the other side's, 0 when it was ours
    timeout,    // the link went silent (or the host to connect to never answered)
    receive,    // bytes arrived on a channel
};

// After a disconnect or a timeout the peer's handle is forgotten: the event is its last use.
struct net_event {
    net_event_kind kind = net_event_kind::none;
    hnetpeer peer = 0;
    std::uint8_t channel = 0;
    std::uint32_t data = 0;
    std::vector<std::uint8_t> bytes; // kept between calls, so its capacity is reused
};

// Services the host for up to `timeout_ms` and hands out the first event: 1 an event, 0 none
// within the time, -1 an error (a bad handle among them). With 0 it never waits.
int net_service(hnethost host, net_event& out, std::uint32_t timeout_ms);

enum class net_delivery {
    reliable,             // resent until acknowledged, in order on its channel
    unreliable_sequenced, // sent once; one older than the last that arrived is dropped
    unsequenced,          // sent once; arrives in any order
};

// Queues the bytes for the peer on a channel; they leave at the next net_service or net_flush.
// False when the peer is not connected (yet or any more), or the channel is not one of its.
bool net_send(hnetpeer peer, std::uint8_t channel, std::span<const std::uint8_t> bytes,
              net_delivery delivery);
// Sends what is queued now, without waiting for the next net_service.
void net_flush(hnethost host);

// The highest data a disconnect carries: the top bit is the layer's own (net.cpp says why).
constexpr std::uint32_t net_disconnect_data_max = 0x7fffffff;
// Asks the other side to end the link, after what is queued; this side's disconnect event
// follows when it answers (or when it does not within the peer's timeout). A peer still
// connecting is forgotten at once instead, with no event. False for an unknown peer or data
// above net_disconnect_data_max, and then nothing is done.
bool net_disconnect(hnetpeer peer, std::uint32_t data);
// Tells the other side once, unreliably, and forgets the peer at once: no event follows.
bool net_disconnect_now(hnetpeer peer, std::uint32_t data);
// Forgets the peer without a word: the other side sees the link time out.
void net_reset(hnetpeer peer);

net_address net_peer_address(hnetpeer peer);
// ENet's mean round trip of the reliable packets, in milliseconds (0 for an unknown peer).
std::uint32_t net_peer_round_trip_ms(hnetpeer peer);

// How soon the peer's silence ends the link: a reliable packet (a ping among them)
// unacknowledged for `maximum_ms`, or for `minimum_ms` once resent `limit` times' worth, ends it
// with a timeout event; a link with nothing to send pings every `ping_interval_ms`, so that
// silence is noticed at all. A link goes silent unnoticed for at most about ping_interval_ms +
// maximum_ms. 0 for any of them keeps ENet's own (32, 5000, 30000, 500).
void net_set_peer_timeout(hnetpeer peer, std::uint32_t limit, std::uint32_t minimum_ms,
                          std::uint32_t maximum_ms, std::uint32_t ping_interval_ms);

// What went on the wire since the host was made: ENet's headers, acknowledgements, pings and
// resends included, the UDP and IP headers not.
struct net_traffic {
    std::uint64_t bytes_sent = 0;
    std::uint64_t bytes_received = 0;
    std::uint64_t packets_sent = 0; // UDP datagrams
    std::uint64_t packets_received = 0;
};
net_traffic net_host_traffic(hnethost host);

// The longest datagram of a net socket: longer ones are refused on sending and dropped on
// receiving, unseen (a short read of a datagram would hand out a message cut anywhere).
constexpr std::size_t net_datagram_max = 1400;

// A UDP socket bound to `port` on every interface (0: one the system chooses), which other
// sockets may share (so two games on one machine both hear the port's broadcasts); with
// `broadcast` it may send to net_ipv4_broadcast. 0 on failure.
hnetsocket net_socket_open(std::uint16_t port, bool broadcast);
net_address net_socket_address(hnetsocket socket);
// Sends one datagram of 1 to net_datagram_max bytes; false when it did not leave whole.
bool net_socket_send_to(hnetsocket socket, const net_address& to,
                        std::span<const std::uint8_t> bytes);
// Waits up to `wait_ms` for a datagram: 1 one arrived (its sender in `from`, its bytes in
// `bytes`), 0 none within the time, -1 an error. Empty datagrams are not reported: ENet's
// receive cannot tell one from none.
int net_socket_receive(hnetsocket socket, net_address& from, std::vector<std::uint8_t>& bytes,
                       std::uint32_t wait_ms);
void net_socket_close(hnetsocket socket);

} // namespace os
