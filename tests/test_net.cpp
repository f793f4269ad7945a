// The network, on the loopback interface: a guest that connects, talks and leaves; the three
// deliveries through a relay that drops and swaps datagrams; links that go silent; the plain UDP
// socket; failures and bad input. Loops wait for what they must see; their bound only ends a
// hang.
#include "os/fault.h"
#include "os/net.h"
#include "support/test_env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

namespace {

using bytes = std::vector<std::uint8_t>;
using os::net_event_kind;

// Each round services every host for at most a few milliseconds: some twenty seconds in all.
constexpr int rounds_max = 4000;

os::hnethost loopback_server(std::size_t peers, std::size_t channels) {
    const os::net_address any_port{os::net_ipv4_loopback, 0};
    return os::net_host_create(&any_port, peers, channels);
}

// Where to reach a host or a socket from this machine.
os::net_address loopback(std::uint16_t port) { return {os::net_ipv4_loopback, port}; }

// A UDP relay between one client and a server, made of the layer's own socket: it forwards
// every datagram, and on demand drops the client's or swaps the next two of them.
class relay {
public:
    explicit relay(os::net_address server)
        : server(server), socket(os::net_socket_open(0, false)) {}

    os::net_address address() const { return loopback(os::net_socket_address(socket).port); }

    void pump() {
        os::net_address from;
        bytes datagram;
        while (os::net_socket_receive(socket, from, datagram, 0) == 1) {
            if (from == server) {
                os::net_socket_send_to(socket, client, datagram);
                continue;
            }
            client = from;
            if (dropping) {
                ++dropped;
            } else if (swapping && held.empty()) {
                held = datagram;
            } else {
                os::net_socket_send_to(socket, server, datagram);
                if (!held.empty())
                    os::net_socket_send_to(socket, server, held);
                held.clear();
                swapping = false;
            }
        }
    }

    bool dropping = false;
    int dropped = 0;
    bool swapping = false; // the client's next datagram goes after the one that follows it

private:
    os::net_address server, client;
    os::hnetsocket socket;
    bytes held;
};

// Hosts serviced together, the events each one handed out kept in order.
class network {
public:
    network(std::initializer_list<os::hnethost> hosts, relay* through = nullptr)
        : through(through) {
        for (const os::hnethost host : hosts)
            events[host];
    }

    std::map<os::hnethost, std::vector<os::net_event>> events;

    // Services every host (and the relay) until `done`; false when the rounds run out.
    bool run_until(const std::function<bool()>& done) {
        for (int round = 0; round < rounds_max && !done(); ++round) {
            for (auto& [host, heard] : events) {
                os::net_event event;
                for (std::uint32_t wait = 2; os::net_service(host, event, wait) == 1; wait = 0)
                    heard.push_back(event);
            }
            if (through)
                through->pump();
        }
        return done();
    }

    bool connected(os::hnethost one, os::hnethost other) {
        return run_until([&] {
            return count(one, net_event_kind::connect) && count(other, net_event_kind::connect);
        });
    }

    std::size_t count(os::hnethost host, net_event_kind kind) const {
        const auto& heard = events.at(host);
        return std::count_if(heard.begin(), heard.end(),
                             [kind](const os::net_event& e) { return e.kind == kind; });
    }

    const os::net_event& first(os::hnethost host, net_event_kind kind) const {
        const auto& heard = events.at(host);
        return *std::find_if(heard.begin(), heard.end(),
                             [kind](const os::net_event& e) { return e.kind == kind; });
    }

    // What arrived on one channel, in order.
    std::vector<bytes> received(os::hnethost host, std::uint8_t channel) const {
        std::vector<bytes> out;
        for (const auto& e : events.at(host))
            if (e.kind == net_event_kind::receive && e.channel == channel)
                out.push_back(e.bytes);
        return out;
    }

private:
    relay* through;
};

class net_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_TRUE(os::net_initialize());
    }
    // The last shutdown closes whatever a test left open.
    void TearDown() override {
        os::net_shutdown();
        brevox_test::TearDown();
    }
};

