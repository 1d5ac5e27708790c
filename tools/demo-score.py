#!/usr/bin/env python3
"""Writes the demo performance: patches/demo.texte and scripts/demo.txt.

    tools/demo-score.py [DIR]      (DIR: the checkout, default: this one)

The demo is about 30 seconds in four scenes, each played by one situation
of the patch in solo mode, then all together:

  1. a just major chord fades in voice by voice (1/1 5/4 3/2 2/1, triangle
     waves) and frequency modulation is switched on ('q') and deepened and
     lightened again with the depth keys;
  2. a held king voice plays a melody by pushing its numerator and
     denominator across the lattice: the harmonic series under the prime
     limit 5, then under 7 (byte 4 raises the limit), then down the
     subharmonic series by the denominator;
  3. the ratio modulation matrix: one stick gesture turns a chord into
     another and back (two voices' denominators move: 10/8 to 10/6 and
     12/8 to 12/9, under the prime limit 3);
  4. solo off: every situation sounds, swells and fades out.

Everything is integer arithmetic in the instrument, so the script only
needs reports and keys; the motion is planned here by following the
instrument's own rules (pushes summed per report, divided by 64, tried
from the target back toward the current number under the prime limit).
Run it after changing the score and render the result to listen:

    build/quorvanel-render -p patches/demo.texte scripts/demo.txt demo.wav
"""
import os
import sys

RATE = 22050
UNIT = 256  # frames of the unit an event acts on, from its start


def frame(seconds):
    """The first frame of the unit that holds this moment."""
    return int(round(seconds * RATE / UNIT)) * UNIT


def ramp(t, t0, t1, a, b):
    if t <= t0:
        return a
    if t >= t1:
        return b
    return a + (b - a) * (t - t0) / (t1 - t0)


class Score:
    def __init__(self):
        self.events = []  # (frame, comments first, order written, line)

    def report(self, f, axes, byte4=0, note=""):
        b = [int(round(x)) for x in axes] + [byte4, 0, 0, 0]
        assert all(-128 <= x <= 127 for x in b), b
        self.add(f, "report " + " ".join("%d" % x for x in b), note)

    def key(self, f, k, note=""):
        self.add(f, "key " + k, note)

    def comment(self, f, text):
        self.events.append((f, 0, len(self.events), "# " + text))

    def add(self, f, text, note):
        line = "%-7d %s" % (f, text)
        if note:
            line = "%-34s # %s" % (line, note)
        self.events.append((f, 1, len(self.events), line))

    def text(self):
        return "\n".join(e[3] for e in sorted(self.events)) + "\n"


# ---- the patch: one block per situation -----------------------------------

def matrix(cells):
    m = [[0] * 4 for _ in range(4)]
    for (i, c), v in cells.items():
        m[i][c] = v
    return m


def situation(idx, rats, barre="atrest", chink=(1, 5, 8, 48), shift=0, wave=(1, 0),
              minister=1, kingals=None, fm=1, numals=None, fmshift=0):
    kingals = kingals or matrix({})
    numals = numals or matrix({})
    zero = matrix({})
    s = "chubby %d\n barre\n  %s\n" % (idx, barre)
    s += " chinkwonkanater\n  inhibit %d\n  primelm %d\n  stritton %d\n  strittle %d\n" % chink
    s += " sponginger\n"
    for v, (n, d) in enumerate(rats):
        s += "  rat %d = %d / %d\n" % (v, n, d)
    s += "  bitshift %d\n  gingzgongz %d\n  quiznoquantan %d\n" % ((shift,) + wave)
    s += " royalminister\n  inhibit %d\n" % minister
    for r in range(4):
        s += "  kingals %d = %s\n" % (r, "".join("%d " % x for x in kingals[r]))
        s += "  queenals %d = %s\n" % (r, "".join("%d " % x for x in zero[r]))
    s += " royalfmoutarde\n  inhibit %d\n" % fm
    for r in range(4):
        s += "  numals %d = %s\n" % (r, "".join("%d " % x for x in numals[r]))
        s += "  denals %d = %s\n" % (r, "".join("%d " % x for x in zero[r]))
    s += "  bitshift %d\n" % fmshift
    return s


# Step 48 puts 1/1 at 22050 * 48 / 4096 = 258.4 Hz.
PATCH = (
    # 1: 24/24 30/24 36/24 48/24 = 1 5/4 3/2 2, triangles. FM (off until 'q'):
    # each voice's numerator follows the voice two along; voices 1 and 3 play
    # on the right (negative levels), so their cells read the negative side.
    situation(0, [(24, 24), (30, 24), (36, 24), (48, 24)],
              numals=matrix({(0, 2): 1, (1, 2): -1, (2, 2): 1, (3, 2): -1}), fmshift=8)
    # 2: voice 0 held as king, square wave; the prime limit follows byte 4.
    + situation(1, [(4, 4), (1, 1), (1, 1), (1, 1)], barre="kingal 0", chink=(0, 5, 8, 48), wave=(0, 0))
    # 3: C E G C as 8/8 10/8 12/8 16/8, an octave lower (step 24); sticks
    # 0 and 1 move voice 2's denominator, sticks 2 and 3 voice 1's (16 per
    # step): a fade of a stick pair with opposite signs cancels and moves
    # nothing. Under the prime limit 3 a push of 2 steps up lands on 9 (10
    # is refused) and 2 down on 8 (7 is refused): the gestures are even.
    + situation(2, [(8, 8), (10, 8), (12, 8), (16, 8)], chink=(1, 3, 8, 24), shift=4, minister=0,
                kingals=matrix({(2, 2): -1, (2, 3): -1, (1, 1): -1, (1, 2): -1}))
)


