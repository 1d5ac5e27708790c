// The frame step of the ratio set (gingFrame) against two references: four
// ging calls on an identical set, and a plain reading of the oscillator
// rules written out here. The states are random and often extreme (any
// phase, direction, offset, step size), so wrapped spans and multi-span
// overshoots are met as well as ordinary folds.
#include "voice/VoiceRig.h"

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

using voicetest::Rig;

long foldsSeen = 0;      // steps that crossed an edge
long multiSpanSeen = 0;  // of those, overshoots of a whole span or more

// One voice, as the oscillator rules read: span A from the denominator,
// step S from the numerator, a move by S in the direction, then the fold.
struct PlainVoice {
    int phase, direction, numeOffset, denoOffset;

    int next(int nume, int deno, int stepSize, bool sawtooth, bool fromPhase) {
        int A = std::max((denoOffset + deno) * 1024, 1024);
        int E = 2 * A;
        int S = (numeOffset + nume) * stepSize;
        if (S <= 0) S = 1;
        phase = direction == 1 ? phase + S : phase - S;
        int up = phase - A;
        int down = -A - phase;
        if (sawtooth) {
            direction = 1;
            if (up >= 0) phase = up % E - A;
        } else {
            if (up >= 0) fold(up / E, up % E, A, 1);
            if (down >= 0) fold(down / E, down % E, A, -1);
        }
        numeOffset = denoOffset = 0;
        return fromPhase ? phase / deno : direction * 1024;
    }

    // An odd number of whole spans leaves the phase leaving the edge it
    // crossed (side +1: the top), an even number heading back.
    void fold(int spans, int rest, int A, int side) {
        foldsSeen++;
        if (spans != 0) multiSpanSeen++;
        bool odd = spans & 1;
        direction = odd ? side : -side;
        phase = direction == 1 ? rest - A : A - rest;
    }
};

int wild(std::mt19937& rng) {
    static const int edge[] = {0, 1, -1, 2, 1023, 1024, 2047, 2048, 255 * 1024, INT_MAX, INT_MIN, INT_MAX / 2,
                               INT_MIN / 2, (1 << 21) + 7, -(1 << 21)};
    return rng() % 3 ? static_cast<int>(rng()) : edge[rng() % (sizeof edge / sizeof edge[0])];
}

// Moderate values: the ordinary range of play, where folds are single spans.
int tame(std::mt19937& rng, int span) { return static_cast<int>(rng() % (2 * span + 1)) - span; }

void loadSelector(Rig& r, int stritton, int strittle) {
    voicetest::load(r.chink, "inhibit 0 primelm 251 stritton " + std::to_string(stritton) + " strittle " +
                                 std::to_string(strittle));
}

}  // namespace

TEST(GingFrame, MatchesFourGingCallsAndThePlainRules) {
    std::mt19937 rng(8122026);
    Rig frame, calls;
    PlainVoice plain[4];
    for (int round = 0; round < 4000; round++) {
        bool extreme = round % 4 == 0;
        // A new state for both sets and the plain voices.
        int stritton = static_cast<int>(rng() % 9);
        int strittle = extreme ? wild(rng) : tame(rng, 200);
        auto officio = static_cast<signed char>(rng());
        int gz = static_cast<int>(rng() % 3), qz = static_cast<int>(rng() % 2);
        int nume[4], deno[4];
        for (int v = 0; v < 4; v++) {
            nume[v] = 1 + static_cast<int>(rng() % 255);
            deno[v] = 1 + static_cast<int>(rng() % 255);
            int deno0 = deno[v];
            plain[v] = PlainVoice{extreme ? wild(rng) : tame(rng, deno0 * 1024),
                                  rng() % 5 == 0 ? wild(rng) : (rng() % 2 ? 1 : -1),
                                  extreme ? wild(rng) : tame(rng, 40), extreme ? wild(rng) : tame(rng, 3)};
        }
        for (Rig* r : {&frame, &calls}) {
            loadSelector(*r, stritton, strittle);
            r->chink.chink(officio);
            r->ginger.gingzgongz = gz;
            r->ginger.quiznoquantan = qz;
            for (int v = 0; v < 4; v++) {
                r->setRat(v, nume[v], deno[v]);
                r->ginger.phase[v] = plain[v].phase;
                r->ginger.direction[v] = plain[v].direction;
                r->ginger.numeOffset[v] = plain[v].numeOffset;
                r->ginger.denoOffset[v] = plain[v].denoOffset;
            }
        }
        // A few frames from that state, with fresh offsets each time.
        for (int f = 0; f < 8; f++) {
            int stepSize = calls.chink.getStrittle();
            int out[4];
            frame.ginger.gingFrame(out);
            for (int v = 0; v < 4; v++) {
                int expected = plain[v].next(nume[v], deno[v], stepSize, qz != 0, gz != 0);
                ASSERT_EQ(calls.ginger.ging(v), expected) << "round " << round << " frame " << f << " voice " << v;
                ASSERT_EQ(out[v], expected) << "round " << round << " frame " << f << " voice " << v;
                ASSERT_EQ(frame.ginger.phase[v], plain[v].phase);
                ASSERT_EQ(frame.ginger.direction[v], plain[v].direction);
                ASSERT_EQ(calls.ginger.phase[v], plain[v].phase);
                ASSERT_EQ(calls.ginger.direction[v], plain[v].direction);
                EXPECT_EQ(frame.ginger.numeOffset[v], 0);
                EXPECT_EQ(frame.ginger.denoOffset[v], 0);
            }
            // The step size's floor is left in strittle alike.
            ASSERT_EQ(frame.chink.getStrittle(), calls.chink.getStrittle());
            for (int v = 0; v < 4; v++) {
                int dn = extreme ? wild(rng) : tame(rng, 3), nn = extreme ? wild(rng) : tame(rng, 40);
                for (Rig* r : {&frame, &calls}) {
                    r->ginger.moutardateNume(v, nn);
                    r->ginger.moutardateDeno(v, dn);
                }
                plain[v].numeOffset = nn;
                plain[v].denoOffset = dn;
            }
        }
    }
    // The walk met folds and overshoots of several spans, not only smooth steps.
    EXPECT_GT(foldsSeen, 1000);
    EXPECT_GT(multiSpanSeen, 100);
}

