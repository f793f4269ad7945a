#include "os/net.h"

#include "os/fault.h"

#include <enet/enet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

namespace {

using std::chrono::steady_clock;

// ENet reports a link that timed out as a disconnect with data 0, the same event a disconnect
// the other side asked for with data 0 gives. Every disconnect this layer sends carries this
// bit, so an event without it is a silence, whatever data the game chose.
constexpr std::uint32_t disconnect_mark = 0x80000000;

// The largest UDP payload over IPv4: a receive buffer this large never cuts a datagram, so
// ENet's receive fails only on a real error (it fails on a cut one too).
constexpr std::size_t udp_payload_max = 65507;

struct host_record {
    ENetHost* enet = nullptr;
    os::net_traffic traffic;
};

struct peer_record {
    os::hnethost host = 0;
    ENetPeer* enet = nullptr;
    bool closing = false; // net_disconnect asked to end the link
};

struct socket_record {
    ENetSocket socket = ENET_SOCKET_NULL;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(udp_payload_max);
};

int users = 0;
std::map<os::hnethost, host_record> hosts;
std::map<os::hnetpeer, peer_record> peers;
std::map<os::hnetsocket, socket_record> sockets;
os::handle last_handle = 0;

os::handle new_handle() {
    do
        ++last_handle;
    while (last_handle == 0 || hosts.count(last_handle) || peers.count(last_handle) ||
           sockets.count(last_handle));
    return last_handle;
}

template <typename map> typename map::mapped_type* find(map& records, os::handle handle) {
    const auto found = records.find(handle);
    return found == records.end() ? nullptr : &found->second;
}

ENetAddress to_enet(const os::net_address& address) {
    return {ENET_HOST_TO_NET_32(address.ipv4), address.port};
}

os::net_address from_enet(const ENetAddress& address) {
    return {ENET_NET_TO_HOST_32(address.host), address.port};
}

std::uint32_t remaining_ms(steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
    return left.count() > 0 ? static_cast<std::uint32_t>(left.count()) : 0;
}

// ENet counts in 32 bits and leaves resetting the counts to its user: they move into the
// 64-bit totals after every call that may send or receive, long before 4 GiB could pile up.
void collect_traffic(host_record& host) {
    host.traffic.bytes_sent += host.enet->totalSentData;
    host.traffic.bytes_received += host.enet->totalReceivedData;
    host.traffic.packets_sent += host.enet->totalSentPackets;
    host.traffic.packets_received += host.enet->totalReceivedPackets;
    host.enet->totalSentData = 0;
    host.enet->totalReceivedData = 0;
    host.enet->totalSentPackets = 0;
    host.enet->totalReceivedPackets = 0;
}

void forget_peers_of(os::hnethost host) {
    std::erase_if(peers, [host](const auto& entry) { return entry.second.host == host; });
}

const std::pair<const os::hnetpeer, peer_record>* find_by_enet(os::hnethost host,
                                                               const ENetPeer* enet) {
    const auto found = std::find_if(peers.begin(), peers.end(), [&](const auto& entry) {
        return entry.second.host == host && entry.second.enet == enet;
    });
    return found == peers.end() ? nullptr : &*found;
}

// The peer's handle, a new one for a peer that connected to us.
os::hnetpeer handle_of(os::hnethost host, ENetPeer* enet) {
    if (const auto* known = find_by_enet(host, enet))
        return known->first;
    const os::hnetpeer handle = new_handle();
    peers[handle] = {host, enet, false};
    return handle;
}

void take_disconnect(const peer_record& peer, std::uint32_t data, os::net_event& out) {
    const bool asked_by_other_side = (data & disconnect_mark) != 0;
    out.kind = asked_by_other_side || peer.closing ? os::net_event_kind::disconnect
                                                   : os::net_event_kind::timeout;
    out.data = asked_by_other_side ? data & ~disconnect_mark : 0;
}

// Turns ENet's event into the layer's; false for one of a peer the game never met (a peer
// that went before its connect event was handed out, or was reset), which is passed over.
bool take_event(os::hnethost host, ENetEvent& event, os::net_event& out) {
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        out.kind = os::net_event_kind::connect;
        out.peer = handle_of(host, event.peer);
        out.data = event.data;
        return true;
    case ENET_EVENT_TYPE_RECEIVE: {
        const auto* known = find_by_enet(host, event.peer);
        if (known) {
            out.kind = os::net_event_kind::receive;
            out.peer = known->first;
            out.channel = event.channelID;
            const auto* data = event.packet->data;
            out.bytes.assign(data, data + event.packet->dataLength);
        }
        enet_packet_destroy(event.packet);
        return known != nullptr;
    }
    case ENET_EVENT_TYPE_DISCONNECT: {
        const auto* known = find_by_enet(host, event.peer);
        if (!known)
            return false;
        const os::hnetpeer peer = known->first;
        out.peer = peer;
        take_disconnect(known->second, event.data, out);
        peers.erase(peer);
        return true;
    }
    case ENET_EVENT_TYPE_NONE:
        break;
    }
    return false;
}

