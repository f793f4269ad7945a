#!/usr/bin/python3
"""Runs the benchmarks of build-bench/bench/ and prints one table; tools/run-bench starts it
with a display and a sound server ready.

    tools/bench_table.py ROOT SCRATCH [SECTION...]

SECTION is frames, pace, start, sound, input, replay or net (all of them when none is named), in
that order. For net, the environment may set the length of each run (NET_SECONDS, 60), and the
round trips and losses played (NET_ROUND_TRIPS, "0,30,60,120" ms; NET_LOSSES, "0,5" %), and the
length of the game alone's run (NET_LOCAL_SECONDS, 120).

Each row is one figure: the game's value, the bare program's value measured in the same run,
their ratio or difference, the target, and whether it was met. The programs run in SCRATCH,
where data/ is a link to ROOT/data, so their logs stay out of the tree.

The frame rows are judged by the 95 % interval of the ratio: the two programs take turns in
rounds, and the rounds are resampled with replacement (a seeded bootstrap).
"""
import itertools
import os
import random
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import net_figures

# Mesa's llvmpipe rasterises on as many threads of its own as there are processors unless told
# otherwise. On a machine of two cores shared with Xvfb and other work, a frame then takes one
# time or nearly twice that, by whether a second core happened to be free; with 0 every
# triangle is drawn on the program's own thread, so a frame's time is the program's own work.
# Both programs run so, in every benchmark.
LLVMPIPE_THREADS = "0"
SIZES = [(640, 480), (1024, 768)]
STATES = ["menu", "intro", "rally", "medal", "paused"]
FRAMES = 50  # timed frames of one state in one program's turn
# Rounds: in each the two programs take turns in every state, one after the other, so that a
# change in the machine's load hits both. Rounds are added until every frame row's interval
# is within HALF_WIDTH of its ratio, checked every CHECK_EVERY rounds, up to MAX_ROUNDS.
MIN_ROUNDS = 10
CHECK_EVERY = 5
MAX_ROUNDS = 60
HALF_WIDTH = 0.03
RESAMPLES = 2000
TARGET = 1.10  # the game's frame at most this many times the bare program's
PACE_SECONDS = 10  # per state and program, in PACE_TURNS turns each
PACE_TURNS = 2
MAX_FPS = 200  # the game's default "cl_maxfps"
STARTS = 5  # start-ups of each program; the median counts
RESTARTS = 5
MEMORY_PRESENTS = 400  # the peak memory is read at this present
SOUND_SECONDS = 10
REPLAY_SECONDS = 60  # of the computer playing itself, recorded
PRESSES = 400  # presses of a key, each at a random moment of a frame
# Network play through the tests' relay: each round trip (ms) with each loss (%, each way),
# seeded, a run of NET_SECONDS of the computer playing both paddles; and as long of the game
# alone for the same figure at one machine.
NET_ROUND_TRIPS = [int(ms) for ms in os.environ.get("NET_ROUND_TRIPS", "0,30,60,120").split(",")]
NET_LOSSES = [float(p) for p in os.environ.get("NET_LOSSES", "0,5").split(",")]
NET_SEED = 1
NET_SECONDS = int(os.environ.get("NET_SECONDS", "60"))
NET_LOCAL_SECONDS = int(os.environ.get("NET_LOCAL_SECONDS", "120"))  # the game alone
NET_BYTES_PER_SECOND = 16000  # each way, on the wire
NET_JUDGED_ROUND_TRIP = 60  # the round trip at which the screen must agree with the host
NET_WAIT_S = 30  # a deadline for each wait, which only ends a hang
MIB = 1024


def percentile(values, fraction):
    return sorted_percentile(sorted(values), fraction)


def sorted_percentile(ordered, fraction):
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def sorted_median(ordered):
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


# The frame statistics, of one program's frames sorted.
FRAME_STATISTICS = (("median", sorted_median), ("p99", lambda v: sorted_percentile(v, 0.99)))


def pooled(rounds, picks):
    """One program's frames of the given rounds (each sorted), sorted as one list."""
    return sorted(itertools.chain.from_iterable(rounds[i] for i in picks))