# ---- the king's motion, as the instrument does it ---------------------------

def largest_prime_factor(n):
    big, p = 1, 2
    while n > 1:
        while n % p == 0:
            n //= p
            big = p
        p += 1
    return big


class King:
    """Voice 0 held alone: sticks 0/1 push its numerator up/down, 2/3 its
    denominator; a push counts above 4 and is summed until a step lands."""

    def __init__(self, n, d, limit):
        self.n, self.d, self.limit = n, d, limit
        self.nume_push = self.deno_push = 0

    def report(self, a):
        a = [int(round(x)) for x in a]
        self.nume_push += (a[0] if a[0] > 4 else 0) - (a[1] if a[1] > 4 else 0)
        self.deno_push += (a[2] if a[2] > 4 else 0) - (a[3] if a[3] > 4 else 0)
        n = self.step(self.n, self.nume_push >> 6, True)
        if n is not None:
            self.n, self.nume_push = n, 0
        d = self.step(self.d, self.deno_push >> 6, False)
        if d is not None:
            self.d, self.deno_push = d, 0

    def step(self, a, by, numerator):
        if by in (0, -1):
            return None
        t = a + by
        if t <= 0:
            t = 1 - t if numerator else -t
        t %= 256
        for x in (range(t, a, -1) if t > a else range(t, a)):
            if largest_prime_factor(max(x, 1)) <= self.limit:
                return x
        return None


def king_reports(king, target, level):
    """The reports (one a unit) that move the king to target while the sticks
    add up to `level`: pushes above 4 move, and values of 4 or less (negative
    ones too) only make up the level."""
    n, d = target
    plans = []
    if n > king.n:
        s = n - king.n
        plans = [[64, 0, 0, 0]] if s == 1 else [[63, 0, 0, 0], [s * 64 - 63, 0, 0, 0]]
    elif n < king.n:
        plans = [[0, 64 * (king.n - n), 0, 0]]  # a push of -64 is "no motion": -2 is the least
    elif d > king.d:
        plans = [[0, 0, 64 * (d - king.d), 0]]
    elif d < king.d:
        plans = [[0, 0, 0, 64 * (king.d - d)]]
    out = []
    for p in plans:
        out.append(balance(p, level))
        king.report(out[-1])
    assert (king.n, king.d) == (n, d), ((king.n, king.d), target)
    return out


def balance(pushes, level):
    """Fills the sticks that do not push so that all four add up to level."""
    a = [min(127, x) for x in pushes]
    free = [k for k in range(4) if a[k] == 0]
    rest = level - sum(a)
    if rest > 0:
        # Only pushes can add up: a pair that pushes both ways cancels.
        # An odd unit goes to a third stick: 1 is no push.
        pair = (2, 3) if 2 in free and 3 in free else (0, 1)
        a[pair[0]] += rest // 2
        a[pair[1]] += rest // 2
        a[[k for k in range(4) if k not in pair][0]] += rest % 2
    else:
        for i, k in enumerate(free):
            a[k] = rest // len(free) + (1 if i < rest % len(free) else 0)
    assert sum(a) == level and all(-128 <= x <= 127 for x in a), (pushes, level, a)
    return a