enet_uint32 packet_flags(os::net_delivery delivery) {
    switch (delivery) {
    case os::net_delivery::reliable:
        return ENET_PACKET_FLAG_RELIABLE;
    case os::net_delivery::unreliable_sequenced:
        return 0; // ENet's default
    case os::net_delivery::unsequenced:
        return ENET_PACKET_FLAG_UNSEQUENCED;
    }
    return ENET_PACKET_FLAG_RELIABLE; // a value outside the enum: the safest delivery
}

bool channels_in_range(std::size_t channels) {
    return channels >= 1 && channels <= ENET_PROTOCOL_MAXIMUM_CHANNEL_COUNT;
}

// Letters, digits, '-' and '.' as host names have, or a numeric address: anything else is no
// name a resolver should be asked about.
bool could_be_host_name(std::string_view name) {
    return !name.empty() && name.size() <= 253 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

// Closes every host and socket left open.
void close_everything() {
    for (auto& [handle, host] : hosts)
        enet_host_destroy(host.enet);
    for (auto& [handle, record] : sockets)
        enet_socket_destroy(record.socket);
    hosts.clear();
    peers.clear();
    sockets.clear();
}

bool configure_socket(ENetSocket socket, std::uint16_t port, bool broadcast) {
    const ENetAddress any{ENET_HOST_ANY, port};
    return enet_socket_set_option(socket, ENET_SOCKOPT_NONBLOCK, 1) == 0 &&
           enet_socket_set_option(socket, ENET_SOCKOPT_REUSEADDR, 1) == 0 &&
           (!broadcast || enet_socket_set_option(socket, ENET_SOCKOPT_BROADCAST, 1) == 0) &&
           enet_socket_bind(socket, &any) == 0;
}

} // namespace

namespace os {

bool net_initialize() {
    if (detail::injected_fault("net_initialize"))
        return false;
    if (users == 0 && enet_initialize() != 0)
        return false;
    ++users;
    return true;
}

void net_shutdown() {
    if (users == 0 || --users > 0)
        return;
    close_everything();
    enet_deinitialize();
}

bool net_resolve(const char* name, net_address& out) {
    if (detail::injected_fault("net_resolve") || !name || !could_be_host_name(name))
        return false;
    ENetAddress address{};
    if (enet_address_set_host(&address, name) != 0)
        return false;
    out.ipv4 = ENET_NET_TO_HOST_32(address.host);
    return true;
}

std::string net_address_text(const net_address& address) {
    char text[sizeof "255.255.255.255:65535"];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address.ipv4 >> 24,
                  address.ipv4 >> 16 & 0xff, address.ipv4 >> 8 & 0xff, address.ipv4 & 0xff,
                  static_cast<unsigned>(address.port));
    return text;
}

std::vector<net_address> net_local_addresses() {
    std::vector<net_address> found;
    ifaddrs* list = nullptr;
    if (detail::injected_fault("net_local_addresses") || getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET || !(at->ifa_flags & IFF_UP) ||
            (at->ifa_flags & IFF_LOOPBACK))
            continue;
        sockaddr_in address;
        std::memcpy(&address, at->ifa_addr, sizeof address);
        found.push_back({ENET_NET_TO_HOST_32(address.sin_addr.s_addr), 0});
    }
    freeifaddrs(list);
    return found;
}

