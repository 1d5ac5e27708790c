#include "VoiceRig.h"

#include <climits>
#include <random>

namespace {

using voicetest::lattice;

struct RatioSet : ::testing::Test, voicetest::Rig {
    RatChord* quid(int n, int d) { return lattice()->getQuid(n, d); }
    // Walk position and ratio of a voice, as "n/d" pairs for readable failures.
    std::pair<int, int> at(RatChord* c) { return {c->getNume(), c->getDeno()}; }
    std::pair<int, int> sounding(int v) { return at(ginger.getRat(v)); }
};

using P = std::pair<int, int>;

TEST_F(RatioSet, FreshSetStartsAtUnisonBelowTheReference) {
    RatChord* q = lattice()->getQuadrangularis();
    EXPECT_EQ(ginger.getRat(0), q);
    EXPECT_EQ(sounding(1), P(2, 2));
    EXPECT_EQ(sounding(2), P(3, 3));
    EXPECT_EQ(sounding(3), P(4, 4));
    EXPECT_EQ(ginger.getRat(1), q->getPrev());
    for (int v = 0; v < 4; v++) {
        EXPECT_EQ(ginger.walkCursor[v], ginger.getRat(v));
        EXPECT_EQ(ginger.phase[v], 0);
        EXPECT_EQ(ginger.direction[v], 1);
    }
}

TEST_F(RatioSet, NumberStepsFoldAtBothEnds) {
    setRat(0, 255, 7);
    EXPECT_EQ(ginger.kingalNume(0, 1), 1);  // 256 folds to 0, read as 1
    EXPECT_EQ(sounding(0), P(1, 7));
    setRat(0, 1, 1);
    EXPECT_EQ(ginger.kingalNume(0, -2), 1);  // -1 folds to 1 - (-1) = 2
    EXPECT_EQ(sounding(0), P(2, 1));
    setRat(0, 3, 2);
    EXPECT_EQ(ginger.kingalDeno(0, -3), 1);  // -1 folds to 1
    EXPECT_EQ(sounding(0), P(3, 1));
    setRat(0, 3, 2);
    EXPECT_EQ(ginger.kingalDeno(0, -2), 1);  // 0 stays 0, read as 1
    EXPECT_EQ(sounding(0), P(3, 1));
}

TEST_F(RatioSet, NumberStepSearchesBackTowardTheCurrentValue) {
    // Prime limit 2 (fresh): 7, 6, 5 are refused and nothing moves.
    EXPECT_EQ(ginger.kingalNume(3, 3), 0);
    EXPECT_EQ(sounding(3), P(4, 4));
    EXPECT_EQ(ginger.kingalNume(3, 4), 1);
    EXPECT_EQ(sounding(3), P(8, 4));
    // A long push lands on the nearest power of two below the target.
    EXPECT_EQ(ginger.kingalNume(0, 254), 1);
    EXPECT_EQ(sounding(0), P(128, 1));
    EXPECT_EQ(ginger.kingalDeno(0, 100), 1);  // 101 down to 64
    EXPECT_EQ(sounding(0), P(128, 64));
    chink.chink(0);  // limit 5
    EXPECT_EQ(ginger.kingalNume(0, -60), 1);  // 68, 69, 70, 71, 72 = 2^3·3^2
    EXPECT_EQ(sounding(0), P(72, 64));
}

TEST_F(RatioSet, SmallShiftedAmountsDoNothing) {
    setRat(0, 6, 1);
    EXPECT_EQ(ginger.kingalNume(0, 0), 0);
    EXPECT_EQ(ginger.kingalNume(0, -1), 0);
    EXPECT_EQ(ginger.kingalDeno(0, -1), 0);
    EXPECT_EQ(ginger.queenalis(0, -1), 0);
    EXPECT_EQ(sounding(0), P(6, 1));
    EXPECT_EQ(ginger.kingalNume(0, -2), 1);  // a raw -2 moves by -2
    EXPECT_EQ(sounding(0), P(4, 1));
    ginger.changeAsdfghon(6);
    EXPECT_EQ(ginger.kingalNume(0, -64), 0);
    EXPECT_EQ(ginger.kingalNume(0, 63), 0);
    EXPECT_EQ(ginger.kingalNume(0, -65), 1);  // floor(-65 / 64) = -2
    EXPECT_EQ(sounding(0), P(2, 1));
}

TEST_F(RatioSet, FileBitshiftIsUsedByItsLowFiveBits) {
    ginger.changeAsdfghon(33);  // acts as 1
    EXPECT_EQ(ginger.kingalNume(0, 2), 1);
    EXPECT_EQ(sounding(0), P(2, 1));
    ginger.changeAsdfghon(-1);  // acts as 31: everything shifts to 0 or -1
    EXPECT_EQ(ginger.kingalNume(0, INT_MAX), 0);
    EXPECT_EQ(ginger.kingalDeno(0, INT_MIN), 0);
    EXPECT_EQ(ginger.queenalis(0, INT_MAX), 0);
    EXPECT_EQ(sounding(0), P(2, 1));
}

TEST_F(RatioSet, ExtremeNumberPushesStayInTheLattice) {
    chink.chink(127);  // limit 251
    setRat(0, 100, 100);
    EXPECT_EQ(ginger.kingalNume(0, INT_MAX), 1);  // 2^31 + 99 folds to 99
    EXPECT_EQ(sounding(0), P(99, 100));
    EXPECT_EQ(ginger.kingalNume(0, INT_MIN), 1);  // 1 - (99 - 2^31) = 2^31 - 98 → 158
    EXPECT_EQ(sounding(0), P(158, 100));
    EXPECT_EQ(ginger.kingalDeno(0, INT_MIN), 1);  // -(100 - 2^31) → 156
    EXPECT_EQ(sounding(0), P(158, 156));
}

TEST_F(RatioSet, ChainStepsWalkAndStopOnAcceptedRatios) {
    RatChord* q = lattice()->getQuadrangularis();
    EXPECT_EQ(ginger.queenalis(0, -2), 1);  // one link down
    EXPECT_EQ(ginger.getRat(0), q->getPrev());
    EXPECT_EQ(sounding(0), P(2, 2));
    EXPECT_EQ(ginger.walkCursor[0], ginger.getRat(0));
    EXPECT_EQ(ginger.queenalis(0, 2), 1);  // two links up: 1/1, then the second 1/1
    EXPECT_EQ(ginger.getRat(0), quid(1, 1));
    EXPECT_NE(ginger.getRat(0), q);
}

TEST_F(RatioSet, RefusedRatiosMoveTheCursorNotTheSound) {
    // Above the second 1/1 the chain runs 255/254, 254/253, 253/252: all
    // refused at the prime limit 2.
    setRat(0, 1, 1);
    ginger.durszen(0);
    EXPECT_EQ(ginger.queenalis(0, 3), 1);
    EXPECT_EQ(ginger.getRat(0), quid(1, 1));
    EXPECT_EQ(ginger.walkCursor[0], quid(253, 252));
    // The next step continues from there...
    EXPECT_EQ(ginger.queenalis(0, -3), 1);
    EXPECT_EQ(ginger.walkCursor[0], quid(255, 254));
    EXPECT_EQ(ginger.getRat(0), quid(1, 1));
    // ...until it passes accepted ratios: the last one passed sounds.
    EXPECT_EQ(ginger.queenalis(0, -4), 1);
    EXPECT_EQ(sounding(0), P(2, 2));
    // durszen puts the cursor back on the sounding ratio.
    ginger.walkCursor[0] = quid(253, 252);
    ginger.durszen(0);
    EXPECT_EQ(ginger.walkCursor[0], ginger.getRat(0));
}

TEST_F(RatioSet, ChainEndsStopTheWalk) {
    chink.chink(127);
    setRat(0, 1, 255);
    ginger.durszen(0);
    EXPECT_EQ(ginger.queenalis(0, INT_MIN), 1);  // nothing below the bottom
    EXPECT_EQ(sounding(0), P(1, 255));
    EXPECT_EQ(ginger.queenalis(0, INT_MAX), 1);  // the whole chain, once
    EXPECT_EQ(sounding(0), P(255, 1));
    EXPECT_EQ(ginger.queenalis(0, 5), 1);
    EXPECT_EQ(sounding(0), P(255, 1));
    EXPECT_EQ(ginger.walkCursor[0], quid(255, 1));
}

TEST_F(RatioSet, OsciratePreservesTheWaveformValue) {
    ginger.phase[1] = 300;
    ginger.oscirate(1, 2, 4);
    EXPECT_EQ(ginger.phase[1], 600);  // 2 → 4 doubles the phase
    EXPECT_EQ(sounding(1), P(2, 4));
    ginger.oscirate(1, 3, 4);
    EXPECT_EQ(ginger.phase[1], 600);  // a numerator change leaves it
    ginger.phase[1] = -301;
    ginger.oscirate(1, 3, 6);
    EXPECT_EQ(ginger.phase[1], -451);  // -301 × 6 / 4 = -451.5, toward zero
    ginger.oscirate(1, 300, 0);  // numbers go through the lattice look-up
    EXPECT_EQ(sounding(1), P(44, 1));
    EXPECT_EQ(ginger.phase[1], -75);
}

// One square wave of the fresh set: rises for 7 samples, then alternates
// every 16 (step 128 per denominator unit, span 1024 per unit).
int freshSquare(int k) { return ((k + 8) / 16) % 2 == 0 ? 1024 : -1024; }

TEST_F(RatioSet, FreshVoicesAreSquareWavesOfOnePeriod) {
    for (int k = 1; k <= 100; k++)
        for (int v = 0; v < 4; v++) ASSERT_EQ(ginger.ging(v), freshSquare(k)) << "voice " << v << " sample " << k;
    // After 100 samples every voice is at the same place of its span.
    for (int v = 1; v < 4; v++) EXPECT_EQ(ginger.phase[v], ginger.phase[0] * (v + 1));
}

TEST_F(RatioSet, PhaseOutputDividesByTheBareDenominator) {
    ginger.ginggong();
    EXPECT_EQ(ginger.ging(1), 128);  // 2/2: phase 256, / 2
    ginger.moutardateDeno(1, 2);
    EXPECT_EQ(ginger.ging(1), 256);  // phase 512, still / 2
    EXPECT_EQ(ginger.denoOffset[1], 0);
}

TEST_F(RatioSet, SawtoothWrapsAndHoldsDirection) {
    ginger.quixnoquantl();
    for (int k = 1; k <= 7; k++) EXPECT_EQ(ginger.ging(0), 1024);
    ginger.ging(0);
    EXPECT_EQ(ginger.phase[0], -1024);  // wrapped at A
    EXPECT_EQ(ginger.direction[0], 1);
    ginger.ginggong();
    EXPECT_EQ(ginger.ging(0), -896);
    // Left falling by the triangle: one step down, then it climbs again.
    ginger.direction[0] = -1;
    EXPECT_EQ(ginger.ging(0), -1024);
    EXPECT_EQ(ginger.direction[0], 1);
    ginger.moutardateNume(0, 99);  // S = 12800: 11776 past A wraps to 512 - 1024
    EXPECT_EQ(ginger.ging(0), -512);
}

TEST_F(RatioSet, StepAndSpanHaveFloors) {
    ginger.ginggong();
    ginger.moutardateNume(0, -1);  // S = 0 → 1
    EXPECT_EQ(ginger.ging(0), 1);
    ginger.moutardateNume(0, -50);  // S negative → 1
    EXPECT_EQ(ginger.ging(0), 2);
    EXPECT_EQ(ginger.ging(0), 130);  // offsets last one step only
    ginger.phase[0] = 1000;
    ginger.moutardateDeno(0, -5);  // A = -4096 → 1024: 1128 folds to 920
    EXPECT_EQ(ginger.ging(0), 920);
    EXPECT_EQ(ginger.direction[0], -1);
    ginger.phase[0] = 1000;
    ginger.direction[0] = 1;
    ginger.moutardateDeno(0, 9);  // A = 10240: no fold
    EXPECT_EQ(ginger.ging(0), 1128);
}

TEST_F(RatioSet, LargeOvershootFoldsAlikeOnBothSides) {
    // Voice 0 (1/1): A = 1024, E = 2048.
    ginger.moutardateNume(0, 99);  // S = 12800: 5 spans past A, odd
    ginger.ging(0);
    EXPECT_EQ(ginger.phase[0], 512);
    EXPECT_EQ(ginger.direction[0], 1);
    ginger.phase[0] = 0;
    ginger.moutardateNume(0, 49);  // S = 6400: 2 spans past A, even
    ginger.ging(0);
    EXPECT_EQ(ginger.phase[0], -256);
    EXPECT_EQ(ginger.direction[0], -1);
    ginger.phase[0] = 0;
    ginger.moutardateNume(0, 99);  // falling: mirror images
    ginger.ging(0);
    EXPECT_EQ(ginger.phase[0], -512);
    EXPECT_EQ(ginger.direction[0], -1);
    ginger.phase[0] = 0;
    ginger.moutardateNume(0, 49);
    ginger.ging(0);
    EXPECT_EQ(ginger.phase[0], 256);
    EXPECT_EQ(ginger.direction[0], 1);
}

// Random offsets in a playable range keep a triangle's phase inside the span
// of the step (a sawtooth folds only at the top, so a span that shrinks under
// it leaves it below -A until it climbs back); offsets anywhere in the int range must not trap (divisions by 0 or
// INT_MIN / -1 abort the sanitizer build).
TEST_F(RatioSet, AnyOffsetsKeepTheOscillatorSafe) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX), small(-3000, 3000), byte(-128, 127);
    voicetest::load(chink, "strittle 1000");
    for (int i = 0; i < 200000; i++) {
        int v = i & 3;
        if (i % 1000 == 0) {
            ginger.gingzgongz = i & 1000 ? 1 : 0;
            ginger.quiznoquantan = i & 2000 ? 1 : 0;
            setRat(v, byte(gen), byte(gen));
            chink.chink(static_cast<signed char>(byte(gen)));
        }
        bool wild = i % 3 == 0;
        int dn = wild ? any(gen) : small(gen);
        ginger.moutardateNume(v, wild ? any(gen) : small(gen));
        ginger.moutardateDeno(v, dn);
        int out = ginger.ging(v);
        if (!wild && !ginger.quiznoquantan) {
            int A = (dn + ginger.getRat(v)->getDeno()) * 1024;
            if (A < 1024) A = 1024;
            ASSERT_LE(ginger.phase[v], A);
            ASSERT_GE(ginger.phase[v], -A);
            if (!ginger.gingzgongz) {
                ASSERT_EQ(out, ginger.direction[v] * 1024);
            }
        } else {
            ginger.phase[v] = any(gen);
        }
        if (i % 997 == 0) ginger.oscirate(v, byte(gen), byte(gen));
    }
}

