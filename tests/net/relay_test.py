#!/usr/bin/python3
"""Tests of relay.py, run as the scripts run it, between clients and a server socket of the
test's own that echoes what it gets; and of start_relay in tests/e2e/lib.sh.

The tests wait for what they must see; the deadline (30 s times BREVOX_E2E_TIME_FACTOR) only
ends a hang. What must not come is checked once the relay has said it acted on a later signal:
it takes what came before a signal first.
"""
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DEADLINE_S = 30 * int(os.environ.get("BREVOX_E2E_TIME_FACTOR", "1"))


def udp_socket(port=0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", port))
    return s


class RelayTest(unittest.TestCase):
    def setUp(self):
        self.server = udp_socket()
        self.addCleanup(lambda: self.server.close())
        self.at_server = []  # (source, datagram) as they came
        self.echo = True
        self.received = {}  # client socket: the datagrams it got
        self.scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.scratch)
        self.relays = 0

    def start_relay(self, *options):
        self.relays += 1
        ready = os.path.join(self.scratch, f"port{self.relays}")
        self.relay = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "relay.py"), "--listen", "0", "--to",
             f"127.0.0.1:{self.server.getsockname()[1]}", "--ready-file", ready, *options],
            stderr=subprocess.PIPE)
        self.said = ""  # what the relay said and no signal_and_expect took yet
        self.addCleanup(self.relay.kill)
        self.addCleanup(self.relay.stderr.close)
        self.wait_until("the ready file", lambda: os.path.exists(ready))
        with open(ready, encoding="ascii") as f:
            self.relay_port = int(f.read())

    def client(self, *datagrams):
        s = udp_socket()
        self.addCleanup(s.close)
        self.received[s] = []
        self.send(s, *datagrams)
        return s

    def send(self, client, *datagrams):
        for datagram in datagrams:
            client.sendto(datagram, ("127.0.0.1", self.relay_port))

    def take_ready(self, timeout):
        """Takes the datagrams at the server (echoing them) and the clients; False if none."""
        readable = select.select([self.server, *self.received], [], [], timeout)[0]
        for s in readable:
            datagram, source = s.recvfrom(65536)
            if s is self.server:
                self.at_server.append((source, datagram))
                if self.echo:
                    s.sendto(datagram, source)
            else:
                self.received[s].append(datagram)
        return bool(readable)

    def wait_until(self, what, condition):
        deadline = time.monotonic() + DEADLINE_S
        while not condition():
            self.assertIsNone(self.relay.poll(), f"the relay ended waiting for {what}")
            self.assertLess(time.monotonic(), deadline, f"gave up waiting for {what}")
            self.take_ready(0.02)

    def read_said(self, timeout):
        """Adds what the relay says within timeout to said; False at its end."""
        if not select.select([self.relay.stderr], [], [], timeout)[0]:
            return True
        chunk = os.read(self.relay.stderr.fileno(), 4096).decode()
        self.said += chunk
        return chunk != ""

    def signal_and_expect(self, number, text):
        self.relay.send_signal(number)
        deadline = time.monotonic() + DEADLINE_S
        while text not in self.said:
            self.assertLess(time.monotonic(), deadline, f"'{text}' not in {self.said!r}")
            self.assertTrue(self.read_said(0.1), f"the relay ended before saying '{text}'")
        self.said = self.said.partition(text)[2]

    def end_relay(self):
        """Ends the relay, takes what it delivered, and gives its counts."""
        self.relay.send_signal(signal.SIGTERM)
        self.assertEqual(self.relay.wait(DEADLINE_S), 0)
        while self.read_said(0) or self.take_ready(0):
            pass
        last = self.said.splitlines()[-1]
        self.assertTrue(last.startswith("relay: up_datagrams="), self.said)
        return {name: int(value) for name, value in (w.split("=") for w in last.split()[1:])}

    def at_server_payloads(self):
        return [datagram for _, datagram in self.at_server]

    def test_a_burst_comes_back_whole_reordered_by_jitter_and_counted(self):
        self.start_relay("--delay", "400", "--jitter", "400", "--loss", "0")
        burst = [b"", bytes(range(256)) * 255 + b"end"] + [b"%03d" % i * i for i in range(1, 21)]
        client = self.client(*burst)
        self.wait_until("the echoes", lambda: len(self.received[client]) == len(burst))
        self.assertCountEqual(self.received[client], burst)
        self.assertNotEqual(self.received[client], burst)
        self.assertEqual(len({source for source, _ in self.at_server}), 1)
        size = sum(map(len, burst))
        self.assertEqual(self.end_relay(), {
            "up_datagrams": 22, "up_bytes": size, "up_dropped": 0, "down_datagrams": 22,
            "down_bytes": size, "down_dropped": 0, "clients": 1, "over_limit": 0,
            "unreachable": 0, "errors": 0})

    def lossy_run(self, *options):
        """Which of 40 datagrams reached the server through a relay with options."""
        self.at_server.clear()
        self.echo = False
        self.start_relay(*options)
        self.client(*[b"%d" % i for i in range(40)])
        counts = self.end_relay()
        self.assertEqual((counts["up_datagrams"], counts["up_dropped"]),
                         (40, 40 - len(self.at_server)))
        return self.at_server_payloads()

    def test_loss_follows_the_seed_and_takes_all_at_100_percent(self):
        kept = self.lossy_run("--loss", "50", "--seed", "7")
        self.assertTrue(0 < len(kept) < 40, kept)
        self.assertEqual(self.lossy_run("--loss", "50", "--seed", "7"), kept)
        self.assertEqual(self.lossy_run("--loss", "100"), [])

    def test_the_queue_limit_drops_and_counts_and_the_end_drops_what_is_on_its_way(self):
        self.start_relay("--delay", "3600000", "--queue-limit", str(10 * (100 + 64)))
        self.client(*[bytes(100)] * 15)
        counts = self.end_relay()
        self.assertEqual((counts["up_datagrams"], counts["over_limit"], counts["up_dropped"]),
                         (15, 5, 15))
        self.assertEqual(self.at_server, [])

    def test_a_cut_silences_both_ways_and_what_is_on_its_way_until_restored(self):
        self.start_relay("--delay", "1000")
        client = self.client(b"hello")
        self.wait_until("the first echo", lambda: self.received[client] == [b"hello"])
        self.send(client, b"on its way")
        self.signal_and_expect(signal.SIGUSR1, "link cut")
        self.send(client, *[b"up %d" % i for i in range(5)])
        for i in range(5):
            self.server.sendto(b"down %d" % i, self.at_server[0][0])
        self.signal_and_expect(signal.SIGUSR2, "link restored")
        self.send(client, b"after")
        self.wait_until("the echo after the cut", lambda: self.received[client][-1] == b"after")
        self.assertEqual(self.at_server_payloads(), [b"hello", b"after"])
        self.assertEqual(self.received[client], [b"hello", b"after"])
        counts = self.end_relay()
        self.assertEqual((counts["up_dropped"], counts["down_dropped"]), (6, 5))

    def test_each_client_has_an_upstream_address_of_its_own(self):
        self.start_relay()
        clients = [self.client(b"%d first" % n, b"%d second" % n) for n in range(3)]
        self.wait_until("the echoes", lambda: all(len(self.received[c]) == 2 for c in clients))
        for n, client in enumerate(clients):
            self.assertEqual(self.received[client], [b"%d first" % n, b"%d second" % n])
        client_and_source = {(datagram[:1], source) for source, datagram in self.at_server}
        self.assertEqual(len(client_and_source), 3)
        self.assertEqual(len({source for _, source in client_and_source}), 3)
        self.assertEqual(self.end_relay()["clients"], 3)

    def test_a_server_gone_and_back_does_not_end_the_relay(self):
        self.start_relay()
        client = self.client(b"one")
        self.wait_until("the first echo", lambda: self.received[client] == [b"one"])
        port = self.server.getsockname()[1]
        self.server.close()
        self.send(client, *[b"to nobody"] * 3)
        # Restoring a link not cut changes nothing; once said, what came before has been sent.
        self.signal_and_expect(signal.SIGUSR2, "link restored")
        self.server = udp_socket(port)
        self.send(client, b"two")
        self.wait_until("the echo", lambda: self.received[client][-1] == b"two")
        counts = self.end_relay()
        self.assertEqual((counts["unreachable"] > 0, counts["errors"]), (True, 0))

    def test_the_control_file_changes_the_link_and_a_wrong_one_changes_nothing(self):
        control = os.path.join(self.scratch, "control")
        self.start_relay("--control", control)
        client = self.client()
        for text, said in (("# drop all\nloss 100\n", "delay 0 ms, jitter 0 ms, loss 100 %"),
                           ("loss 0\nloss 250\n", "loss 250 is not within 0 and 100; the link"
                                                  " is unchanged"),
                           ("loss 0\njitter", "line 2, 'jitter', is not"),
                           ("loss 0\n", "loss 0 %")):
            with open(control, "w", encoding="utf-8") as f:
                f.write(text)
            self.signal_and_expect(signal.SIGHUP, said)
            self.send(client, said.encode())
        self.wait_until("the echo", lambda: self.received[client] == [b"loss 0 %"])
        self.assertEqual(self.at_server_payloads(), [b"loss 0 %"])

    def test_start_relay_of_the_e2e_scripts_gives_its_port_and_ends_it(self):
        script = ('set -euo pipefail; e2e_name=relay_test; source "$1"; start_relay port "$2"'
                  ' --delay 20; echo "$port ${relay_pids[0]}"; read -r')
        self.relay = subprocess.Popen(  # the shell stands for the relay it starts
            ["bash", "-c", script, "bash", os.path.join(HERE, "..", "e2e", "lib.sh"),
             str(self.server.getsockname()[1])], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(self.relay.kill)
        self.addCleanup(self.relay.stdout.close)
        self.relay_port, pid = map(int, self.relay.stdout.readline().split())
        self.addCleanup(subprocess.run, ["kill", "-KILL", str(pid)], stderr=subprocess.DEVNULL)
        client = self.client(b"through the helper")
        self.wait_until("the echo", lambda: self.received[client] == [b"through the helper"])
        self.relay.stdin.close()
        self.assertEqual(self.relay.wait(DEADLINE_S), 1)  # read's status at the input's end
        with self.assertRaises(ProcessLookupError, msg="the relay outlived the script"):
            os.kill(pid, 0)


if __name__ == "__main__":
    unittest.main()