def ratio_intervals(game, bare, seed):
    """The ratios of the game's to the bare program's statistics over all their rounds (lists
    of frame times, each sorted; round i of one program beside round i of the other) and the
    95 % interval of each, from rounds resampled with replacement: {statistic: (ratio, low,
    high)}."""
    everything = range(len(game))
    draw = random.Random(seed)
    resampled = {label: [] for label, _ in FRAME_STATISTICS}
    for _ in range(RESAMPLES):
        picks = [draw.randrange(len(game)) for _ in everything]
        g, b = pooled(game, picks), pooled(bare, picks)
        for label, pick in FRAME_STATISTICS:
            resampled[label].append(pick(g) / pick(b))
    g, b = pooled(game, everything), pooled(bare, everything)
    intervals = {}
    for label, pick in FRAME_STATISTICS:
        ratios = sorted(resampled[label])
        intervals[label] = (pick(g) / pick(b), sorted_percentile(ratios, 0.025),
                            sorted_percentile(ratios, 0.975))
    return intervals


def narrow(interval):
    ratio, low, high = interval
    return high - ratio <= HALF_WIDTH * ratio and ratio - low <= HALF_WIDTH * ratio


def verdict(interval):
    """met when the whole interval is within the target, missed when it is all beyond it."""
    _, low, high = interval
    return "met" if high <= TARGET else "MISSED" if low > TARGET else "unresolved"


class Runner:
    def __init__(self, root, scratch):
        self.root = root
        self.bin = os.path.join(root, "build-bench", "bench")
        self.game = os.path.join(root, "build-bench", "brevox")
        self.scratch = scratch
        os.symlink(os.path.join(root, "data"), os.path.join(scratch, "data"))

    def fail(self, command, status, errors=""):
        tail = ""
        log_path = os.path.join(self.scratch, "brevox.log")
        if os.path.exists(log_path):
            with open(log_path, errors="replace") as log:
                tail = "".join(log.readlines()[-15:])
        sys.exit(f"bench_table: {' '.join(command)} failed (status {status}); its errors:\n"
                 f"{errors}\nthe end of the game's log:\n{tail}")

    def rows(self, *command, env=None):
        """Runs a benchmark (with `env` added to the environment) and returns its rows as
        {name: [values]}."""
        done = subprocess.run(command, cwd=self.scratch, capture_output=True, text=True,
                              env={**os.environ, **(env or {})})
        if done.returncode != 0:
            self.fail(command, done.returncode, done.stderr)
        rows = {}
        for line in done.stdout.splitlines():
            words = line.split()
            names = [w for w in words if not is_number(w)]
            rows[" ".join(names)] = [float(w) for w in words if is_number(w)]
        return rows

    def start(self, *command, presents):
        """Starts a program with the shim; returns (ms to its first present, peak kB)."""
        report = os.path.join(self.scratch, "shim.report")
        if os.path.exists(report):
            os.remove(report)
        env = dict(os.environ, LD_PRELOAD=os.path.join(self.bin, "libbrevox_bench_shim.so"),
                   BREVOX_BENCH_REPORT=report, BREVOX_BENCH_PRESENTS=str(presents))
        started = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        subprocess.run(command, cwd=self.scratch, env=env, capture_output=True, timeout=120)
        figures = {}
        with open(report) as f:
            for line in f:
                key, value = line.split()[:2]
                figures[key] = int(value)
        return (figures["first_present_ns"] - started) / 1e6, figures["VmHWM:"]


