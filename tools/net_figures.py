"""The figures of network play, from the traces a host and its guest on one machine write with
BREVOX_NET_TRACE=FILE (net/trace.h); tools/bench_table.py's net section runs the games.

Each line is "TIME SIDE KIND FIELDS...", TIME in microseconds on the machine's monotonic clock,
one clock for both processes:

    TIME host frame FRAME_MS BEFORE_US AFTER_US BEFORE_CPU_US AFTER_CPU_US APPLIED STATE HEADING
        BALL_X BALL_Y RIGHT_Y (on one line)
    TIME guest frame SEQUENCE KEYS STATE HEADING BALL_X BALL_Y PADDLE_Y PADDLE_X
    TIME SIDE traffic SENT RECEIVED

A host frame's TIME is when chost::before_frame began, BEFORE_US and AFTER_US the wall-clock
time spent in it and in after_frame, BEFORE_CPU_US and AFTER_CPU_US the host thread's CPU time
in them (its own work: on one machine the wall-clock time also counts the guest and the relay
running in its place), APPLIED the newest input of the guest's its game has taken; the game's
state and ball are as its update left them. A guest frame's TIME is when it read its keys,
SEQUENCE the input that carries them; the rest is what its screen shows: the game's state, the
ball, its own paddle and the paddle's line (the field's width). SENT and RECEIVED are the bytes
on the wire so far, ENet's headers included.
"""
import dataclasses

# As game/game.h has them.
IN_PLAY, POINT = 4, 5
KEY_UP, KEY_DOWN = 1, 2
HALF_PADDLE = 50.0
BALL_RADIUS = 10.0
BALL_FRONT = 5.0
HIT_BAND_FAR = 10.0
HIT_BAND_NEAR = 5.0
# A ball the host judged at the guest's paddle is looked for on the guest's screen from this
# long before the judgement (the guest reckons the host's time from frame lengths in whole ms,
# and runs the ball on when states are late) to this long after; two balls at the guest's
# paddle are more than a second apart, the ball's way to the other paddle and back.
SHOWN_EARLIEST_US = 250_000
SHOWN_LATEST_US = 750_000


@dataclasses.dataclass
class HostFrame:
    t: int
    frame_ms: int
    before_us: int
    after_us: int
    before_cpu_us: int
    after_cpu_us: int
    applied: int
    state: int
    heading: int
    ball_x: float
    ball_y: float
    right_y: float


@dataclasses.dataclass
class GuestFrame:
    t: int
    sequence: int
    keys: int
    state: int
    heading: int
    ball_x: float
    ball_y: float
    paddle_y: float
    paddle_x: float


@dataclasses.dataclass
class Trace:
    host: list = dataclasses.field(default_factory=list)
    guest: list = dataclasses.field(default_factory=list)
    traffic: dict = dataclasses.field(default_factory=lambda: {"host": [], "guest": []})


FRAME_KINDS = {"host": HostFrame, "guest": GuestFrame}


def read_trace(lines, trace=None):
    """Adds the lines of one trace file to `trace` (a new one when None) and returns it;
    ValueError names the first line that is not a trace's."""
    trace = trace or Trace()
    for number, line in enumerate(lines, 1):
        words = line.split()
        try:
            at, side, kind, *fields = words
            if kind == "frame" and side in FRAME_KINDS:
                made = FRAME_KINDS[side]
                types = [f.type for f in dataclasses.fields(made)][1:]
                if len(fields) != len(types):
                    raise ValueError
                getattr(trace, side).append(
                    made(int(at), *(convert(word) for convert, word in zip(types, fields))))
            elif kind == "traffic" and side in trace.traffic and len(fields) == 2:
                trace.traffic[side].append((int(at), int(fields[0]), int(fields[1])))
            else:
                raise ValueError
        except ValueError:
            raise ValueError(f"line {number} is no trace line: '{line.strip()[:80]}'") from None
    return trace


def playing_span(trace):
    """From the guest's first frame of the field (the serve, play or a point) to its last."""
    times = [g.t for g in trace.guest if g.state >= 3]
    return (times[0], trace.guest[-1].t) if times else (0, 0)


def key_to_host(trace):
    """Each change of the guest's paddle keys in play, from the guest's read of it to the end of
    the host's before_frame that took its input (the host's update follows at once), in ms."""
    delays = []
    host = trace.host
    h = 0
    held = None
    for g in trace.guest:
        moving = g.keys & (KEY_UP | KEY_DOWN)
        changed = held is not None and moving != held
        held = moving
        if not changed or g.sequence == 0 or g.state < 3:
            continue
        while h < len(host) and host[h].applied < g.sequence:
            h += 1
        if h == len(host):
            break
        delays.append((host[h].t + host[h].before_us - g.t) / 1000)
    return delays


