// The FM generator's frame arithmetic: ramps, dead zone, mixing modes,
// the modulation routing and depth, and the guards on patch-file values.
// A fresh ratio set's four voices are square waves of one period: their
// first 7 frames are +1024, the next 16 are -1024 (step 128 per frame
// against a span of ±1024 per denominator unit).
#include "SoundRig.h"

#include <climits>

using soundtest::Rig;

namespace {

// A voice's ramped level at this frame, read back from its modulation pair
// (voiceOut × L, split by the sign of L).
int levelOf(RoyalFMoutarde& fm, int v) {
    const RoyalFMoutarde::ModPair& m = fm.mods[v];
    return (m.modPositive + m.modNegative) / fm.voiceOut[v];
}

}  // namespace

TEST(FMoutardeRamp, ReportIsRampedOverTheNextPeriodThenHeld) {
    Rig r;
    r.report(100, 0, 0, 0);
    int levels[256];
    for (int f = 0; f < 256; f++) {
        r.fm.gingModulate(f, 256);
        levels[f] = levelOf(r.fm, 0);
    }
    // 100 × f / 256, truncated: 0, 0, 0, 1, 1, 1, 2 ... 50 at 128 ... 99.
    EXPECT_EQ(levels[0], 0);
    EXPECT_EQ(levels[2], 0);
    EXPECT_EQ(levels[3], 1);
    EXPECT_EQ(levels[5], 1);
    EXPECT_EQ(levels[6], 2);
    EXPECT_EQ(levels[128], 50);
    EXPECT_EQ(levels[253], 98);
    EXPECT_EQ(levels[254], 99);
    EXPECT_EQ(levels[255], 99);
    r.fm.beging();
    for (int f : {0, 1, 100, 255}) {
        r.fm.gingModulate(f, 256);
        EXPECT_EQ(levelOf(r.fm, 0), 100) << f;
    }
}

TEST(FMoutardeRamp, NegativeRampTruncatesTowardZero) {
    Rig r;
    r.report(-100, 0, 0, 0);
    r.fm.gingModulate(2, 256);  // -200 / 256: 0, where a floor would give -1
    EXPECT_EQ(levelOf(r.fm, 0), 0);
    r.fm.gingModulate(3, 256);  // -300 / 256 = -1
    EXPECT_EQ(levelOf(r.fm, 0), -1);
    r.fm.gingModulate(255, 256);  // -25500 / 256 = -99
    EXPECT_EQ(levelOf(r.fm, 0), -99);
}

TEST(FMoutardeRamp, OtherPeriodLengthsAndANonPositiveOneAreSafe) {
    Rig r;
    r.report(100, 0, 0, 0);
    r.fm.gingModulate(7, 10);  // 700 / 10
    EXPECT_EQ(levelOf(r.fm, 0), 70);
    // A period of no frames cannot be ramped over; it reads as settled.
    r.fm.gingModulate(0, 0);
    EXPECT_EQ(levelOf(r.fm, 0), 100);
    r.fm.gingModulate(INT_MIN, -1);
    EXPECT_EQ(levelOf(r.fm, 0), 100);
}

TEST(FMoutardeMix, DeadZoneSilencesThreeAndFourSoundsOnce) {
    Rig r;
    r.settle(3, -3, 4, -4);
    int* out = r.fm.gingModulate(0, 256);
    // Voices 0 and 1 silent; voice 2 at +1 on the left; voice 3 at -1 on the
    // right, its +1024 inverted.
    EXPECT_EQ(out[0], 1024);
    EXPECT_EQ(out[1], -1024);
}

TEST(FMoutardeMix, FullNegativeAxisSoundsRightScaledByMinus125) {
    Rig r;
    r.settle(-128, 0, 0, 0);
    int* out = r.fm.gingModulate(0, 256);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], -125 * 1024);
    for (int f = 1; f < 8; f++) out = r.fm.gingModulate(f, 256);
    EXPECT_EQ(out[1], -125 * -1024);  // frame 7: the square wave has turned
}