class Orders:
    """A benchmark program that stays up and answers each order, a line on its standard input,
    with one row; `turns` keeps what it answered, by game state."""

    def __init__(self, run, *command, first_row=None):
        self.run, self.command = run, command
        self.errors = open(os.path.join(run.scratch, os.path.basename(command[0]) + ".errors"),
                           "w+")
        self.process = subprocess.Popen(command, cwd=run.scratch, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self.errors, text=True)
        self.turns = {state: [] for state in STATES}
        if first_row is not None:
            reply = self.process.stdout.readline().strip()
            if reply != first_row:
                self.fail(f"said '{reply}' instead of '{first_row}'")

    def ask(self, order):
        """Sends the order and returns the numbers of the row it answers with."""
        try:
            self.process.stdin.write(order + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            self.fail(f"ended before '{order}'")
        reply = self.process.stdout.readline()
        if not reply:
            self.fail(f"ended at '{order}'")
        return [float(w) for w in reply.split() if is_number(w)]

    def close(self):
        self.process.stdin.close()
        if self.process.wait(timeout=120) != 0:
            self.fail("failed at its end")

    def fail(self, what):
        self.process.kill()
        status = self.process.wait()
        self.errors.seek(0)
        self.run.fail(self.command, f"{status}, {what}", self.errors.read())


def in_turn(game, bare, number):
    """The two programs in the order of turn `number`: each goes first every other turn."""
    return (game, bare) if number % 2 == 0 else (bare, game)


def is_number(word):
    try:
        float(word)
        return True
    except ValueError:
        return False


class Table:
    def __init__(self):
        self.lines = []
        self.notes = []
        self.missed = []
        self.unresolved = []

    def row(self, figure, game, bare, compare, target, met=None, interval=""):
        """met is None for a figure without a target, or a verdict of its own."""
        verdict = {None: "", True: "met", False: "MISSED"}.get(met, met)
        if verdict == "MISSED":
            self.missed.append(figure)
        if verdict == "unresolved":
            self.unresolved.append(figure)
        self.lines.append((figure, game, bare, compare, interval, target, verdict))

    def note(self, text):
        self.notes.append(text)

    def print(self):
        head = ("figure", "game", "bare", "game/bare", "95 % interval", "target", "")
        widths = [max(len(str(line[i])) for line in self.lines + [head]) for i in range(7)]
        for line in [head] + self.lines:
            print("  ".join(str(cell).ljust(w) for cell, w in zip(line, widths)).rstrip())
        print()
        for text in self.notes:
            print(text)
        if self.missed:
            print("\nmissed: " + "; ".join(self.missed))
        if self.unresolved:
            print("\nunresolved: " + "; ".join(self.unresolved))


def frame_round(game, bare, number):
    for state in STATES:
        for program in in_turn(game, bare, number):
            program.turns[state].append(sorted(program.ask(f"{state} {FRAMES}")))


def frame_intervals(game, bare, size):
    """The frame rows' intervals, {(state, statistic): (ratio, low, high)}; each row's bootstrap
    has a seed of its own, so that the same rounds give the same interval."""
    intervals = {}
    for state in STATES:
        for label, interval in ratio_intervals(game.turns[state], bare.turns[state],
                                               f"{size} {state}").items():
            intervals[state, label] = interval
    return intervals


def frame_rows(run, table, traces):
    for width, height in SIZES:
        size = f"{width}x{height}"
        traces[size] = os.path.join(run.scratch, f"frame-{size}.trace")
        game = Orders(run, f"{run.bin}/brevox_bench", "frames", str(width), str(height),
                      traces[size], first_row="recorded")
        bare = Orders(run, f"{run.bin}/brevox_bare", "frames", str(width), str(height),
                      traces[size])
        rounds = 0
        while True:
            frame_round(game, bare, rounds)
            rounds += 1
            if rounds < MIN_ROUNDS or (rounds % CHECK_EVERY and rounds < MAX_ROUNDS):
                continue
            intervals = frame_intervals(game, bare, size)
            wide = [" ".join(key) for key, interval in intervals.items() if not narrow(interval)]
            if not wide or rounds >= MAX_ROUNDS:
                break
        game.close()
        bare.close()
        for (state, label), interval in intervals.items():
            g = sorted_statistic(game.turns[state], label) / 1000
            b = sorted_statistic(bare.turns[state], label) / 1000
            ratio, low, high = interval
            table.row(f"frame {size} {state} {label} (ms)", f"{g:.2f}", f"{b:.2f}",
                      f"{ratio:.3f}", f"<= {TARGET:.2f}", verdict(interval),
                      f"{low:.3f} - {high:.3f}")
        if wide:
            table.note(f"frame {size}: {rounds} rounds of {FRAMES} frames, the cap; wider than"
                       f" +-{HALF_WIDTH:.0%}: {', '.join(wide)}")
        else:
            table.note(f"frame {size}: {rounds} rounds of {FRAMES} frames; every interval within"
                       f" +-{HALF_WIDTH:.0%}")


def sorted_statistic(rounds, label):
    pick = dict(FRAME_STATISTICS)[label]
    return pick(pooled(rounds, range(len(rounds))))


def paced(turns):
    """Frames per second and the 99th percentile of the frame (ms) over a program's turns."""
    seconds = sum(elapsed_us for elapsed_us, _ in turns) / 1e6
    intervals = [ms / 1000 for _, frames in turns for ms in frames]
    return len(intervals) / seconds, percentile(intervals, 0.99)


def pacing_rows(run, table, traces):
    """Returns the bare program's median paced frame in the 640x480 rally (ms)."""
    bare_frame_ms = None
    for (width, height), least in zip(SIZES, (199, 195)):
        size = f"{width}x{height}"
        game = Orders(run, f"{run.bin}/brevox_bench", "pace", str(width), str(height))
        bare = Orders(run, f"{run.bin}/brevox_bare", "pace", str(width), str(height),
                      str(MAX_FPS), traces[size])
        for turn in range(PACE_TURNS):
            for state in STATES:
                for program in in_turn(game, bare, turn):
                    elapsed_us, *frames = program.ask(f"{state} {PACE_SECONDS / PACE_TURNS}")
                    program.turns[state].append((elapsed_us, frames))
        game.close()
        bare.close()
        for state in STATES:
            (game_fps, game_p99), (bare_fps, bare_p99) = (paced(game.turns[state]),
                                                          paced(bare.turns[state]))
            table.row(f"pace {size} {state} (fps)", f"{game_fps:.1f}", f"{bare_fps:.1f}",
                      f"{game_fps / bare_fps:.2f}", f">= {least}", game_fps >= least)
            table.row(f"pace {size} {state} frame p99 (ms)", f"{game_p99:.1f}",
                      f"{bare_p99:.1f}", f"{game_p99 / bare_p99:.2f}", "-")
        if size == "640x480":
            bare_frame_ms = statistics.median(
                ms / 1000 for _, frames in bare.turns["rally"] for ms in frames)
    return bare_frame_ms


def bare_rally_frame_ms(run):
    """The bare program's median paced frame in the 640x480 rally, from a trace of its own."""
    trace = os.path.join(run.scratch, "input.trace")
    game = Orders(run, f"{run.bin}/brevox_bench", "frames", "640", "480", trace,
                  first_row="recorded")
    game.close()
    bare = Orders(run, f"{run.bin}/brevox_bare", "pace", "640", "480", str(MAX_FPS), trace)
    _, *frames = bare.ask(f"rally {PACE_SECONDS / PACE_TURNS}")
    bare.close()
    return statistics.median(frames) / 1000


def input_rows(run, table, bare_frame_ms):
    """From a press reaching the program to the first present that shows it, beside the bare
    program's paced frame: at most one frame and the cap's wait. The computer's work in those
    frames, against the frame at the cap."""
    bare_frame_ms = bare_frame_ms or bare_rally_frame_ms(run)
    rows = run.rows(f"{run.bin}/brevox_bench", "input", "640", "480", str(PRESSES))
    frame_us = 1e6 / MAX_FPS
    work = rows["computer us"]
    for label, value in (("median", statistics.median(work)), ("p99", percentile(work, 0.99))):
        table.row(f"computer's work per frame, {label} of {len(work)} (us)", f"{value:.2f}",
                  f"{frame_us:.0f}", f"{100 * value / frame_us:.3f} %", "< 1 % of the frame",
                  value < frame_us / 100)
    limit = 2 * 1000 / MAX_FPS
    for name in sorted(name for name in rows if name.startswith("input ")):
        delays = [v / 1000 for v in rows[name]]
        for label, value in (("median", statistics.median(delays)),
                             ("p99", percentile(delays, 0.99))):
            table.row(f"{name} to present, {label} of {len(delays)} (ms)", f"{value:.1f}",
                      f"{bare_frame_ms:.1f}", f"{value / bare_frame_ms:.2f}",
                      f"<= {limit:.0f}", value <= limit)


def start_rows(run, table, traces):
    game = run.rows(f"{run.bin}/brevox_bench", "restart", "640", "480", str(RESTARTS))
    # The log's start with the machine report and its clock measurement.
    allowance_ms = game["report"][0] / 1000
    games, bares = [], []
    for _ in range(STARTS):
        games.append(run.start(run.game, presents=MEMORY_PRESENTS))
        bares.append(run.start(f"{run.bin}/brevox_bare", "start", "640", "480",
                               traces["640x480"], presents=MEMORY_PRESENTS))
    game_ms = statistics.median(g[0] for g in games)
    bare_ms = statistics.median(b[0] for b in bares)
    limit = 1.2 * bare_ms + allowance_ms
    table.row("start to first present (ms)", f"{game_ms:.0f}", f"{bare_ms:.0f}",
              f"{game_ms / bare_ms:.2f}", f"<= 1.2 x bare + {allowance_ms:.0f}",
              game_ms <= limit)

    bare = run.rows(f"{run.bin}/brevox_bare", "restart", "640", "480", str(RESTARTS),
                    traces["640x480"])
    game_ms = statistics.median(game["restart 640x480 logged"]) / 1000
    bare_ms = statistics.median(bare["restart 640x480"]) / 1000
    # What the restart's log lines cost: the same restarts without the log.
    log_ms = max(0.0, game_ms - statistics.median(game["restart 640x480 unlogged"]) / 1000)
    table.row("vid_restart 640x480 (ms)", f"{game_ms:.1f}", f"{bare_ms:.1f}",
              f"{game_ms / bare_ms:.2f}", f"<= 1.2 x bare + {log_ms:.1f}",
              game_ms <= 1.2 * bare_ms + log_ms)

    game_kb = max(g[1] for g in games)
    bare_kb = max(b[1] for b in bares)
    table.row("peak resident memory (MiB)", f"{game_kb / MIB:.1f}", f"{bare_kb / MIB:.1f}",
              f"{(game_kb - bare_kb) / MIB:+.1f}", "<= bare + 16", game_kb - bare_kb <= 16 * MIB)


def sound_rows(run, table):
    rows = run.rows(f"{run.bin}/brevox_bench", "sound", "640", "480", str(SOUND_SECONDS))
    period_frames, gap_us, compared, differing, cpu_ns, seconds, frames = rows[
        "sound period_frames longest_gap compared differing cpu_ns seconds frames"]
    period_ms = period_frames * 1000 / 44100
    latency = [v / 1000 for v in rows["latency"]]
    worst = max(latency)
    table.row(f"play() to callback, worst of {len(latency)} (ms)", f"{worst:.1f}",
              f"{period_ms:.1f}", f"{worst - period_ms:+.1f}",
              "<= period + 2", worst <= period_ms + 2)
    table.row(f"late refills (frames of {compared:.0f} wrong)", f"{differing:.0f}", "-", "-",
              "0", differing == 0)
    gap_ms = gap_us / 1000
    table.row("longest wait between callbacks (ms)", f"{gap_ms:.1f}", f"{period_ms:.1f}",
              f"{gap_ms / period_ms:.2f}", "-")
    table.row("sound thread CPU per second (ms)", f"{cpu_ns / 1e6 / seconds:.2f}", "-", "-", "-")
    table.row("main loop meanwhile (fps)", f"{frames / seconds:.1f}", "-", "-", ">= 199",
              frames / seconds >= 199)


def replay_rows(run, table):
    # Without sound, as `--replay FILE --check` plays.
    rows = run.rows(f"{run.bin}/brevox_bench", "replay", "640", "480", str(REPLAY_SECONDS),
                    env={"SDL_AUDIODRIVER": "dummy"})
    recorder_us = rows["replay recorder us"]
    frame_ms = 1000 / MAX_FPS
    mean_us = statistics.fmean(recorder_us)
    table.row(f"replay recorder per frame, mean of {len(recorder_us)} (us)", f"{mean_us:.1f}",
              "-", "-", f"< 1 % of {frame_ms:g} ms", mean_us < frame_ms * 10)
    table.row("replay recorder, longest frame (a second's flush, us)", f"{max(recorder_us):.0f}",
              "-", "-", "-")
    per_minute = rows["replay bytes per minute"][0]
    table.row("replay bytes per minute of play", f"{per_minute:.0f}", "-", "-", "<= 10240",
              per_minute <= 10240)
    speed = rows["replay check times real time"][0]
    table.row("replay --check against real time (x)", f"{speed:.0f}", "-", "-", ">= 200",
              speed >= 200)


def wait_until(what, check, process=None):
    """Polls `check` until it holds; fails when `process` ends first or after NET_WAIT_S."""
    deadline = time.monotonic() + NET_WAIT_S
    while not check():
        if process is not None and process.poll() is not None:
            sys.exit(f"bench_table: the game ended (status {process.returncode}) while waiting"
                     f" for {what}")
        if time.monotonic() > deadline:
            sys.exit(f"bench_table: gave up waiting for {what}")
        time.sleep(0.1)


class VirtualDisplay:
    """An X server of its own (Xvfb), 640 x 480, for one side of a network game."""

    def __init__(self):
        reader, writer = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(writer), "-screen", "0", "640x480x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(writer,), stderr=subprocess.DEVNULL)
        os.close(writer)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([reader], [], [], NET_WAIT_S)
            piece = os.read(reader, 16) if ready else b""
            if not piece:
                self.close()
                sys.exit("bench_table: Xvfb did not start")
            number += piece
        os.close(reader)
        self.name = f":{number.decode().strip()}"

    def xdotool(self, *words):
        done = subprocess.run(["xdotool", *words], env={**os.environ, "DISPLAY": self.name},
                              capture_output=True, text=True)
        return done.stdout.strip() if done.returncode == 0 else ""

    def close(self):
        end(self.process)


def end(process, timeout=NET_WAIT_S):
    """Asks a process to end (SIGTERM) and waits for it; kills it when it does not."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def lines_of(path):
    """The whole lines of a file being written."""
    if not os.path.exists(path):
        return []
    with open(path, errors="replace") as f:
        text = f.read()
    return text[:text.rfind("\n") + 1].splitlines()


class NetRun:
    """One network game: the relay, the host (the game itself, the computer at its paddle) and
    its guest (brevox_bench keys, joined through the relay), each side on its own X server and in
    its own folder, each writing its trace."""

    def __init__(self, run, displays, round_trip, loss):
        self.run, self.displays = run, displays
        self.round_trip, self.loss = round_trip, loss
        self.folder = tempfile.mkdtemp(prefix=f"net-{round_trip}-{loss:g}-", dir=run.scratch)
        self.processes = []
        for side in ("host", "guest"):
            os.mkdir(os.path.join(self.folder, side))
            os.symlink(os.path.join(run.scratch, "data"), os.path.join(self.folder, side, "data"))
        self.traces = {side: os.path.join(self.folder, f"{side}.trace")
                       for side in ("host", "guest")}

    def env(self, side):
        return {**os.environ, "DISPLAY": self.displays[side].name, "SDL_AUDIODRIVER": "dummy",
                "BREVOX_NET_TRACE": self.traces[side]}

    def play(self):
        """Plays the run; returns the guest's rows, the relay's counts and the trace."""
        try:
            port, code = self.start_host()
            relay_port = self.start_relay(port)
            self.leave_host_menu()
            guest = [f"{self.run.bin}/brevox_bench", "keys", "640", "480", str(NET_SECONDS),
                     f"127.0.0.1:{relay_port}", code]
            done = subprocess.run(guest, cwd=os.path.join(self.folder, "guest"),
                                  env=self.env("guest"), capture_output=True, text=True,
                                  timeout=NET_SECONDS + 4 * NET_WAIT_S)
            if done.returncode != 0:
                sys.exit(f"bench_table: the guest failed (status {done.returncode}):\n"
                         f"{done.stderr}")
            rows = {}
            for line in done.stdout.splitlines():
                words = line.split()
                rows[" ".join(w for w in words if not is_number(w))] = [
                    float(w) for w in words if is_number(w)]
        finally:
            for process in reversed(self.processes):
                end(process)
        relay_said = self.relay.stderr.read()
        trace = net_figures.Trace()
        for side in ("host", "guest"):
            net_figures.read_trace(lines_of(self.traces[side]), trace)
        return rows, relay_said.strip().splitlines()[-1:], trace

    def keep(self):
        """Copies the traces and the logs to build-bench/net/ROUNDTRIP-LOSS/, the last run's."""
        kept = os.path.join(self.run.root, "build-bench", "net",
                            f"{self.round_trip}-{self.loss:g}")
        shutil.rmtree(kept, ignore_errors=True)
        os.makedirs(kept)
        for side in ("host", "guest"):
            shutil.copy(self.traces[side], kept)
            shutil.copy(os.path.join(self.folder, side, "brevox.log"),
                        os.path.join(kept, f"{side}.log"))

    def start_host(self):
        """The host on a free port; (port, join code)."""
        said = os.path.join(self.folder, "host", "out")
        for _ in range(5):
            port = free_udp_port()
            with open(said, "w") as out:
                host = subprocess.Popen(
                    [self.run.game, "--host", str(port), "--computer", "left"],
                    cwd=os.path.dirname(said), env=self.env("host"), stdout=out,
                    stderr=subprocess.STDOUT)
            joined = lambda: [line for line in lines_of(said) if "--code" in line]
            wait_until("the host's join line", lambda: joined() or host.poll() is not None)
            if joined():
                self.processes.append(host)
                return port, joined()[0].split()[-1]
            end(host)  # the port was taken meanwhile
        sys.exit(f"bench_table: no port to host on: {open(said).read()}")

    def start_relay(self, port):
        ready_file = os.path.join(self.folder, "relay.port")
        self.relay = subprocess.Popen(
            ["python3", os.path.join(self.run.root, "tests", "net", "relay.py"), "--listen", "0",
             "--to", f"127.0.0.1:{port}", "--delay", str(self.round_trip), "--loss",
             f"{self.loss:g}", "--seed", str(NET_SEED), "--ready-file", ready_file],
            stderr=subprocess.PIPE, text=True)
        self.processes.append(self.relay)
        wait_until("the relay", lambda: os.path.exists(ready_file), self.relay)
        with open(ready_file) as f:
            return int(f.read())

    def leave_host_menu(self):
        """The host's "continue", typed once its window draws and has the focus; its intro waits
        for the guest's SPACE."""
        host, display = self.processes[0], self.displays["host"]
        window = lambda: display.xdotool("search", "--name", "^brevox").split()[:1]
        wait_until("the host's window", window, host)
        wait_until("the host's window to have the focus",
                   lambda: [display.xdotool("getwindowfocus")] == window(), host)
        wait_until("the host's frames", lambda: lines_of(self.traces["host"]), host)
        display.xdotool("key", "--delay", "60", "Down", "Down", "Down", "Return")
        wait_until("the host's intro", lambda: any(
            frame.state != 0 for frame in net_figures.read_trace(
                lines_of(self.traces["host"])).host), host)


def local_key_delays(run, displays):
    """The game alone (brevox_bench keys) on each display at once: its presses' delays pooled
    (ms) and the presses let go before they showed."""
    games = []
    for display in displays:  # each in a folder of its own, for its log
        folder = tempfile.mkdtemp(prefix="local-", dir=run.scratch)
        os.symlink(os.path.join(run.scratch, "data"), os.path.join(folder, "data"))
        games.append(subprocess.Popen(
            [f"{run.bin}/brevox_bench", "keys", "640", "480", str(NET_LOCAL_SECONDS)],
            cwd=folder, env={**os.environ, "DISPLAY": display.name, "SDL_AUDIODRIVER": "dummy"},
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
    delays, unseen = [], 0
    for game in games:
        said, errors = game.communicate(timeout=NET_LOCAL_SECONDS + 4 * NET_WAIT_S)
        if game.returncode != 0:
            sys.exit(f"bench_table: the game alone failed (status {game.returncode}):\n{errors}")
        for line in said.splitlines():
            words = line.split()
            if line.startswith("keys to present"):
                delays += [float(w) / 1000 for w in words[3:]]
            elif line.startswith("keys unseen"):
                unseen += int(float(words[2]))
    return needed(delays, "local play", "press of the computer showed"), unseen


def net_rows(run, table):
    """The game alone first, by itself and then beside a second game alone: the guest runs
    beside its host, and on two cores the second game takes the same share of the machine.
    The guest's key to its own paddle is judged against the game beside a second one."""
    displays = {}
    try:
        for side in ("host", "guest"):
            displays[side] = VirtualDisplay()
        local_figures = None
        for label, on in (("local play alone", [displays["guest"]]),
                          ("local play beside a second game", list(displays.values()))):
            delays, unseen = local_key_delays(run, on)
            local_figures = (statistics.median(delays), percentile(delays, 0.99))
            for statistic, value in zip(("median", "p99"), local_figures):
                table.row(f"{label}: key to own paddle, {statistic} of {len(delays)} (ms)",
                          f"{value:.1f}", "-", "-", "-")
            if unseen:
                table.note(f"{label}: {unseen} presses let go before the screen showed the"
                           " paddle moving (against the field's edge)")
        for round_trip in NET_ROUND_TRIPS:
            for loss in NET_LOSSES:
                played = NetRun(run, displays, round_trip, loss)
                load = os.getloadavg()[0]
                rows, relay_said, trace = played.play()
                played.keep()
                name = f"net {round_trip} ms {loss:g} %"
                net_run_rows(table, name, round_trip, rows, trace, local_figures)
                table.note(f"{name}: load average {load:.1f} before, {os.getloadavg()[0]:.1f}"
                           f" after; {relay_said[0] if relay_said else 'the relay said nothing'}")
    finally:
        for display in displays.values():
            display.close()
    table.note("the traces and logs of each network run are kept in build-bench/net/")


def needed(values, name, what):
    """The values, or the run ends saying which figure had none: a run that shows none did not
    play."""
    if not values:
        sys.exit(f"bench_table: {name}: no {what}; the network game did not play")
    return values


def net_run_rows(table, name, round_trip, rows, trace, local_figures):
    # The guest's key to its own paddle on its screen, beside the game alone.
    shown = needed([v / 1000 for v in rows.get("keys to present", [])], name,
                   "press of the guest's computer showed")
    for (label, pick), local_ms, slack in zip(
            (("median", statistics.median), ("p99", lambda v: percentile(v, 0.99))),
            local_figures, (1, 2)):
        value = pick(shown)
        table.row(f"{name}: key to own paddle, {label} of {len(shown)} (ms)", f"{value:.1f}",
                  f"{local_ms:.1f}", f"{value - local_ms:+.1f}", f"<= local beside + {slack}",
                  value <= local_ms + slack)
    if rows["keys unseen"][0]:
        table.note(f"{name}: {rows['keys unseen'][0]:.0f} presses let go before the guest's"
                   " screen showed its paddle moving (against the field's edge, or put back by"
                   " the host's state)")
    # The frames each side drew a second: a run below the cap shared the machine.
    span = net_figures.playing_span(trace)
    rates = {}
    for side in ("host", "guest"):
        frames = [f for f in getattr(trace, side) if span[0] <= f.t <= span[1]]
        rates[side] = len(frames) * 1e6 / max(1, span[1] - span[0])
        table.row(f"{name}: {side}'s frames per second", f"{rates[side]:.0f}", "-", "-",
                  f"the cap: {MAX_FPS}")
    if min(rates.values()) < 0.95 * MAX_FPS:
        table.note(f"{name}: below the cap ({rates['host']:.0f} and {rates['guest']:.0f} frames a"
                   " second): the two games, the relay and the X servers share the machine's"
                   " cores with whatever else ran (the load average says how much)")
    # The guest's key to the host's game taking it.
    limit = round_trip / 2 + 2 * 1000 / MAX_FPS
    delays = needed(net_figures.key_to_host(trace), name, "key of the guest's reached the host")
    for label, value in (("median", statistics.median(delays)),
                         ("p99", percentile(delays, 0.99))):
        table.row(f"{name}: key to host, {label} of {len(delays)} (ms)", f"{value:.1f}", "-",
                  "-", f"<= {limit:g}", value <= limit)
    # The guest's screen against the host's judgement.
    agreement = net_figures.screen_against_host(trace)
    share = 100 * agreement.differing / agreement.balls if agreement.balls else float("nan")
    judged = round_trip == NET_JUDGED_ROUND_TRIP
    table.row(f"{name}: screen against host, {agreement.differing} of {agreement.balls} balls",
              f"{share:.1f} %", "-", "-", "< 1 %" if judged else "-",
              share < 1 if judged else None)
    for label, value in (("median", statistics.median(agreement.offsets or [0])),
                         ("largest", max(agreement.offsets or [0]))):
        table.row(f"{name}: paddle drawn off the paddle judged, {label} (units)", f"{value:.0f}",
                  "-", "-", "-")
    table.note(f"{name}: of {agreement.balls} balls at the guest's paddle, {agreement.phantom_hits}"
               f" returned by the host away from the paddle the guest drew, {agreement.robbed}"
               f" missed under it; {agreement.unseen} judged but never shown")
    # The wire, each way, and the host's work.
    wire = needed(net_figures.bytes_per_second(trace.traffic["host"], span), name,
                  "two totals of the wire in play")
    for label, value in (("host to guest", wire[0]), ("guest to host", wire[1])):
        table.row(f"{name}: {label} on the wire (B/s)", f"{value:.0f}", "-", "-",
                  f"< {NET_BYTES_PER_SECOND}", value < NET_BYTES_PER_SECOND)
    # The host's work is its thread's CPU time; the wall-clock time beside it also counts the
    # guest and the relay when they run in the host's place on the cores they share.
    work = needed(net_figures.host_work(trace, span), name, "frame of the host in play")
    frame_us = 1e6 / MAX_FPS
    for clock, judged, spent in (("CPU time", True, [cpu for cpu, _ in work]),
                                 ("wall-clock", False, [wall for _, wall in work])):
        for label, value in (("median", statistics.median(spent)),
                             ("mean", statistics.fmean(spent)), ("p99", percentile(spent, 0.99))):
            table.row(f"{name}: host's network work per frame, {clock}, {label} (us)",
                      f"{value:.0f}", f"{frame_us:.0f}", f"{100 * value / frame_us:.2f} %",
                      "< 1 % of the frame" if judged else "-",
                      value < frame_us / 100 if judged else None)


def main():
    began = time.monotonic()
    os.environ["LP_NUM_THREADS"] = LLVMPIPE_THREADS  # for every program started below
    run = Runner(sys.argv[1], sys.argv[2])
    table = Table()
    traces = {}
    sections = sys.argv[3:] or ["frames", "pace", "start", "sound", "input", "replay", "net"]
    bare_frame_ms = None
    if "frames" in sections or "pace" in sections or "start" in sections:
        frame_rows(run, table, traces)  # the traces for the other two
    if "pace" in sections:
        bare_frame_ms = pacing_rows(run, table, traces)
    if "start" in sections:
        start_rows(run, table, traces)
    if "sound" in sections:
        sound_rows(run, table)
    if "input" in sections:
        input_rows(run, table, bare_frame_ms)
    if "replay" in sections:
        replay_rows(run, table)
    if "net" in sections:
        net_rows(run, table)
    minutes, seconds = divmod(round(time.monotonic() - began), 60)
    table.note(f"llvmpipe threads: {LLVMPIPE_THREADS} (LP_NUM_THREADS) in both programs;"
               f" bootstrap of {RESAMPLES} resamples; {minutes} min {seconds} s")
    table.print()


if __name__ == "__main__":
    main()