def host_judgements(trace):
    """The host's judgement of each ball that reached the guest's (right) paddle: (time, hit,
    where the host had the paddle)."""
    judged = []
    for before, after in zip(trace.host, trace.host[1:]):
        if before.state != IN_PLAY or before.heading != 1:
            continue
        if after.state == IN_PLAY and after.heading == 0:
            judged.append((after.t, True, after.right_y))
        elif after.state == POINT:
            judged.append((after.t, False, after.right_y))
    return judged


def covers(frame):
    return abs(frame.paddle_y - frame.ball_y) <= HALF_PADDLE + BALL_RADIUS


def in_hit_band(frame):
    front = frame.ball_x + BALL_FRONT
    return frame.paddle_x - HIT_BAND_FAR <= front <= frame.paddle_x - HIT_BAND_NEAR


def guest_contacts(trace):
    """What the guest's screen showed of each ball that came to its paddle: (time, met, where
    the paddle was drawn). Met when a frame that showed the ball's front in the paddle's hit
    band, coming or just turned there, drew the paddle over the ball: the rule's own test, frame
    by frame, as the ball crosses the band. The time is the first frame that showed the front
    at the band or past it, or the ball turned or gone before it was shown there."""
    contacts = []
    approach = []
    for g in trace.guest:
        if g.state == IN_PLAY and g.heading == 1:
            approach.append(g)
            continue
        if approach:
            contacts.append(contact_of(approach, g))
        approach = []
    return contacts


def contact_of(approach, end):
    """The contact of one ball's way to the guest's paddle (its frames heading there), ended by
    the frame that showed it turned or gone."""
    at_band = [g for g in approach if g.ball_x + BALL_FRONT >= g.paddle_x - HIT_BAND_FAR]
    if not at_band:
        return (end.t, covers(end), end.paddle_y)
    turned_there = [end] if end.state == IN_PLAY and end.heading == 0 else []
    meeting = [g for g in at_band + turned_there if in_hit_band(g) and covers(g)]
    shown = meeting[0] if meeting else at_band[0]
    return (at_band[0].t, bool(meeting), shown.paddle_y)


@dataclasses.dataclass
class Agreement:
    balls: int = 0  # judged by the host and shown by the guest
    unseen: int = 0  # judged by the host, never shown at the guest's paddle
    phantom_hits: int = 0  # the host returned it; the guest's paddle was drawn elsewhere
    robbed: int = 0  # the guest's paddle was drawn over the ball; the host judged a miss
    # Of each ball: how far the paddle drawn was from the paddle the host judged with.
    offsets: list = dataclasses.field(default_factory=list)

    @property
    def differing(self):
        return self.phantom_hits + self.robbed


def screen_against_host(trace):
    """Pairs each judgement of the host with the next contact the guest showed near its time."""
    agreement = Agreement()
    contacts = guest_contacts(trace)
    c = 0
    for at, hit, judged_y in host_judgements(trace):
        while c < len(contacts) and contacts[c][0] < at - SHOWN_EARLIEST_US:
            c += 1
        if c == len(contacts) or contacts[c][0] > at + SHOWN_LATEST_US:
            agreement.unseen += 1
            continue
        _, met, drawn_y = contacts[c]
        c += 1
        agreement.balls += 1
        agreement.offsets.append(abs(drawn_y - judged_y))
        agreement.phantom_hits += hit and not met
        agreement.robbed += met and not hit
    return agreement


def bytes_per_second(samples, span):
    """(sent, received) per second over the samples within the span, or None with fewer than
    two."""
    inside = [s for s in samples if span[0] <= s[0] <= span[1]]
    if len(inside) < 2 or inside[-1][0] == inside[0][0]:
        return None
    seconds = (inside[-1][0] - inside[0][0]) / 1e6
    return ((inside[-1][1] - inside[0][1]) / seconds, (inside[-1][2] - inside[0][2]) / seconds)


def host_work(trace, span):
    """The host's network work of each frame within the span, in µs: (the thread's CPU time in
    before_frame and after_frame, the wall-clock time in them)."""
    return [(h.before_cpu_us + h.after_cpu_us, h.before_us + h.after_us) for h in trace.host
            if span[0] <= h.t <= span[1]]