hnethost net_host_create(const net_address* bind_to, std::size_t peer_count, std::size_t channels) {
    if (detail::injected_fault("net_host_create") || users == 0 || peer_count == 0 ||
        peer_count > ENET_PROTOCOL_MAXIMUM_PEER_ID || !channels_in_range(channels))
        return 0;
    const ENetAddress address = bind_to ? to_enet(*bind_to) : ENetAddress{};
    ENetHost* enet = enet_host_create(bind_to ? &address : nullptr, peer_count, channels, 0, 0);
    if (!enet)
        return 0;
    const hnethost handle = new_handle();
    hosts[handle].enet = enet;
    return handle;
}

void net_host_destroy(hnethost handle) {
    host_record* host = find(hosts, handle);
    if (!host)
        return;
    enet_host_destroy(host->enet);
    forget_peers_of(handle);
    hosts.erase(handle);
}

net_address net_host_address(hnethost handle) {
    const host_record* host = find(hosts, handle);
    ENetAddress address{};
    if (!host || enet_socket_get_address(host->enet->socket, &address) != 0)
        return {};
    return from_enet(address);
}

hnetpeer net_connect(hnethost handle, const net_address& to, std::size_t channels,
                     std::uint32_t data) {
    host_record* host = find(hosts, handle);
    if (detail::injected_fault("net_connect") || !host || !channels_in_range(channels) ||
        to.port == 0)
        return 0;
    const ENetAddress address = to_enet(to);
    ENetPeer* enet = enet_host_connect(host->enet, &address, channels, data);
    if (!enet)
        return 0;
    const hnetpeer peer = new_handle();
    peers[peer] = {handle, enet, false};
    return peer;
}

int net_service(hnethost handle, net_event& out, std::uint32_t timeout_ms) {
    out.kind = net_event_kind::none;
    out.peer = 0;
    out.channel = 0;
    out.data = 0;
    out.bytes.clear();
    host_record* host = find(hosts, handle);
    if (detail::injected_fault("net_service") || !host)
        return -1;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        ENetEvent event{};
        const int result = enet_host_service(host->enet, &event, remaining_ms(deadline));
        collect_traffic(*host);
        if (result <= 0)
            return result < 0 ? -1 : 0;
        if (take_event(handle, event, out))
            return 1;
    }
}

bool net_send(hnetpeer handle, std::uint8_t channel, std::span<const std::uint8_t> bytes,
              net_delivery delivery) {
    const peer_record* peer = find(peers, handle);
    if (detail::injected_fault("net_send") || !peer)
        return false;
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), packet_flags(delivery));
    if (!packet)
        return false;
    // ENet takes the packet only when it queues it: a refused one is still ours to free.
    if (enet_peer_send(peer->enet, channel, packet) != 0) {
        enet_packet_destroy(packet);
        return false;
    }
    return true;
}

void net_flush(hnethost handle) {
    host_record* host = find(hosts, handle);
    if (!host)
        return;
    enet_host_flush(host->enet);
    collect_traffic(*host);
}

bool net_disconnect(hnetpeer handle, std::uint32_t data) {
    peer_record* peer = find(peers, handle);
    if (!peer || data > net_disconnect_data_max)
        return false;
    peer->closing = true;
    // After every reliable packet queued before it has been acknowledged: a leave said just
    // before the disconnect would otherwise be dropped with the link when both arrive at once.
    enet_peer_disconnect_later(peer->enet, data | disconnect_mark);
    // A peer not connected yet has nothing to close: ENet resets it at once, with no event, and
    // may give its slot to the next connection.
    if (peer->enet->state == ENET_PEER_STATE_DISCONNECTED) {
        collect_traffic(hosts.at(peer->host));
        peers.erase(handle);
    }
    return true;
}