struct Buttons : RatioSet {
    void hold(int k, int q = -1) {
        barre.but(static_cast<unsigned char>(1 << (2 * k)));
        if (q >= 0) barre.but(static_cast<unsigned char>((1 << (2 * k)) | (1 << (2 * q))));
    }
    void reports(int n, int a0, int a1, int a2, int a3, bool queen) {
        for (int i = 0; i < n; i++) {
            int axes[4] = {a0, a1, a2, a3};
            if (queen)
                ginger.queenSpon(axes);
            else
                ginger.kingSpon(axes);
        }
    }
};

TEST_F(Buttons, WeakAndNegativeAxesNeverPush) {
    hold(0);
    reports(1000, 4, 4, 4, 4, false);
    reports(1000, -128, -5, -100, -128, false);
    hold(1, 2);
    reports(1000, 4, 4, 4, 4, true);
    reports(1000, -128, -5, -100, -128, true);
    EXPECT_EQ(ginger.kingNumeDrift, 0);
    EXPECT_EQ(ginger.kingDenoDrift, 0);
    EXPECT_EQ(ginger.queenDrift[0], 0);
    EXPECT_EQ(ginger.queenDrift[1], 0);
    for (int v = 0; v < 4; v++) EXPECT_EQ(ginger.getRat(v), ginger.walkCursor[v]);
    EXPECT_EQ(sounding(0), P(1, 1));
    EXPECT_EQ(sounding(1), P(2, 2));
    EXPECT_EQ(sounding(2), P(3, 3));
}