def write(root):
    sc = Score()
    # Scene 1 ------------------------------------------------------------
    sc.comment(0, "1. A just major chord, voice by voice (left, right, left, right), then FM.")
    sc.key(0, "/", "solo: the first situation alone")
    L = 60
    f = 0
    while f < frame(7.4):
        t = f / RATE
        g = ramp(t, 6.4, 7.2, 1, 0)
        lv = [ramp(t, 0.0, 0.6, 0, L), -ramp(t, 0.6, 1.2, 0, L),
              ramp(t, 1.2, 1.8, 0, L), -ramp(t, 1.8, 2.4, 0, L)]
        sc.report(f, [x * g for x in lv])
        f += 512
    for t, k, note in [(2.8, "q", "FM on, at the shallowest depth (8)"), (3.4, "u", "depth 5"),
                       (4.0, "y", "depth 4"), (4.6, "t", "depth 3"), (5.4, "y", "depth 4"),
                       (6.0, "u", "depth 5")]:
        sc.key(frame(t), k, note)

    # Scene 2 ------------------------------------------------------------
    t2 = 7.5
    sc.comment(frame(t2), "2. A held king voice walks the lattice: the harmonic series over 4,")
    sc.comment(frame(t2), "   first under the prime limit 5, then 7 (byte 4 = 25), then down by")
    sc.comment(frame(t2), "   the denominator. Sticks 0/1 push the numerator, 2/3 the denominator;")
    sc.comment(frame(t2), "   together the four set the level (their sum; negative: right side).")
    sc.key(frame(t2), "032", "Space: the second situation")
    king = King(4, 4, 5)
    beat = 1792  # seven units
    phrases = [
        (0, +100, [(5, 4, 2), (6, 4, 2), (8, 4, 4), (9, 4, 2), (10, 4, 2), (12, 4, 5),
                   (10, 4, 2), (8, 4, 2), (6, 4, 2), (4, 4, 5)]),
        (25, -100, [(5, 4, 2), (6, 4, 2), (7, 4, 4), (8, 4, 4), (10, 4, 2), (12, 4, 2),
                    (14, 4, 4), (16, 4, 6), (14, 4, 2), (12, 4, 2), (10, 4, 2), (8, 4, 5)]),
        (25, -100, [(8, 5, 4), (8, 6, 4), (8, 7, 4), (8, 8, 10)]),
    ]
    f = frame(t2) + 512
    level = 0
    for pi, (byte4, side, notes) in enumerate(phrases):
        king.limit = 7 if byte4 else 5
        if side != level:
            # Fade to the phrase's side over eight units (through silence).
            for i in range(1, 9):
                lv = level + (side - level) * i / 8
                a = balance([0, 0, 0, 0], int(round(lv)))
                king.report(a)
                sc.report(f, a, byte4)
                f += UNIT
            level = side
            if pi == 1:
                sc.comment(f, "   byte 4 = 25: prime limit 7, so 7/4 and 14/4 can sound; now on the right")
        for j, (n, d, beats) in enumerate(notes):
            last = pi == len(phrases) - 1 and j == len(notes) - 1
            start = f
            for a in king_reports(king, (n, d), level):
                sc.report(f, a, byte4, "%d/%d" % (n, d) if f == start else "")
                f += UNIT
            end = start + beats * beat
            while f < end:
                g = ramp(f, end - 6 * beat, end, 1, 0) if last else 1
                a = balance([0, 0, 0, 0], int(round(level * g)))
                king.report(a)
                sc.report(f, a, byte4)
                f += 512
            f = end
    sc.report(f, [0, 0, 0, 0], 25)

    # Scene 3 ------------------------------------------------------------
    t3 = f / RATE + 0.1
    sc.comment(frame(t3), "3. The ratio modulation matrix: stick 0 up and stick 3 down move two")
    sc.comment(frame(t3), "   denominators: C E G C (8/8 10/8 12/8 16/8) becomes C A F C")
    sc.comment(frame(t3), "   (8/8 10/6 12/9 16/8), and back, an octave lower, prime limit 3.")
    sc.key(frame(t3), "032", "Space: the third situation")
    L = 60
    gestures = [(2.0, 32, -32, "C A F C"), (3.6, -32, 32, "C E G C"),
                (4.6, 32, -32, "C A F C"), (6.0, -32, 32, "C E G C")]
    f = frame(t3) + 512
    while f < frame(t3 + 7.0):
        t = f / RATE - t3
        l = int(round(ramp(t, 0, 1.0, 0, L)))
        d0 = sum(g[1] for g in gestures if t >= g[0])
        d3 = sum(g[2] for g in gestures if t >= g[0])
        note = "".join(g[3] for g in gestures if g[0] <= t < g[0] + 512 / RATE)
        g = ramp(t, 6.3, 6.9, 1, 0)
        sc.report(f, [(l + d0) * g, -l * g, l * g, (-l + d3) * g], 0, note)
        f += 512

    # Scene 4 ------------------------------------------------------------
    t4 = t3 + 7.1
    sc.comment(frame(t4), "4. Solo off: the three situations together, sides swapped. The king")
    sc.comment(frame(t4), "   (second) stays silent, as the sticks add up to 0; the chords swell")
    sc.comment(frame(t4), "   and fade, and the third's stick pairs cancel in its matrix.")
    sc.key(frame(t4), "/", "solo off")
    f = frame(t4) + 512
    end = frame(30.0)
    while f < end:
        t = f / RATE - t4
        l = ramp(t, 0, 1.5, 0, 56) * ramp(f / RATE, 28.0, 30.0, 1, 0)
        l = int(round(l))
        sc.report(f, [-l, l, -l, l])
        f += 512
    sc.report(end, [0, 0, 0, 0], 0, "silence; the instrument plays on")

    head = ("# The demo performance: about 30 seconds in four scenes, one situation\n"
            "# of patches/demo.texte after the other, then all three together.\n"
            "# Written by tools/demo-score.py (edit the score there).\n#\n"
            "#   make demo      (plays it live: build/quorvanel --play scripts/demo.txt patches/demo.texte)\n"
            "#   build/quorvanel-render -p patches/demo.texte scripts/demo.txt demo.wav\n")
    with open(os.path.join(root, "scripts", "demo.txt"), "w") as o:
        o.write(head + sc.text())
    with open(os.path.join(root, "patches", "demo.texte"), "w") as o:
        o.write(PATCH)


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