TEST(FMoutardeMix, AxesAtZeroGiveSilenceInEveryMode) {
    Rig r;
    r.fm.charactros();
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 4; c++) r.fm.setNumal(i, c, 1);
    for (unsigned char buttons : {0x00, 0x10, 0x11}) {
        r.barre.but(buttons);
        r.settle(0, 0, 0, 0);
        int* out = r.fm.gingModulate(0, 256);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 0);
    }
}

TEST(FMoutardeMix, KingAloneSoundsAtTheAxisSum) {
    Rig r;
    r.barre.but(0x10);  // voice 2's button
    ASSERT_TRUE(r.barre.isKingPresent());
    ASSERT_FALSE(r.barre.isQueenPresent());
    r.settle(10, 10, 10, 10);
    int* out = r.fm.gingModulate(0, 256);
    EXPECT_EQ(out[0], 37 * 1024);  // deadZone(40)
    EXPECT_EQ(out[1], 0);
}

TEST(FMoutardeMix, KingAndQueenBothOnTheRightAtMinus17) {
    Rig r;
    r.barre.but(0x01);  // voice 0
    r.barre.but(0x11);  // then voice 2 as well
    ASSERT_TRUE(r.barre.isQueenPresent());
    r.settle(-5, -5, -5, -5);
    int* out = r.fm.gingModulate(0, 256);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 2 * -17 * 1024);  // voices 0 and 2, each inverted
}

TEST(FMoutardeMix, SumRampsOverThePeriodInFocusMode) {
    Rig r;
    r.barre.but(0x01);
    r.report(100, 100, 0, 0);  // sum 0 -> 200
    int* out = r.fm.gingModulate(128, 256);
    EXPECT_EQ(out[0], (100 - 3) * 1024);
}

// The worked frame: no buttons, ramp settled, voices (+1024, -1024, +1024,
// +1024), axes (20, -10, 0, 2).
TEST(FMoutardeFrame, WorkedFrameMixesAndModulatesExactly) {
    for (int sign : {-1, +1}) {
        Rig r;
        r.fm.charactros();
        r.fm.setNumal(0, 1, sign);
        r.settle(20, -10, 0, 2);
        // Offset voice 1's first step so that it crosses its span at once:
        // S = (2 + 14) × 128 = 2048 = A, so it turns and gives -1024.
        r.ginger.moutardateNume(1, 14);
        int* out = r.fm.gingModulate(0, 256);
        ASSERT_EQ(r.fm.voiceOut[0], 1024);
        ASSERT_EQ(r.fm.voiceOut[1], -1024);
        ASSERT_EQ(r.fm.voiceOut[2], 1024);
        ASSERT_EQ(r.fm.voiceOut[3], 1024);
        EXPECT_EQ(out[0], 17408);
        EXPECT_EQ(out[1], 7168);
        EXPECT_EQ(r.fm.mods[0].modPositive, 20480);
        EXPECT_EQ(r.fm.mods[0].modNegative, 0);
        EXPECT_EQ(r.fm.mods[1].modPositive, 0);
        EXPECT_EQ(r.fm.mods[1].modNegative, 10240);
        EXPECT_EQ(r.fm.mods[2].modPositive, 0);
        EXPECT_EQ(r.fm.mods[2].modNegative, 0);
        EXPECT_EQ(r.fm.mods[3].modPositive, 2048);
        EXPECT_EQ(r.fm.mods[3].modNegative, 0);
        EXPECT_EQ(r.ginger.numeOffset[0], sign < 0 ? 10 : 0);
        for (int v = 1; v < 4; v++) EXPECT_EQ(r.ginger.numeOffset[v], 0);
        for (int v = 0; v < 4; v++) EXPECT_EQ(r.ginger.denoOffset[v], 0);
    }
}