TEST_F(Buttons, KingAloneSumsPushesUntilAStepIsTaken) {
    hold(0);
    reports(12, 5, 0, 0, 0, false);  // 60 >> 6 = 0
    EXPECT_EQ(sounding(0), P(1, 1));
    reports(1, 5, 0, 0, 0, false);  // 65 >> 6 = 1
    EXPECT_EQ(sounding(0), P(2, 1));
    EXPECT_EQ(ginger.kingNumeDrift, 0);
    reports(13, 0, 0, 5, 0, false);
    EXPECT_EQ(sounding(0), P(2, 2));
    // Downward: -65 >> 6 = -2, while -60 >> 6 = -1 is no motion.
    setRat(0, 4, 4);
    reports(12, 0, 5, 0, 0, false);
    EXPECT_EQ(sounding(0), P(4, 4));
    reports(1, 0, 5, 0, 0, false);
    EXPECT_EQ(sounding(0), P(2, 4));
    reports(13, 0, 0, 0, 5, false);
    EXPECT_EQ(sounding(0), P(2, 2));
    // A refused step keeps the sum, so a stronger push can reach further.
    setRat(0, 4, 1);
    reports(3, 64, 0, 0, 0, false);  // +3: 7, 6, 5 refused at limit 2
    EXPECT_EQ(ginger.kingNumeDrift, 192);
    EXPECT_EQ(sounding(0), P(4, 1));
    reports(1, 64, 0, 0, 0, false);
    EXPECT_EQ(sounding(0), P(8, 1));
    EXPECT_EQ(ginger.kingNumeDrift, 0);
}

