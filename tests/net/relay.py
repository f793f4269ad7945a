#!/usr/bin/python3
"""A UDP relay that makes the link bad on purpose: two game processes on one machine talk
through it over loopback as over the internet, for the network tests and benchmarks.

    relay.py --listen PORT --to HOST:PORT [--delay MS] [--jitter MS] [--loss PERCENT]
             [--seed N] [--queue-limit BYTES] [--ready-file FILE] [--control FILE]

It listens on 127.0.0.1:PORT (0: any free port) and gives every client address a socket of its
own toward HOST:PORT (a name or an IPv4 address), as NAT would, so that clients stay apart. Each
datagram, each way, is lost at --loss PERCENT, else delivered after half of --delay (the round
trip, in ms) give or take up to half of --jitter, uniformly, and never before it came: jitter
reorders. With --seed N, whether the i-th datagram of the k-th client is lost, each way, and how
long it takes depend on N, k and i alone: the same traffic is dropped and delayed alike in every
run.

Once it listens it writes its port and a newline into the ready file, whole at once: scripts
wait for the file. SIGUSR1 cuts the link (everything both ways, also what is on its way, is
dropped) until SIGUSR2 restores it. SIGHUP reads new settings from the control file: lines
"delay MS", "jitter MS" or "loss PERCENT" ("#" starts a comment); a file with any other line
changes nothing. SIGTERM or SIGINT ends it. Each change is a line on standard error ("relay:
link cut", "relay: link restored", "relay: delay 80 ms, jitter 10 ms, loss 5 %"): wait for it
before the next signal, since the kernel may tell signals sent together in either order. The end
is one line of counts:

    relay: up_datagrams=N up_bytes=N up_dropped=N down_datagrams=N down_bytes=N
    down_dropped=N clients=N over_limit=N unreachable=N errors=N        (on one line)

"up" is from the clients toward HOST:PORT, "down" back. Datagrams and bytes are those that came,
dropped those lost: to the loss, a cut, the limits, a failed send or the end. over_limit counts
the datagrams past the queue limit (BYTES of datagrams on their way, each counting its length
plus 64; 1 MiB by default) or from clients past the 64th; unreachable the "port unreachable"
answers the sockets reported (a peer that is not or no longer listening); errors any other
failure of a socket, the first of each kind also told on standard error. Nothing a peer sends
or does ends the relay.
"""
import argparse
import dataclasses
import heapq
import itertools
import os
import random
import selectors
import signal
import socket
import stat
import sys
import time

MAX_DATAGRAM = 65535
QUEUE_ENTRY_COST = 64  # what a datagram on its way costs beyond its bytes, near enough
MAX_CLIENTS = 64
READS_PER_WAKE = 256  # per socket and wake, so that one flooding peer cannot starve the rest
CONTROL_FILE_LIMIT = 65536
UP, DOWN = 0, 1
DIRECTIONS = ("up", "down")
COUNTS = ("up_datagrams", "up_bytes", "up_dropped", "down_datagrams", "down_bytes",
          "down_dropped", "clients", "over_limit", "unreachable", "errors")
SETTING_RANGES = {"delay": (0.0, 3_600_000.0), "jitter": (0.0, 3_600_000.0),
                  "loss": (0.0, 100.0)}
ENDING_SIGNALS = (signal.SIGTERM, signal.SIGINT)


def say(line):
    print(f"relay: {line}", file=sys.stderr, flush=True)


def setting_value(name, text):
    """The value of a setting given as text; ValueError says what is wrong with it."""
    low, high = SETTING_RANGES[name]
    try:
        value = float(text)
    except ValueError:
        raise ValueError(f"{name} '{text}' is not a number") from None
    if not low <= value <= high:  # NaN fails too
        raise ValueError(f"{name} {text} is not within {low:g} and {high:g}")
    return value


@dataclasses.dataclass
class Settings:
    delay: float = 0.0  # ms, the round trip
    jitter: float = 0.0  # ms
    loss: float = 0.0  # percent

    def __str__(self):
        return f"delay {self.delay:g} ms, jitter {self.jitter:g} ms, loss {self.loss:g} %"


def read_control_file(path, settings):
    """The settings with the control file's lines applied; ValueError when any line is wrong,
    OSError when the file cannot be read."""
    # Without blocking, and a regular file only: a FIFO without a writer would stop the relay.
    with open(os.open(path, os.O_RDONLY | os.O_NONBLOCK), "rb") as f:
        if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
            raise ValueError("not a regular file")
        data = f.read(CONTROL_FILE_LIMIT + 1)
    if len(data) > CONTROL_FILE_LIMIT:
        raise ValueError(f"longer than {CONTROL_FILE_LIMIT} bytes")
    changes = {}
    for number, line in enumerate(data.decode("utf-8", "replace").splitlines(), 1):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if len(words) != 2 or words[0] not in SETTING_RANGES:
            raise ValueError(f"line {number}, '{line.strip()}', is not 'delay MS', 'jitter MS' "
                             "or 'loss PERCENT'")
        changes[words[0]] = setting_value(words[0], words[1])
    return dataclasses.replace(settings, **changes)