// A guest connects with its data, each delivery keeps its promise through a link that drops and
// swaps datagrams, the wire is counted with ENet's headers, and a disconnect says its data.
TEST_F(net_test, EachDeliveryKeepsItsPromiseThroughALinkThatDropsAndSwapsDatagrams) {
    const os::hnethost server = loopback_server(1, 3);
    const os::hnethost guest = os::net_host_create(nullptr, 1, 3);
    relay link(loopback(os::net_host_address(server).port));
    network net({server, guest}, &link);
    // A connect called off before it went out leaves nothing behind in the guest's one slot.
    EXPECT_TRUE(os::net_disconnect(os::net_connect(guest, link.address(), 3, 0), 0));
    const os::hnetpeer peer = os::net_connect(guest, link.address(), 3, 0x1234abcd);
    ASSERT_TRUE(net.connected(server, guest));
    EXPECT_EQ(net.first(server, net_event_kind::connect).data, 0x1234abcdu);
    EXPECT_EQ(net.first(guest, net_event_kind::connect).peer, peer);
    EXPECT_FALSE(os::net_send(peer, 3, bytes{1}, os::net_delivery::reliable)) << "channel 3";

    // 1 and 2 arrive swapped, then a reliable 9 that shows the channel is through.
    const auto swap_then_fence = [&](std::uint8_t channel, os::net_delivery delivery) {
        link.swapping = true;
        os::net_send(peer, channel, bytes{1}, delivery);
        os::net_flush(guest);
        os::net_send(peer, channel, bytes{2}, delivery);
        os::net_flush(guest);
        os::net_send(peer, channel, bytes{9}, os::net_delivery::reliable);
        return net.run_until([&] {
            return net.received(server, channel).size() >= 2 &&
                   net.received(server, channel).back() == bytes{9};
        });
    };
    ASSERT_TRUE(swap_then_fence(1, os::net_delivery::unreliable_sequenced));
    EXPECT_EQ(net.received(server, 1), (std::vector<bytes>{{2}, {9}})) << "the older 1 dropped";
    ASSERT_TRUE(swap_then_fence(2, os::net_delivery::unsequenced));
    EXPECT_EQ(net.received(server, 2), (std::vector<bytes>{{2}, {1}, {9}}));

    // One datagram of each kind lost: only the reliable one is sent again.
    link.dropping = true;
    os::net_send(peer, 0, bytes{5}, os::net_delivery::reliable);
    os::net_send(peer, 1, bytes{6}, os::net_delivery::unreliable_sequenced);
    os::net_send(peer, 2, bytes{7}, os::net_delivery::unsequenced);
    os::net_flush(guest);
    ASSERT_TRUE(net.run_until([&] { return link.dropped > 0; }));
    link.dropping = false;
    os::net_send(peer, 1, bytes{10}, os::net_delivery::reliable);
    os::net_send(peer, 2, bytes{10}, os::net_delivery::reliable);
    ASSERT_TRUE(net.run_until([&] {
        return net.received(server, 0).size() == 1 && net.received(server, 1).back() == bytes{10} &&
               net.received(server, 2).back() == bytes{10};
    }));
    EXPECT_EQ(net.received(server, 0), std::vector<bytes>{{5}});
    EXPECT_EQ(net.received(server, 1), (std::vector<bytes>{{2}, {9}, {10}}));
    EXPECT_EQ(net.received(server, 2), (std::vector<bytes>{{2}, {1}, {9}, {10}}));

    // ENet's headers go on the wire beside the 11 bytes of payload; a second look adds nothing.
    for (const os::hnethost host : {guest, server}) {
        const os::net_traffic traffic = os::net_host_traffic(host);
        EXPECT_GT(traffic.bytes_sent, 11u);
        EXPECT_GT(traffic.packets_received, 1u);
        EXPECT_EQ(os::net_host_traffic(host).bytes_sent, traffic.bytes_sent);
    }
    ASSERT_TRUE(os::net_disconnect(peer, 7));
    ASSERT_TRUE(net.run_until([&] { return net.count(server, net_event_kind::disconnect) > 0; }));
    EXPECT_EQ(net.first(server, net_event_kind::disconnect).data, 7u);
    EXPECT_FALSE(os::net_send(peer, 0, bytes{1}, os::net_delivery::reliable))
        << "the handle is forgotten";
}

