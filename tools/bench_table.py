#!/usr/bin/python3
"""Runs the benchmarks of build-bench/bench/ and prints one table; tools/run-bench starts it
with a display and a sound server ready.

    tools/bench_table.py ROOT SCRATCH

Each row is one figure: the game's value, the bare program's value measured in the same run,
their ratio or difference, the target, and whether it was met. The programs run in SCRATCH,
where data/ is a link to ROOT/data, so their logs stay out of the tree.
"""
import os
import statistics
import subprocess
import sys
import time

SIZES = [(640, 480), (1024, 768)]
STATES = ["menu", "intro", "rally", "medal", "paused"]
FRAMES = 200  # timed frames per state, size, program and round
ROUNDS = 3  # the two programs take turns, so that a change in the machine's load hits both
PACE_SECONDS = 10
STARTS = 5  # start-ups of each program; the median counts
RESTARTS = 5
MEMORY_PRESENTS = 400  # the peak memory is read at this present
SOUND_SECONDS = 10
MIB = 1024


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


class Runner:
    def __init__(self, root, scratch):
        self.bin = os.path.join(root, "build-bench", "bench")
        self.game = os.path.join(root, "build-bench", "brevox")
        self.scratch = scratch
        os.symlink(os.path.join(root, "data"), os.path.join(scratch, "data"))

    def rows(self, *command):
        """Runs a benchmark and returns its rows as {name: [values]}."""
        done = subprocess.run(command, cwd=self.scratch, capture_output=True, text=True)
        if done.returncode != 0:
            with open(os.path.join(self.scratch, "brevox.log"), errors="replace") as log:
                tail = "".join(log.readlines()[-15:])
            sys.exit(f"bench_table: {' '.join(command)} failed (status {done.returncode});"
                     f" the end of its log:\n{tail}")
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


def is_number(word):
    try:
        float(word)
        return True
    except ValueError:
        return False


class Table:
    def __init__(self):
        self.lines = []
        self.missed = []

    def row(self, figure, game, bare, compare, target, met=None):
        """met is None for a figure without a target."""
        verdict = {None: "", True: "met", False: "MISSED"}[met]
        if met is False:
            self.missed.append(figure)
        self.lines.append((figure, game, bare, compare, target, verdict))

    def print(self):
        head = ("figure", "game", "bare", "game/bare", "target", "")
        widths = [max(len(str(line[i])) for line in self.lines + [head]) for i in range(6)]
        for line in [head] + self.lines:
            print("  ".join(str(cell).ljust(w) for cell, w in zip(line, widths)).rstrip())
        if self.missed:
            print("\nmissed: " + "; ".join(self.missed))


def frame_rows(run, table, traces):
    bare_frames = {}
    for width, height in SIZES:
        size = f"{width}x{height}"
        trace = os.path.join(run.scratch, f"frame-{size}.trace")
        traces[size] = trace
        game, bare = {}, {}
        for _ in range(ROUNDS):
            for program, times in (("brevox_bench", game), ("brevox_bare", bare)):
                rows = run.rows(f"{run.bin}/{program}", "frames", str(width), str(height),
                                str(FRAMES), trace)
                for name, values in rows.items():
                    times.setdefault(name, []).extend(values)
        for state in STATES:
            g, b = game[f"frame {size} {state}"], bare[f"frame {size} {state}"]
            bare_frames[size, state] = b
            for label, pick in (("median", statistics.median),
                                ("p99", lambda v: percentile(v, 0.99))):
                gv, bv = pick(g) / 1000, pick(b) / 1000
                table.row(f"frame {size} {state} {label} (ms)", f"{gv:.2f}", f"{bv:.2f}",
                          f"{gv / bv:.2f}", "<= 1.10", gv / bv <= 1.10)
    return bare_frames


def pacing_rows(run, table, bare_frames):
    for (width, height), least in zip(SIZES, (199, 195)):
        size = f"{width}x{height}"
        game = run.rows(f"{run.bin}/brevox_bench", "pace", str(width), str(height),
                        str(PACE_SECONDS))
        for state in STATES:
            elapsed_us, *frame_ms = game[f"pace {size} {state}"]
            fps = len(frame_ms) / (elapsed_us / 1e6)
            # The bare figure: the rate its own frame would allow under the same 5 ms cap.
            bare_ms = max(5.0, statistics.median(bare_frames[size, state]) / 1000)
            table.row(f"pace {size} {state} (fps)", f"{fps:.1f}", f"{1000 / bare_ms:.1f}",
                      f"{fps * bare_ms / 1000:.2f}", f">= {least}", fps >= least)
            p99 = percentile(frame_ms, 0.99)
            bare_p99 = max(5.0, percentile(bare_frames[size, state], 0.99) / 1000)
            table.row(f"pace {size} {state} frame_ms p99", f"{p99:.0f}", f"{bare_p99:.1f}",
                      f"{p99 / bare_p99:.2f}", "-")


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


def main():
    run = Runner(sys.argv[1], sys.argv[2])
    table = Table()
    traces = {}
    bare_frames = frame_rows(run, table, traces)
    pacing_rows(run, table, bare_frames)
    start_rows(run, table, traces)
    sound_rows(run, table)
    table.print()


if __name__ == "__main__":
    main()