class Client:
    """A client address, its socket toward the server and the random draws of each way."""

    def __init__(self, address, upstream, index, seed):
        self.address = address
        self.upstream = upstream
        # Strings seed the same way in every run (unlike hash()): one stream for each way, so
        # that one way's draws do not depend on how its datagrams interleave with the other's.
        self.draws = [random.Random(f"{seed}:{index}:{way}") if seed is not None
                      else random.Random() for way in DIRECTIONS]


class Relay:
    def __init__(self, listener, target, settings, seed, queue_limit, control_path, wakeup):
        self.listener = listener
        self.target = target
        self.settings = settings
        self.seed = seed
        self.queue_limit = queue_limit
        self.control_path = control_path
        self.wakeup = wakeup
        self.selector = selectors.DefaultSelector()
        self.selector.register(listener, selectors.EVENT_READ, None)
        self.selector.register(wakeup, selectors.EVENT_READ, "signals")
        self.clients = {}
        self.queue = []  # a heap of (due, arrival order, direction, client, datagram)
        self.arrivals = itertools.count()
        self.queued_bytes = 0
        self.cut = False
        self.counts = dict.fromkeys(COUNTS, 0)
        self.errors_told = set()

    def run(self):
        """Relays until SIGTERM or SIGINT, then says the counts. Within one wake the datagrams
        that came are taken before the signals, so that what was sent before a signal meets the
        link as it was. Signals that come together may be told in any order (the kernel's):
        the end comes after the others."""
        while True:
            signals = self.wait_and_read()
            self.deliver_due()
            for number in signals:
                self.on_signal(number)
            if any(number in ENDING_SIGNALS for number in signals):
                self.finish()
                return

    def wait_and_read(self):
        timeout = max(0.0, self.queue[0][0] - time.monotonic()) if self.queue else None
        signals = []
        for key, _ in self.selector.select(timeout):
            if key.data == "signals":
                signals += self.wakeup.recv(256)
            elif key.data is None:
                self.read_clients()
            else:
                self.read_server(key.data)
        return signals

    def read_clients(self):
        for _ in range(READS_PER_WAKE):
            try:
                datagram, address = self.listener.recvfrom(MAX_DATAGRAM)
            except BlockingIOError:
                return
            except OSError as error:
                self.count_error(error, "receiving from the clients")
                return
            self.take(UP, self.client_for(address, len(datagram)), datagram)

    def read_server(self, client):
        for _ in range(READS_PER_WAKE):
            try:
                datagram = client.upstream.recv(MAX_DATAGRAM)
            except BlockingIOError:
                return
            except OSError as error:
                self.count_error(error, "receiving from the server")
                return
            self.take(DOWN, client, datagram)

    def client_for(self, address, size):
        """The client of this address, made at its first datagram; None (the datagram counted
        as dropped) past the client limit or when its socket cannot be made."""
        client = self.clients.get(address)
        if client is None:
            if len(self.clients) < MAX_CLIENTS:
                client = self.open_client(address)
            else:
                self.counts["over_limit"] += 1
            if client is None:
                self.count_in(UP, size)
                self.drop(UP)
        return client

    def open_client(self, address):
        upstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            upstream.setblocking(False)
            upstream.connect(self.target)
        except OSError as error:
            upstream.close()
            self.count_error(error, "opening a socket toward the server")
            return None
        client = Client(address, upstream, len(self.clients), self.seed)
        self.clients[address] = client
        self.counts["clients"] = len(self.clients)
        self.selector.register(upstream, selectors.EVENT_READ, client)
        return client

    def take(self, direction, client, datagram):
        """Counts a datagram that came, then loses it, drops it or queues it for its time."""
        if client is None:
            return
        self.count_in(direction, len(datagram))
        draws = client.draws[direction]
        # Both drawn always, so that each datagram's fate depends on its place alone.
        lost = draws.random() * 100 < self.settings.loss
        spread = draws.uniform(-0.5, 0.5) * self.settings.jitter
        cost = len(datagram) + QUEUE_ENTRY_COST
        if lost or self.cut:
            self.drop(direction)
        elif self.queued_bytes + cost > self.queue_limit:
            self.counts["over_limit"] += 1
            self.drop(direction)
        else:
            delay_s = max(0.0, self.settings.delay / 2 + spread) / 1000
            entry = (time.monotonic() + delay_s, next(self.arrivals), direction, client, datagram)
            heapq.heappush(self.queue, entry)
            self.queued_bytes += cost

    def deliver_due(self):
        now = time.monotonic()
        while self.queue and self.queue[0][0] <= now:
            _, _, direction, client, datagram = heapq.heappop(self.queue)
            self.queued_bytes -= len(datagram) + QUEUE_ENTRY_COST
            self.send(direction, client, datagram)

    def send(self, direction, client, datagram):
        for _ in range(2):
            try:
                if direction == UP:
                    client.upstream.send(datagram)
                else:
                    self.listener.sendto(datagram, client.address)
                return
            except ConnectionRefusedError:
                # An earlier datagram's "port unreachable", which fails the next send on the
                # socket without sending it: this datagram gets its own try.
                self.counts["unreachable"] += 1
            except OSError as error:
                self.count_error(error, f"sending {DIRECTIONS[direction]}")
                break
        self.drop(direction)

    def on_signal(self, number):
        if number == signal.SIGUSR1:
            self.cut = True
            self.drop_queue()
            say("link cut")
        elif number == signal.SIGUSR2:
            self.cut = False
            say("link restored")
        elif number == signal.SIGHUP:
            self.read_control()

    def read_control(self):
        if self.control_path is None:
            say("SIGHUP without a --control file: the link is unchanged")
            return
        try:
            self.settings = read_control_file(self.control_path, self.settings)
        except (OSError, ValueError) as error:
            say(f"control file {self.control_path}: {error}; the link is unchanged")
            return
        say(str(self.settings))

    def finish(self):
        """Takes what has come already, sends what is due, drops the rest and says the counts."""
        self.read_clients()
        for client in list(self.clients.values()):
            self.read_server(client)
        self.deliver_due()
        self.drop_queue()
        say(" ".join(f"{name}={self.counts[name]}" for name in COUNTS))

    def drop_queue(self):
        for entry in self.queue:
            self.drop(entry[2])
        self.queue.clear()
        self.queued_bytes = 0

    def count_in(self, direction, size):
        self.counts[f"{DIRECTIONS[direction]}_datagrams"] += 1
        self.counts[f"{DIRECTIONS[direction]}_bytes"] += size

    def drop(self, direction):
        self.counts[f"{DIRECTIONS[direction]}_dropped"] += 1

    def count_error(self, error, doing):
        if isinstance(error, ConnectionRefusedError):
            self.counts["unreachable"] += 1
            return
        self.counts["errors"] += 1
        if (doing, error.errno) not in self.errors_told:
            self.errors_told.add((doing, error.errno))
            say(f"{doing}: {error} (the next ones only counted)")


