#!/usr/bin/python3
"""Loudness and peak of the game's sounds, for tools/make-sounds.

    sound_levels.py gains TARGET CEILING FILE.f32...   the gain in dB for each file
    sound_levels.py report FILE.wav...                  loudness and peak of finished files
    sound_levels.py selftest                            checks the meter on known signals

FILE.f32 is raw 32-bit float mono at 44100 Hz (what `sox X -t f32 X.f32` writes). Loudness is
the gated loudness of ITU-R BS.1770-4 (K-weighting, 400 ms blocks every 100 ms, the absolute
gate at -70 LUFS and the relative one 10 LU under the ungated level), in LUFS; the peak is the
sample peak in dBFS. `gains` prints one line per file, "FILE GAIN", with the gain that brings
the file to TARGET LUFS; when that would lift some file's peak above CEILING dBFS, every file
gets TARGET lowered by the same amount, so they stay equally loud and none goes past the
ceiling. `report` also checks that each file is the plain WAV the game reads: RIFF/WAVE, a
16-byte "fmt " chunk of PCM (format tag 1), mono, 44100 Hz, 16 bits, then the "data" chunk and
nothing else; and that it sounds from its first hundredth of a second, peaks under -1 dBFS and
ends in a sixteenth of a second of silence.

Only the standard library; the same input always gives the same figures.
"""
import array
import math
import struct
import sys

RATE = 44100
BLOCK = 0.4       # gating block, seconds
STEP = 0.1        # between block starts (75 % overlap)
ABSOLUTE_GATE = -70.0
RELATIVE_GATE = -10.0