TEST_F(Buttons, KingAndQueenWalkTheChain) {
    RatChord* q = lattice()->getQuadrangularis();
    hold(0, 1);
    reports(13, 5, 0, 0, 0, true);  // king voice 0 one link up
    EXPECT_EQ(ginger.getRat(0), quid(1, 1));
    EXPECT_EQ(ginger.queenDrift[0], 0);
    reports(13, 0, 0, 5, 0, true);  // queen voice 1 (2/2) one link up
    EXPECT_EQ(ginger.getRat(1), q);
    reports(13, 0, 0, 0, 5, true);  // -65 >> 6 = -2: one link down again
    EXPECT_EQ(sounding(1), P(2, 2));
    // A chain sum is cleared even when the step finds nothing acceptable.
    reports(13, 5, 0, 0, 0, true);  // from the second 1/1 up to 255/254
    EXPECT_EQ(ginger.getRat(0), quid(1, 1));
    EXPECT_EQ(ginger.walkCursor[0], quid(255, 254));
    EXPECT_EQ(ginger.queenDrift[0], 0);
}

TEST_F(Buttons, NoHeldVoiceNeverReachesTheSet) {
    reports(100, 127, 0, 127, 0, false);  // no king: sums grow, nothing moves
    reports(100, 127, 0, 127, 0, true);
    for (int v = 0; v < 4; v++) EXPECT_EQ(ginger.getRat(v), ginger.walkCursor[v]);
    EXPECT_EQ(sounding(0), P(1, 1));
}