// The step size is asked for once per frame: a negative axis share larger
// than strittle raises strittle on the first asking, and a second asking
// gives the same step size and leaves strittle as it is.
TEST(GingFrame, StepSizeFloorHoldsAfterTheFirstAsking) {
    Rig r;
    loadSelector(r, 0, 50);
    r.chink.chink(-100);
    const std::string raised = "  strittle 100\n";
    EXPECT_EQ(r.chink.getStrittle(), 0);
    EXPECT_NE(voicetest::written(r.chink).find(raised), std::string::npos);
    EXPECT_EQ(r.chink.getStrittle(), 0);
    EXPECT_NE(voicetest::written(r.chink).find(raised), std::string::npos);
    // With step size 0 every voice advances by the floor of 1 per frame.
    int out[4];
    r.ginger.gingzgongz = 1;
    r.ginger.gingFrame(out);
    for (int v = 0; v < 4; v++) EXPECT_EQ(r.ginger.phase[v], 1);
}

// The four voices' phase / denominator is taken as a product with the
// denominator's reciprocal in doubles. It must truncate to the very
// quotient the integer division gives, for every denominator and for the
// phases next to every whole quotient (where a rounding error would show
// first), and at the ends of the int range.
TEST(GingFrame, ReciprocalGivesTheExactQuotient) {
    std::mt19937 rng(20261208);
    long checked = 0;
    for (int d = 1; d <= 255; d++) {
        double r = SponGinger::reciprocal(d);
        auto check = [&](long long wide) {
            if (wide < INT_MIN || wide > INT_MAX) return;
            int p = static_cast<int>(wide);
            ASSERT_EQ(static_cast<int>(p * r), p / d) << p << " / " << d;
            checked++;
        };
        for (long long p : {static_cast<long long>(INT_MIN), INT_MIN + 1LL, -1LL, 0LL, 1LL, INT_MAX - 1LL,
                            static_cast<long long>(INT_MAX)})
            check(p);
        long long most = INT_MAX / d;
        for (int i = 0; i < 4000; i++) {
            // Quotients near 0, near the largest, and anywhere between.
            long long q = i < 1000 ? i - 500 : i < 2000 ? most - (i - 1000) : static_cast<long long>(rng() % (2 * most + 1)) - most;
            for (long long k = -1; k <= 1; k++) check(q * d + k);
        }
    }
    EXPECT_GT(checked, 255L * 11000);
}