bool net_disconnect_now(hnetpeer handle, std::uint32_t data) {
    const peer_record* peer = find(peers, handle);
    if (!peer || data > net_disconnect_data_max)
        return false;
    enet_peer_disconnect_now(peer->enet, data | disconnect_mark); // sends at once
    collect_traffic(hosts.at(peer->host));
    peers.erase(handle);
    return true;
}

void net_reset(hnetpeer handle) {
    const peer_record* peer = find(peers, handle);
    if (!peer)
        return;
    enet_peer_reset(peer->enet);
    peers.erase(handle);
}

net_address net_peer_address(hnetpeer handle) {
    const peer_record* peer = find(peers, handle);
    return peer ? from_enet(peer->enet->address) : net_address{};
}

std::uint32_t net_peer_round_trip_ms(hnetpeer handle) {
    const peer_record* peer = find(peers, handle);
    return peer ? peer->enet->roundTripTime : 0;
}

void net_set_peer_timeout(hnetpeer handle, std::uint32_t limit, std::uint32_t minimum_ms,
                          std::uint32_t maximum_ms, std::uint32_t ping_interval_ms) {
    const peer_record* peer = find(peers, handle);
    if (!peer)
        return;
    enet_peer_timeout(peer->enet, limit, minimum_ms, maximum_ms);
    enet_peer_ping_interval(peer->enet, ping_interval_ms);
}

net_traffic net_host_traffic(hnethost handle) {
    host_record* host = find(hosts, handle);
    if (!host)
        return {};
    collect_traffic(*host);
    return host->traffic;
}

hnetsocket net_socket_open(std::uint16_t port, bool broadcast) {
    if (detail::injected_fault("net_socket_open") || users == 0)
        return 0;
    const ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    if (socket == ENET_SOCKET_NULL)
        return 0;
    if (!configure_socket(socket, port, broadcast)) {
        enet_socket_destroy(socket);
        return 0;
    }
    const hnetsocket handle = new_handle();
    sockets[handle].socket = socket;
    return handle;
}

net_address net_socket_address(hnetsocket handle) {
    const socket_record* record = find(sockets, handle);
    ENetAddress address{};
    if (!record || enet_socket_get_address(record->socket, &address) != 0)
        return {};
    return from_enet(address);
}

bool net_socket_send_to(hnetsocket handle, const net_address& to,
                        std::span<const std::uint8_t> bytes) {
    const socket_record* record = find(sockets, handle);
    if (detail::injected_fault("net_socket_send_to") || !record || bytes.empty() ||
        bytes.size() > net_datagram_max || to.port == 0)
        return false;
    const ENetAddress address = to_enet(to);
    // ENet's buffer is not const, but sending only reads it.
    ENetBuffer buffer{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    return enet_socket_send(record->socket, &address, &buffer, 1) == static_cast<int>(bytes.size());
}

int net_socket_receive(hnetsocket handle, net_address& from, std::vector<std::uint8_t>& bytes,
                       std::uint32_t wait_ms) {
    bytes.clear();
    socket_record* record = find(sockets, handle);
    if (detail::injected_fault("net_socket_receive") || !record)
        return -1;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        ENetAddress sender{};
        ENetBuffer buffer{record->buffer.data(), record->buffer.size()};
        const int got = enet_socket_receive(record->socket, &sender, &buffer, 1);
        if (got < 0)
            return -1;
        const auto length = static_cast<std::size_t>(got);
        if (length > 0 && length <= net_datagram_max) {
            from = from_enet(sender);
            bytes.assign(record->buffer.begin(), record->buffer.begin() + got);
            return 1;
        }
        if (length > net_datagram_max)
            continue; // dropped; the next one may already wait
        const std::uint32_t left = remaining_ms(deadline);
        if (left == 0)
            return 0;
        // A signal (the game's quit request) that cuts the wait short is no error: the wait
        // goes on for the rest of its time.
        enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE | ENET_SOCKET_WAIT_INTERRUPT;
        if (enet_socket_wait(record->socket, &condition, left) != 0)
            return -1;
    }
}

void net_socket_close(hnetsocket handle) {
    socket_record* record = find(sockets, handle);
    if (!record)
        return;
    enet_socket_destroy(record->socket);
    sockets.erase(handle);
}

} // namespace os