TEST_F(RatioSet, KeepsTheAxisBytesUnsigned) {
    signed char report[8] = {0, -1, 127, -128, 9, 9, 9, 9};
    ginger.gwonszulate(report);
    EXPECT_EQ(ginger.axisLevel[0], 0);
    EXPECT_EQ(ginger.axisLevel[1], 255);
    EXPECT_EQ(ginger.axisLevel[2], 127);
    EXPECT_EQ(ginger.axisLevel[3], 128);
}

TEST_F(RatioSet, SwitchesToggle) {
    ginger.ginggong();
    ginger.quixnoquantl();
    EXPECT_EQ(ginger.gingzgongz, 1);
    EXPECT_EQ(ginger.quiznoquantan, 1);
    ginger.gingzgongz = 5;  // any non-zero file value toggles to 0
    ginger.ginggong();
    EXPECT_EQ(ginger.gingzgongz, 0);
}

TEST_F(RatioSet, CopyTakesRatiosAndSwitchesOnly) {
    setRat(0, 3, 2);
    setRat(3, 7, 5);
    ginger.ginggong();
    ginger.changeAsdfghon(5);
    ginger.phase[0] = 777;
    ginger.direction[0] = -1;
    ginger.moutardateNume(0, 3);
    SponGinger copy(&ginger, &chink, &barre, lattice());
    EXPECT_EQ(copy.getRat(0), quid(3, 2));
    EXPECT_EQ(copy.getRat(3), quid(7, 5));
    EXPECT_EQ(copy.getRat(1), ginger.getRat(1));
    EXPECT_EQ(copy.gingzgongz, 1);
    EXPECT_EQ(copy.quiznoquantan, 0);
    EXPECT_EQ(copy.bitshift, 5);
    EXPECT_EQ(copy.phase[0], 0);
    EXPECT_EQ(copy.direction[0], 1);
    EXPECT_EQ(copy.numeOffset[0], 0);
    EXPECT_EQ(copy.walkCursor[0], lattice()->getQuadrangularis());
}

}  // namespace