// The two states the four-at-once step leaves to the voice-by-voice rules,
// worked out by hand. Voice ratios 1/1; a numerator offset of -1 makes the
// step the floor of 1, whatever the step size.
TEST(GingFrame, HugeSpansFoldByTheSameRules) {
    auto frameFrom = [](int phase, int denoOffset, int* out) {
        Rig r;
        loadSelector(r, 0, 10);
        r.ginger.gingzgongz = 1;
        for (int v = 0; v < 4; v++) {
            r.setRat(v, 1, 1);
            r.ginger.phase[v] = phase;
            r.ginger.direction[v] = 1;
            r.ginger.numeOffset[v] = -1;
            r.ginger.denoOffset[v] = denoOffset;
        }
        r.ginger.gingFrame(out);
        for (int v = 1; v < 4; v++) EXPECT_EQ(r.ginger.phase[v], r.ginger.phase[0]);
        return std::pair{r.ginger.phase[0], r.ginger.direction[0]};
    };
    int out[4];
    // A = 878906 × 1024 = 899999744, E = 1799999488. The phase steps to
    // INT_MIN + 5, which is past both edges in wrapped arithmetic:
    // up = 1247483909 turns it down to A - up, then down = 1247483899
    // turns it up again to down - A = 347484155.
    auto [p1, d1] = frameFrom(INT_MIN + 4, 878905, out);
    EXPECT_EQ(p1, 347484155);
    EXPECT_EQ(d1, 1);
    EXPECT_EQ(out[0], 347484155);
    // A = (2^20 + 1) × 1024 = 2^30 + 1024, so E = 2A wraps to -2147481600.
    // The phase steps to 2^30 + 1501, 477 past the top: 477 / E is 0, so
    // it turns down to A - 477. But down = -A - p wraps to 2147481123,
    // also past its edge and also 0 spans of E: it turns up again to
    // down - A = 1073738275.
    auto [p2, d2] = frameFrom((1 << 30) + 1500, 1 << 20, out);
    EXPECT_EQ(p2, 1073738275);
    EXPECT_EQ(d2, 1);
    EXPECT_EQ(out[3], 1073738275);
}

// The whole spans of an overshoot are found by a float division of
// over / 2048 by E / 2048. The four voices step by 1 from just below an
// edge to exactly `over` past it, for spans E = 2048 × m from the smallest
// to the largest an int holds, and overshoots next to every few whole
// numbers of spans up to the largest that fits: where a rounding error
// would show first. Triangle and sawtooth, upward and downward, against
// the plain rules.
TEST(GingFrame, FoldSpansExactAtEveryScale) {
    const int ms[] = {1, 2, 3, 7, 255, 256, 1000, 4093, 65521, (1 << 19) - 1, 1 << 19, (1 << 19) + 1, (1 << 20) - 3};
    std::mt19937 rng(1208);
    long checked = 0;
    for (int m : ms) {
        long long A = 1024LL * m, E = 2 * A;
        long long most = (INT_MAX - A) / E;  // whole spans an int phase can overshoot
        std::vector<long long> overs;
        for (long long k : {0LL, 1LL, 2LL, 3LL, most / 2, most - 1, most}) {
            if (k < 0 || k > most) continue;
            for (long long d : {-1LL, 0LL, 1LL, E - 1}) overs.push_back(k * E + d);
        }
        for (int i = 0; i < 200; i++) overs.push_back(static_cast<long long>(rng() % (most * E + E)));
        for (long long o : overs) {
            if (o < 0 || o > INT_MAX - A) continue;
            for (int sawtooth = 0; sawtooth < 2; sawtooth++)
                for (int side : {1, -1}) {
                    if (sawtooth && side == -1) continue;  // a sawtooth folds only at the top
                    int start = static_cast<int>(side == 1 ? A + o - 1 : -A - o + 1);
                    Rig r;
                    loadSelector(r, 8, 1);  // step size 1
                    r.ginger.gingzgongz = 1;
                    r.ginger.quiznoquantan = sawtooth;
                    PlainVoice plain{start, side, 0, m - 1};
                    for (int v = 0; v < 4; v++) {
                        r.setRat(v, 1, 1);
                        r.ginger.phase[v] = start;
                        r.ginger.direction[v] = side;
                        r.ginger.denoOffset[v] = m - 1;
                    }
                    int out[4];
                    r.ginger.gingFrame(out);
                    int expected = plain.next(1, 1, 1, sawtooth, true);
                    ASSERT_EQ(out[0], expected) << "m " << m << " over " << o << " side " << side;
                    ASSERT_EQ(r.ginger.phase[0], plain.phase) << "m " << m << " over " << o;
                    ASSERT_EQ(r.ginger.direction[0], plain.direction) << "m " << m << " over " << o;
                    checked++;
                }
        }
    }
    EXPECT_GT(checked, 13 * 200 * 2);
}
