#!/usr/bin/python3
"""Loudness and peak of the game's sounds, for tools/make-sounds.

    sound_levels.py gains TARGET CEILING FILE.f32...   the gain in dB for each file
    sound_levels.py report FILE.wav...                  loudness and peak of finished files
    sound_levels.py selftest                            checks the meter on known signals

FILE.f32 is raw 32-bit float mono at 44100 Hz (what `sox X -t f32 X.f32` writes). Loudness is
the gated loudness of ITU-R BS.1770-4 (K-weighting, 400 ms blocks every 100 ms, the absolute
gate at -70 LUFS and the relative one 10 LU under the ungated level), in LUFS, as libebur128
measures it (Debian's libebur128-1, through ctypes); the peak is the sample peak in dBFS, from
the same library. `gains` prints one line per file, "FILE GAIN", with the gain that brings
the file to TARGET LUFS; when that would lift some file's peak above CEILING dBFS, every file
gets TARGET lowered by the same amount, so they stay equally loud and none goes past the
ceiling. `report` also checks that each file is the plain WAV the game reads: RIFF/WAVE, a
16-byte "fmt " chunk of PCM (format tag 1), mono, 44100 Hz, 16 bits, then the "data" chunk and
nothing else; and that it sounds from its first hundredth of a second, peaks under -1 dBFS and
ends in a sixteenth of a second of silence.

The same input always gives the same figures.
"""
import array
import ctypes
import math
import struct
import sys

RATE = 44100


def open_library():
    try:
        lib = ctypes.CDLL("libebur128.so.1")
    except OSError:
        sys.exit("sound_levels: libebur128.so.1 is missing (Debian package libebur128-1)")
    lib.ebur128_init.restype = ctypes.c_void_p
    lib.ebur128_init.argtypes = (ctypes.c_uint, ctypes.c_ulong, ctypes.c_int)
    lib.ebur128_destroy.argtypes = (ctypes.POINTER(ctypes.c_void_p),)
    for name, sample in (("float", ctypes.c_float), ("double", ctypes.c_double),
                         ("short", ctypes.c_short)):
        function = getattr(lib, f"ebur128_add_frames_{name}")
        function.argtypes = (ctypes.c_void_p, ctypes.POINTER(sample), ctypes.c_size_t)
    lib.ebur128_loudness_global.argtypes = (ctypes.c_void_p, ctypes.POINTER(ctypes.c_double))
    lib.ebur128_sample_peak.argtypes = (ctypes.c_void_p, ctypes.c_uint,
                                        ctypes.POINTER(ctypes.c_double))
    return lib


EBUR128 = open_library()
MODE_I = (1 << 2) | 1               # EBUR128_MODE_I: gated (integrated) loudness
MODE_SAMPLE_PEAK = (1 << 4) | 1     # EBUR128_MODE_SAMPLE_PEAK
ADD_FRAMES = {"f": ("float", ctypes.c_float), "d": ("double", ctypes.c_double),
              "h": ("short", ctypes.c_short)}


def measure(samples, rate=RATE):
    """(gated loudness in LUFS, sample peak in dBFS) of a mono signal held in an array of
    floats ("f", "d") in [-1, 1] or of 16-bit samples ("h"). A sound shorter than one 400 ms
    block has no gated loudness: -inf, like silence. The one channel counts with weight 1, as
    BS.1770 weighs a front channel."""
    state = ctypes.c_void_p(EBUR128.ebur128_init(1, rate, MODE_I | MODE_SAMPLE_PEAK))
    if not state:
        sys.exit("sound_levels: libebur128 could not start a measurement")
    try:
        name, ctype = ADD_FRAMES[samples.typecode]
        if samples:
            frames = (ctype * len(samples)).from_buffer(samples)
            if getattr(EBUR128, f"ebur128_add_frames_{name}")(state, frames, len(samples)):
                sys.exit("sound_levels: libebur128 refused the samples")
        lufs, peak = ctypes.c_double(), ctypes.c_double()
        if (EBUR128.ebur128_loudness_global(state, ctypes.byref(lufs)) or
                EBUR128.ebur128_sample_peak(state, 0, ctypes.byref(peak))):
            sys.exit("sound_levels: libebur128 could not measure")
    finally:
        EBUR128.ebur128_destroy(ctypes.byref(state))
    return lufs.value, 20.0 * math.log10(peak.value) if peak.value > 0 else -math.inf