TEST_F(net_test, ASilentLinkTimesOutByItsOwnLimitAndAnUnansweredConnectToo) {
    const os::hnethost server = loopback_server(2, 1);
    const os::hnethost quick = os::net_host_create(nullptr, 1, 1);
    const os::hnethost slow = os::net_host_create(nullptr, 1, 1);
    const os::hnethost lonely = os::net_host_create(nullptr, 1, 1);
    network net{server, quick, slow, lonely};
    const os::net_address server_address = loopback(os::net_host_address(server).port);
    os::net_connect(quick, server_address, 1, 0);
    os::net_connect(slow, server_address, 1, 0);
    ASSERT_TRUE(net.run_until([&] { return net.count(server, net_event_kind::connect) == 2; }));
    os::hnetpeer to_quick = 0, to_slow = 0;
    for (const os::net_event& e : net.events[server]) {
        const bool is_quick = os::net_peer_address(e.peer).port == os::net_host_address(quick).port;
        (is_quick ? to_quick : to_slow) = e.peer;
    }
    ASSERT_NE(to_quick, 0u);
    ASSERT_NE(to_slow, 0u);
    os::net_set_peer_timeout(to_quick, 0, 200, 1000, 100);
    os::net_set_peer_timeout(to_slow, 0, 3000, 3000, 100);

    // A port nobody listens on, for a connect that is never answered.
    const os::hnetsocket closed = os::net_socket_open(0, false);
    const os::net_address nobody = loopback(os::net_socket_address(closed).port);
    os::net_socket_close(closed);
    const os::hnetpeer unanswered = os::net_connect(lonely, nobody, 1, 0);
    os::net_set_peer_timeout(unanswered, 0, 200, 1000, 100);

    // The slow guest goes silent first, and the server has pinged it unanswered, so that with
    // equal limits it would be the first to time out.
    os::net_host_destroy(slow);
    net.events.erase(slow);
    const std::uint64_t sent_before = os::net_host_traffic(server).packets_sent;
    ASSERT_TRUE(net.run_until(
        [&] { return os::net_host_traffic(server).packets_sent >= sent_before + 10; }));
    os::net_host_destroy(quick);
    net.events.erase(quick);
    ASSERT_TRUE(net.run_until([&] { return net.count(server, net_event_kind::timeout) > 0; }));
    EXPECT_EQ(net.first(server, net_event_kind::timeout).peer, to_quick);
    EXPECT_EQ(net.count(server, net_event_kind::disconnect), 0u);
    ASSERT_TRUE(net.run_until([&] { return net.count(lonely, net_event_kind::timeout) > 0; }));
    EXPECT_EQ(net.first(lonely, net_event_kind::timeout).peer, unanswered);
    EXPECT_EQ(net.count(lonely, net_event_kind::connect), 0u);
}

TEST_F(net_test, ASocketHearsADatagramWithItsSenderAndDropsAnOverlongOne) {
    const os::hnetsocket listener = os::net_socket_open(0, true);
    const os::hnetsocket sender = os::net_socket_open(0, true);
    const os::net_address to = loopback(os::net_socket_address(listener).port);
    os::net_address from;
    bytes got{1, 2, 3};
    EXPECT_EQ(os::net_socket_receive(listener, from, got, 20), 0);
    EXPECT_TRUE(got.empty());

    // One byte too many, from a socket of the system's own: the layer would not send it.
    const bytes overlong(os::net_datagram_max + 1, 'x');
    EXPECT_FALSE(os::net_socket_send_to(sender, to, overlong));
    const int raw = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(raw, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(to.ipv4);
    target.sin_port = htons(to.port);
    EXPECT_EQ(::sendto(raw, overlong.data(), overlong.size(), 0,
                       reinterpret_cast<const sockaddr*>(&target), sizeof target),
              static_cast<ssize_t>(overlong.size()));
    ::close(raw);

    const bytes hello{'h', 'e', 'l', 'l', 'o'};
    ASSERT_TRUE(os::net_socket_send_to(sender, to, hello));
    ASSERT_EQ(os::net_socket_receive(listener, from, got, 10'000), 1);
    EXPECT_EQ(got, hello) << "the overlong one before it was dropped";
    EXPECT_EQ(from, loopback(os::net_socket_address(sender).port));
    EXPECT_EQ(os::net_socket_receive(listener, from, got, 0), 0);
}

TEST_F(net_test, FailuresAndBadInputGetAClearAnswer) {
    const os::net_address any_port{os::net_ipv4_loopback, 0};
    const os::hnethost host = os::net_host_create(&any_port, 1, 1);
    os::net_event event;
    EXPECT_EQ(os::net_service(host + 1000, event, 0), -1) << "no such host";

    os::net_address resolved{0, 28777};
    EXPECT_FALSE(os::net_resolve("no such host", resolved));
    EXPECT_FALSE(os::net_resolve("", resolved));
    EXPECT_TRUE(os::net_resolve("192.168.1.5", resolved));
    EXPECT_EQ(resolved, (os::net_address{0xc0a80105, 28777}));
    EXPECT_EQ(os::net_address_text(resolved), "192.168.1.5:28777");
    for (const os::net_address& local : os::net_local_addresses())
        EXPECT_NE(local.ipv4 >> 24, 127u) << os::net_address_text(local);

    // Outside a net_initialize and net_shutdown pair nothing is made.
    os::net_shutdown();
    EXPECT_EQ(os::net_host_create(&any_port, 1, 1), 0u);
    EXPECT_EQ(os::net_socket_open(0, false), 0u);
    ASSERT_TRUE(os::net_initialize());
}

} // namespace