def k_weighting(rate):
    """The two biquads of BS.1770's K-weighting at any sample rate (b, a), from the analogue
    prototypes: a high shelf of about +4 dB above 1.7 kHz (the head) and a high-pass at 38 Hz."""
    f0, gain, q = 1681.974450955533, 3.999843853973347, 0.7071752369554196
    k = math.tan(math.pi * f0 / rate)
    vh = 10.0 ** (gain / 20.0)
    vb = vh ** 0.4996667741545416
    a0 = 1.0 + k / q + k * k
    shelf = ((vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
             (vh - vb * k / q + k * k) / a0), (1.0, 2.0 * (k * k - 1.0) / a0,
                                               (1.0 - k / q + k * k) / a0)
    f0, q = 38.13547087602444, 0.5003270373238773
    k = math.tan(math.pi * f0 / rate)
    a0 = 1.0 + k / q + k * k
    highpass = (1.0, -2.0, 1.0), (1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0)
    return shelf, highpass


def biquad(samples, coefficients):
    (b0, b1, b2), (_, a1, a2) = coefficients
    out = [0.0] * len(samples)
    x1 = x2 = y1 = y2 = 0.0
    for i, x in enumerate(samples):
        y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1, y2, y1 = x1, x, y1, y
        out[i] = y
    return out


def to_lufs(mean_square):
    return -0.691 + 10.0 * math.log10(mean_square) if mean_square > 0 else -math.inf


def loudness(samples, rate=RATE):
    """Gated loudness in LUFS of a mono signal. A sound shorter than one block is measured whole,
    as a single block."""
    shelf, highpass = k_weighting(rate)
    weighted = biquad(biquad(samples, shelf), highpass)
    squares = [0.0]
    for y in weighted:  # running sums: each block's energy in constant time
        squares.append(squares[-1] + y * y)
    size, step = int(round(BLOCK * rate)), int(round(STEP * rate))
    if len(weighted) <= size:
        blocks = [squares[-1] / max(1, len(weighted))]
    else:
        blocks = [(squares[start + size] - squares[start]) / size
                  for start in range(0, len(weighted) - size + 1, step)]
    kept = [z for z in blocks if to_lufs(z) > ABSOLUTE_GATE]
    if not kept:
        return -math.inf
    relative = to_lufs(sum(kept) / len(kept)) + RELATIVE_GATE
    kept = [z for z in kept if to_lufs(z) > relative]
    return to_lufs(sum(kept) / len(kept))


def peak_dbfs(samples):
    peak = max((abs(s) for s in samples), default=0.0)
    return 20.0 * math.log10(peak) if peak > 0 else -math.inf


def read_f32(path):
    data = array.array("f")
    with open(path, "rb") as f:
        data.frombytes(f.read())
    if sys.byteorder != "little":
        data.byteswap()
    return list(data)


def read_game_wav(path):
    """The samples of a WAV file as floats in [-1, 1), after checking it is laid out exactly as
    the game's sounds must be; exits with a message when it is not."""
    with open(path, "rb") as f:
        raw = f.read()

    def fail(why):
        sys.exit(f"sound_levels: {path}: {why}")

    if len(raw) < 44 or raw[0:4] != b"RIFF" or raw[8:12] != b"WAVE":
        fail("not a RIFF/WAVE file")
    riff_size = struct.unpack_from("<I", raw, 4)[0]
    if riff_size != len(raw) - 8:
        fail(f"RIFF size {riff_size}, file holds {len(raw) - 8}")
    if raw[12:16] != b"fmt " or struct.unpack_from("<I", raw, 16)[0] != 16:
        fail('the first chunk is not a 16-byte "fmt " chunk')
    tag, channels, rate, byte_rate, align, bits = struct.unpack_from("<HHIIHH", raw, 20)
    if (tag, channels, rate, bits, align, byte_rate) != (1, 1, RATE, 16, 2, RATE * 2):
        fail(f"format tag {tag}, {channels} channels, {rate} Hz, {bits} bits; "
             f"want PCM (1), mono, {RATE} Hz, 16 bits")
    if raw[36:40] != b"data":
        fail('the "data" chunk does not follow the "fmt " chunk')
    size = struct.unpack_from("<I", raw, 40)[0]
    if size != len(raw) - 44 or size % 2:
        fail(f'"data" chunk of {size} bytes, {len(raw) - 44} after its header')
    pcm = array.array("h")
    pcm.frombytes(raw[44:])
    if sys.byteorder != "little":
        pcm.byteswap()
    return [s / 32768.0 for s in pcm]


def gains(target, ceiling, paths):
    levels = [(path, loudness(s), peak_dbfs(s)) for path, s in
              ((p, read_f32(p)) for p in paths)]
    for path, lufs, peak in levels:
        if not math.isfinite(lufs):
            sys.exit(f"sound_levels: {path} is silent")
    # The peak each file would have at the target; the loudest of them sets how far all of
    # them must stay under it.
    over = max(peak + target - lufs - ceiling for _, lufs, peak in levels)
    common = target - max(0.0, over)
    if over > 0:
        print(f"sound_levels: {common:.2f} LUFS for all files, to keep the peaks under "
              f"{ceiling:g} dBFS", file=sys.stderr)
    for path, lufs, _ in levels:
        print(f"{path} {common - lufs:.4f}")


def check_edges(path, samples, ceiling=-1.0):
    """A sound that starts the moment it plays (over -50 dBFS within the first hundredth of a
    second), peaks under the ceiling, and ends in a sixteenth of a second of silence."""
    def fail(why):
        sys.exit(f"sound_levels: {path}: {why}")

    if len(samples) < RATE // 10:
        fail(f"only {len(samples)} samples")
    if max(abs(s) for s in samples[:RATE // 100]) < 10 ** (-50 / 20):
        fail("silent for its first hundredth of a second")
    if peak_dbfs(samples) >= ceiling:
        fail(f"peaks at {peak_dbfs(samples):.2f} dBFS")
    if any(samples[-(RATE // 16):]):
        fail("not silent for its last sixteenth of a second")


def report(paths):
    for path in paths:
        samples = read_game_wav(path)
        check_edges(path, samples)
        print(f"{path}: {len(samples) / RATE:.3f} s, loudness {loudness(samples):.2f} LUFS, "
              f"peak {peak_dbfs(samples):.2f} dBFS")


def selftest():
    """The meter against figures BS.1770 gives: the K-weighting coefficients it lists for
    48 kHz, and a full-scale 1 kHz sine in one channel reading -3.01 LUFS."""
    (b, a), (hb, ha) = k_weighting(48000)
    want = ((1.53512485958697, -2.69169618940638, 1.19839281085285),
            (1.0, -1.69065929318241, 0.73248077421585),
            (1.0, -2.0, 1.0), (1.0, -1.99004745483398, 0.99007225036621))
    for got, expected in zip((b, a, hb, ha), want):
        if any(abs(x - y) > 1e-8 for x, y in zip(got, expected)):
            sys.exit(f"sound_levels: K-weighting {got}, want {expected}")
    checks = []
    for amplitude, expected in ((1.0, -3.01), (0.1, -23.01)):
        sine = [amplitude * math.sin(2 * math.pi * 1000 * i / RATE) for i in range(3 * RATE)]
        checks.append((f"1 kHz sine at {amplitude:g}", loudness(sine), expected))
    # Gating: one second of the full-scale sine, then four seconds of it 100 dB down (under the
    # absolute gate, but for the filters' ring-out just after the cut, which only the relative
    # gate removes) or 30 dB down (under the relative gate). Either way only the ten blocks that
    # hold the loud second count: seven whole and three with 3/4, 1/2 and 1/4 of it, which
    # average 0.85 of its power. Ungated, the quiet part would take 7 dB off.
    sine = [math.sin(2 * math.pi * 1000 * i / RATE) for i in range(RATE)]
    for level in (-100, -30):
        quiet = [10.0 ** (level / 20.0) * x for x in sine * 4]
        checks.append((f"sine then {level} dB", loudness(sine + quiet),
                       -3.01 + 10.0 * math.log10(0.85)))
    for name, got, expected in checks:
        if abs(got - expected) > 0.05:
            sys.exit(f"sound_levels: {name} measures {got:.3f} LUFS, want {expected}")
    print("sound_levels: meter checks passed")


def main(argv):
    if len(argv) >= 4 and argv[0] == "gains":
        gains(float(argv[1]), float(argv[2]), argv[3:])
    elif len(argv) >= 2 and argv[0] == "report":
        report(argv[1:])
    elif argv == ["selftest"]:
        selftest()
    else:
        sys.exit(__doc__.split("\n\n")[1])


if __name__ == "__main__":
    main(sys.argv[1:])