def read_f32(path):
    data = array.array("f")
    with open(path, "rb") as f:
        data.frombytes(f.read())
    if sys.byteorder != "little":
        data.byteswap()
    return data


def read_game_wav(path):
    """The 16-bit samples of a WAV file, after checking it is laid out exactly as the game's
    sounds must be; exits with a message when it is not."""
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
    return pcm


def gains(target, ceiling, paths):
    levels = [(path, *measure(read_f32(path))) for path in paths]
    for path, lufs, peak in levels:
        if not math.isfinite(lufs):
            sys.exit(f"sound_levels: {path} is silent, or shorter than one 400 ms block")
    # The peak each file would have at the target; the loudest of them sets how far all of
    # them must stay under it.
    over = max(peak + target - lufs - ceiling for _, lufs, peak in levels)
    common = target - max(0.0, over)
    if over > 0:
        print(f"sound_levels: {common:.2f} LUFS for all files, to keep the peaks under "
              f"{ceiling:g} dBFS", file=sys.stderr)
    for path, lufs, _ in levels:
        print(f"{path} {common - lufs:.4f}")


def check_edges(path, pcm, peak, ceiling=-1.0):
    """A sound that starts the moment it plays (over -50 dBFS within the first hundredth of a
    second), peaks under the ceiling, and ends in a sixteenth of a second of silence."""
    def fail(why):
        sys.exit(f"sound_levels: {path}: {why}")

    if len(pcm) < RATE // 10:
        fail(f"only {len(pcm)} samples")
    if max(abs(s) for s in pcm[:RATE // 100]) < 32768 * 10 ** (-50 / 20):
        fail("silent for its first hundredth of a second")
    if peak >= ceiling:
        fail(f"peaks at {peak:.2f} dBFS")
    if any(pcm[-(RATE // 16):]):
        fail("not silent for its last sixteenth of a second")


def report(paths):
    for path in paths:
        pcm = read_game_wav(path)
        lufs, peak = measure(pcm)
        check_edges(path, pcm, peak)
        print(f"{path}: {len(pcm) / RATE:.3f} s, loudness {lufs:.2f} LUFS, peak {peak:.2f} dBFS")


def sine(amplitude, seconds, hz=1000):
    return array.array("d", (amplitude * math.sin(2 * math.pi * hz * i / RATE)
                             for i in range(int(seconds * RATE))))


def selftest():
    """The meter as this tool uses it, against figures BS.1770 gives: a full-scale 1 kHz sine in
    one channel reads -3.01 LUFS (K-weighting adds 0.69 dB at 1 kHz, which the -0.691 of the
    formula takes off again), a tenth of it -23.01; the gates keep only the loud blocks; the
    sample peak of a sine at half scale is -6.02 dBFS; 16-bit samples read as their floats do."""
    checks = []
    for amplitude, expected in ((1.0, -3.01), (0.1, -23.01)):
        checks.append((f"1 kHz sine at {amplitude:g}", measure(sine(amplitude, 3))[0], expected))
    # Gating: one second of the full-scale sine, then four seconds of it 100 dB down (under the
    # absolute gate, but for the filters' ring-out just after the cut, which only the relative
    # gate removes) or 30 dB down (under the relative gate). Either way only the ten blocks that
    # hold the loud second count: seven whole and three with 3/4, 1/2 and 1/4 of it, which
    # average 0.85 of its power. Ungated, the quiet part would take 7 dB off.
    for level in (-100, -30):
        signal = sine(1.0, 1) + sine(10.0 ** (level / 20.0), 4)
        checks.append((f"sine then {level} dB", measure(signal)[0],
                       -3.01 + 10.0 * math.log10(0.85)))
    half = sine(0.5, 1)
    checks.append(("the peak of a sine at 0.5", measure(half)[1], -6.02))
    pcm = array.array("h", (round(32767 * x) for x in half))
    checks.append(("a 16-bit sine at 0.5", measure(pcm)[0], measure(half)[0]))
    for name, got, expected in checks:
        if abs(got - expected) > 0.05:
            sys.exit(f"sound_levels: {name} measures {got:.3f}, want {expected:.3f}")
    if math.isfinite(measure(sine(1.0, 0.3))[0]):
        sys.exit("sound_levels: a sound shorter than one block has a gated loudness")
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