TEST(FMoutardeFrame, OffsetsAreTakenUpByTheNextFrame) {
    Rig r;
    r.fm.charactros();
    r.fm.setNumal(0, 0, 1);  // voice 0 feeds back into its own numerator
    r.settle(10, 0, 0, 0);
    r.fm.gingModulate(0, 256);
    ASSERT_EQ(r.ginger.numeOffset[0], 10);  // 1024 × 10 >> 10
    ASSERT_EQ(r.ginger.phase[0], 128);
    r.fm.gingModulate(1, 256);
    // 128 + 11 × 128 = 1536 overshoots A = 1024 by 512: folded back to 512.
    EXPECT_EQ(r.ginger.phase[0], 512);
    EXPECT_EQ(r.fm.voiceOut[0], -1024);
}

TEST(FMoutardeFrame, SourceColumnsWrapAroundTheVoices) {
    Rig r;
    r.fm.charactros();
    r.fm.setNumal(1, 3, 1);   // source (1 + 3) mod 4 = voice 0
    r.fm.setDenal(2, 1, -1);  // source voice 3
    r.settle(5, 0, 0, -7);
    r.fm.gingModulate(0, 256);
    EXPECT_EQ(r.ginger.numeOffset[1], 5);
    EXPECT_EQ(r.ginger.denoOffset[2], -7);  // +1024 × -7 >> 10
}

TEST(FMoutardeFrame, NegativeSourceLevelFeedsOnlyNegativeCells) {
    Rig r;
    r.fm.charactros();
    r.fm.setNumal(0, 1, 1);   // positive cell, source voice 1 at a negative level: nothing
    r.fm.setDenal(0, 1, -1);  // negative cell: voiceOut × L = 1024 × -7
    r.settle(0, -7, 0, 0);
    r.fm.gingModulate(0, 256);
    EXPECT_EQ(r.ginger.numeOffset[0], 0);
    EXPECT_EQ(r.ginger.denoOffset[0], -7);
}

TEST(FMoutardeFrame, InhibitKeepsTheMixButStopsModulation) {
    Rig on, off;
    on.fm.charactros();
    for (Rig* r : {&on, &off})
        for (int i = 0; i < 4; i++)
            for (int c = 0; c < 4; c++) {
                r->fm.setNumal(i, c, 1);
                r->fm.setDenal(i, c, -1);
            }
    on.settle(50, -60, 70, -80);
    off.settle(50, -60, 70, -80);
    int* a = on.fm.gingModulate(0, 256);
    int* b = off.fm.gingModulate(0, 256);
    EXPECT_EQ(a[0], b[0]);
    EXPECT_EQ(a[1], b[1]);
    EXPECT_EQ(a[0], (47 + 67) * 1024);
    EXPECT_EQ(a[1], (-57 - 77) * 1024);
    for (int v = 0; v < 4; v++) {
        EXPECT_EQ(off.ginger.numeOffset[v], 0);
        EXPECT_EQ(off.ginger.denoOffset[v], 0);
    }
    EXPECT_EQ(on.ginger.numeOffset[0], 50 + 70);
    EXPECT_EQ(on.ginger.denoOffset[0], -60 - 80);
}

TEST(FMoutardeDepth, Bitshift8PassesZeroOrMinusOne) {
    Rig r;
    r.fm.charactros();
    r.fm.setBitshift(8);
    EXPECT_EQ(r.fm.getModShift(), 18);
    r.fm.setNumal(0, 0, 1);
    r.fm.setNumal(1, 0, -1);
    r.settle(127, -128, 0, 0);
    r.fm.gingModulate(0, 256);  // 1024 × 127 >> 18 and 1024 × -128 >> 18
    EXPECT_EQ(r.ginger.numeOffset[0], 0);
    EXPECT_EQ(r.ginger.numeOffset[1], -1);
    // Frame 7 is voice 0's first -1024: its level is still 127, so the same
    // positive cell now reads a negative product.
    for (int f = 1; f < 8; f++) r.fm.gingModulate(f, 256);
    EXPECT_EQ(r.fm.voiceOut[0], -1024);
    EXPECT_EQ(r.ginger.numeOffset[0], -1);
}