def port_number(text, lowest=0):
    try:
        port = int(text)
    except ValueError:
        port = -1
    if not lowest <= port <= 65535:
        raise argparse.ArgumentTypeError(f"'{text}' is not a port from {lowest} to 65535")
    return port


def target_address(text):
    host, colon, port = text.rpartition(":")
    if not colon or not host:
        raise argparse.ArgumentTypeError(f"'{text}' is not HOST:PORT")
    try:
        found = socket.getaddrinfo(host, port_number(port, 1), socket.AF_INET, socket.SOCK_DGRAM)
    except (OSError, UnicodeError) as error:
        raise argparse.ArgumentTypeError(f"cannot find {host}: {error}") from None
    return found[0][4]


def setting_argument(name):
    def convert(text):
        try:
            return setting_value(name, text)
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None
    return convert


def positive(text):
    if not text.isdigit() or int(text) == 0:
        raise argparse.ArgumentTypeError(f"'{text}' is not a whole number from 1")
    return int(text)


def parse_arguments():
    parser = argparse.ArgumentParser(prog="relay.py", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", required=True, type=port_number, metavar="PORT")
    parser.add_argument("--to", required=True, type=target_address, metavar="HOST:PORT")
    parser.add_argument("--delay", type=setting_argument("delay"), default=0.0, metavar="MS")
    parser.add_argument("--jitter", type=setting_argument("jitter"), default=0.0, metavar="MS")
    parser.add_argument("--loss", type=setting_argument("loss"), default=0.0,
                        metavar="PERCENT")
    parser.add_argument("--seed", type=int, metavar="N")
    parser.add_argument("--queue-limit", type=positive, default=1 << 20, metavar="BYTES")
    parser.add_argument("--ready-file", metavar="FILE")
    parser.add_argument("--control", metavar="FILE")
    return parser.parse_args()


def catch_signals():
    """A socket that receives the number of each signal the relay acts on, as it comes: the
    signals are handled in the main loop, never inside a handler."""
    reader, writer = socket.socketpair()
    reader.setblocking(False)
    writer.setblocking(False)
    for number in (*ENDING_SIGNALS, signal.SIGUSR1, signal.SIGUSR2, signal.SIGHUP):
        signal.signal(number, lambda *_: None)
    signal.set_wakeup_fd(writer.fileno(), warn_on_full_buffer=False)
    return reader, writer


def write_ready_file(path, port):
    """Writes the port through a new file renamed into place, so that no reader sees half."""
    partial = f"{path}.partial"
    with open(partial, "w", encoding="ascii") as f:
        f.write(f"{port}\n")
    os.replace(partial, path)


def main():
    args = parse_arguments()
    wakeup, _writer = catch_signals()
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        listener.bind(("127.0.0.1", args.listen))
    except OSError as error:
        say(f"cannot listen on 127.0.0.1:{args.listen}: {error}")
        return 1
    listener.setblocking(False)
    if args.ready_file:
        try:
            write_ready_file(args.ready_file, listener.getsockname()[1])
        except OSError as error:
            say(f"cannot write the ready file {args.ready_file}: {error}")
            return 1
    settings = Settings(args.delay, args.jitter, args.loss)
    Relay(listener, args.to, settings, args.seed, args.queue_limit, args.control,
          wakeup).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