TEST(FMoutardeDepth, EachStepHalvesTheAmount) {
    for (int b = 0; b <= 8; b++) {
        Rig r;
        r.fm.charactros();
        r.fm.setBitshift(b);
        r.fm.setNumal(0, 0, 1);
        r.settle(127, 0, 0, 0);
        r.fm.gingModulate(0, 256);
        EXPECT_EQ(r.ginger.numeOffset[0], 127 >> b) << b;
    }
}

TEST(FMoutardeDepth, ShiftCountFromAnyBitshiftStaysInRange) {
    Rig r;
    r.fm.charactros();
    r.fm.setNumal(0, 0, 1);
    r.settle(127, 0, 0, 0);
    const int cases[][2] = {{INT_MIN, 0}, {-11, 0}, {-10, 0}, {-9, 1}, {21, 31}, {22, 31}, {INT_MAX, 31}};
    for (const auto& c : cases) {
        r.fm.setBitshift(c[0]);
        EXPECT_EQ(r.fm.getBitshift(), c[0]);
        EXPECT_EQ(r.fm.getModShift(), c[1]) << c[0];
        r.fm.gingModulate(0, 256);  // the sanitizer build would stop here on a bad shift
    }
    // At the deepest legal count the product itself arrives: 1024 × 127 each frame.
    Rig d;
    d.fm.charactros();
    d.fm.setNumal(0, 0, 1);
    d.fm.setBitshift(-10);
    d.settle(127, 0, 0, 0);
    d.fm.gingModulate(0, 256);
    EXPECT_EQ(d.ginger.numeOffset[0], 127 * 1024);
}

TEST(FMoutardeLife, FreshIsInhibitedSilentAndEmpty) {
    Rig r;
    EXPECT_EQ(r.fm.inhibit, 1);
    EXPECT_EQ(r.fm.getBitshift(), 0);
    int* out = r.fm.gingModulate(0, 256);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 4; c++) {
            EXPECT_EQ(r.fm.getNumal(i, c), 0);
            EXPECT_EQ(r.fm.numePlusMarks[i][c].x2, 0);
        }
    r.fm.charactros();
    EXPECT_EQ(r.fm.inhibit, 0);
    r.fm.inhibit = 7;
    r.fm.charactros();
    EXPECT_EQ(r.fm.inhibit, 0);
}

TEST(FMoutardeLife, CopyCarriesSettingsButNotAxes) {
    Rig a;
    a.fm.charactros();
    a.fm.setBitshift(5);
    a.fm.setNumal(2, 3, -1);
    a.fm.setDenal(1, 0, 4);
    a.settle(90, 0, 0, 0);
    Rig b;
    RoyalFMoutarde copy(&a.fm, &b.ginger, &b.barre, &b.rm);
    EXPECT_EQ(copy.inhibit, 0);
    EXPECT_EQ(copy.getBitshift(), 5);
    EXPECT_EQ(copy.getModShift(), 15);
    EXPECT_EQ(copy.getNumal(2, 3), -1);
    EXPECT_EQ(copy.getDenal(1, 0), 4);
    EXPECT_EQ(copy.axis[0], 0);
    EXPECT_EQ(copy.axisLast[0], 0);
    EXPECT_EQ(copy.ginger, &b.ginger);
    int* out = copy.gingModulate(0, 256);
    EXPECT_EQ(out[0], 0);
}

TEST(FMoutardeLife, BbarrPushesTheKingsRatioDirectly) {
    Rig r;
    r.openPrimeLimit();
    r.barre.but(0x04);  // voice 1 is king
    signed char report[8] = {127, 0, 0, 0, 0, 0, 0, 0};
    r.fm.bbarr(report);
    // Drift 127 >> 6 = 1: numerator 2 -> 3.
    EXPECT_EQ(r.ginger.getRat(1)->getNume(), 3);
    EXPECT_EQ(r.fm.axisSum, 127);
}
