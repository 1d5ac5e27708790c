// The ratio modulation matrix: axis deltas routed through the columns to
// numerator, denominator and chain steps of the ratio set. The prime limit
// is opened to 251 so every number is admitted and a numerator or
// denominator step moves by exactly the routed amount.
#include "SoundRig.h"

using soundtest::Rig;

namespace {


RatChord* walk(RatChord* c, int steps) {
    for (int i = 0; i < steps; i++) c = c->getNext();
    return c;
}

// A rig with the prime limit open and the matrix switched on.
struct OpenRig : Rig {
    OpenRig() {
        openPrimeLimit();
        rm.charactros();
    }
};

}  // namespace

TEST(MinisterInhibit, FreshIsInhibitedAndOnlyFeedsTheDisplay) {
    Rig r;
    r.openPrimeLimit();
    EXPECT_EQ(r.rm.inhibit, 1);
    r.rm.kingals[0][0] = 1;
    r.report(50, -3, 7, -128);
    EXPECT_EQ(r.ginger.axisLevel[0], 50);
    EXPECT_EQ(r.ginger.axisLevel[3], 128);  // the byte as unsigned
    EXPECT_EQ(r.rm.axes[0].axisLast, 0);
    EXPECT_EQ(r.rm.axes[0].axisDelta, 0);
    EXPECT_EQ(r.rm.numePending[0], 0);
    EXPECT_EQ(r.nume(0), 1);
}

TEST(MinisterInhibit, AxisPairsFreezeWhileSwitchedOff) {
    OpenRig r;
    r.report(10, 0, 0, 0);
    EXPECT_EQ(r.rm.axes[0].axisDelta, 10);  // fresh: the value itself
    r.rm.charactros();
    r.report(100, 0, 0, 0);
    EXPECT_EQ(r.rm.axes[0].axisLast, 10);
    r.rm.charactros();
    r.report(20, 0, 0, 0);
    EXPECT_EQ(r.rm.axes[0].axisDelta, 10);  // since the last uninhibited report
    EXPECT_EQ(r.rm.axes[0].axisLast, 20);
    r.rm.inhibit = -3;  // any non-zero value switches it off; the key switches on
    r.rm.charactros();
    EXPECT_EQ(r.rm.inhibit, 0);
}

TEST(MinisterRouting, AxisOneReachesVoicesTwoAndZeroThroughTheirColumns) {
    OpenRig r;
    r.rm.kingals[2][3] = 1;  // (2 + 3) mod 4 = axis 1
    r.rm.kingals[0][1] = 1;  // (0 + 1) mod 4 = axis 1
    r.report(0, 5, 0, 0);
    EXPECT_EQ(r.nume(0), 1 + 5);
    EXPECT_EQ(r.nume(2), 3 + 5);
    EXPECT_EQ(r.nume(1), 2);
    EXPECT_EQ(r.nume(3), 4);
    for (int v = 0; v < 4; v++) EXPECT_EQ(r.rm.numePending[v], 0);
}

TEST(MinisterRouting, OnlyTheSignOfKingalsCounts) {
    OpenRig r;
    r.rm.kingals[0][0] = 5;
    r.rm.kingals[1][0] = -7;
    r.report(9, 9, 0, 0);
    EXPECT_EQ(r.nume(0), 10);  // 1 + 9, not 1 + 45
    EXPECT_EQ(r.deno(0), 1);
    EXPECT_EQ(r.nume(1), 2);
    EXPECT_EQ(r.deno(1), 11);  // 2 + 9
}

TEST(MinisterRouting, OppositeMovementsCancelAndReturnsContributeNothing) {
    OpenRig r;
    r.rm.kingals[0][0] = 1;
    r.rm.kingals[0][1] = 1;
    r.report(7, -7, 0, 0);
    EXPECT_EQ(r.nume(0), 1);
    EXPECT_EQ(r.rm.numePending[0], 0);
    r.report(20, 40, 0, 0);  // +13 and +47
    EXPECT_EQ(r.nume(0), 61);
    r.report(20, 40, 0, 0);  // no change since the last report
    EXPECT_EQ(r.nume(0), 61);
}

TEST(MinisterRouting, SmallNumeratorMovementsAccumulateUntilTaken) {
    OpenRig r;
    r.ginger.changeAsdfghon(3);  // the ratio set divides amounts by 8
    r.rm.kingals[0][0] = 1;
    r.report(4, 0, 0, 0);
    EXPECT_EQ(r.nume(0), 1);
    EXPECT_EQ(r.rm.numePending[0], 4);
    r.report(8, 0, 0, 0);
    EXPECT_EQ(r.nume(0), 2);  // 8 >> 3 = 1
    EXPECT_EQ(r.rm.numePending[0], 0);
}

TEST(MinisterRouting, SmallChainMovementsAreLost) {
    OpenRig r;
    r.ginger.changeAsdfghon(3);
    r.rm.queenals[0][0] = 1;
    RatChord* start = r.ginger.getRat(0);
    r.report(7, 0, 0, 0);
    r.report(14, 0, 0, 0);  // 7 each time: below 8, and not carried over
    EXPECT_EQ(r.ginger.getRat(0), start);
    EXPECT_EQ(r.rm.chainPending[0], 0);
}

TEST(MinisterRouting, QueenalsWeightsTheChainStep) {
    for (int weight : {1, 2}) {
        OpenRig r;
        r.rm.queenals[0][0] = weight;
        RatChord* start = r.ginger.getRat(0);
        r.report(3, 0, 0, 0);
        EXPECT_EQ(r.ginger.getRat(0), walk(start, 3 * weight)) << weight;
    }
    OpenRig r;
    r.rm.queenals[0][0] = -1;
    RatChord* start = r.ginger.getRat(0);
    r.report(3, 0, 0, 0);  // -3 walks two steps down (-1 alone is no motion)
    EXPECT_EQ(r.ginger.getRat(0), start->getPrev()->getPrev());
}

TEST(MinisterRouting, NumeratorThenDenominatorThenChain) {
    OpenRig r;
    r.rm.kingals[0][0] = 1;   // axis 0 -> numerator
    r.rm.kingals[0][1] = -1;  // axis 1 -> denominator
    r.rm.queenals[0][2] = 1;  // axis 2 -> chain
    r.report(5, 2, 2, 0);
    // 1/1 -> 6/1 -> 6/3, re-anchored there, then two links up the chain.
    EXPECT_EQ(r.ginger.getRat(0), walk(soundtest::store()->getQuid(6, 3), 2));
    EXPECT_EQ(r.ginger.walkCursor[0], r.ginger.getRat(0));
}

TEST(MinisterRouting, EmptyMatricesStillOfferZeroAndNeverReanchor) {
    OpenRig r;
    RatChord* elsewhere = soundtest::store()->getQuid(5, 7);
    r.ginger.walkCursor[1] = elsewhere;
    r.report(100, -100, 50, 20);
    EXPECT_EQ(r.ginger.walkCursor[1], elsewhere);  // no durszen without a step
    EXPECT_EQ(r.nume(1), 2);
}

TEST(MinisterRouting, PendingSumWaitsForAnAcceptableNumber) {
    Rig r;  // prime limit 2: only powers of two pass
    r.rm.charactros();
    r.rm.kingals[2][0] = 1;  // voice 2's own axis, numerator 3
    r.report(2, 0, 2, 0);    // 3 + 2: 5 and 4 tried, 4 taken
    EXPECT_EQ(r.nume(2), 4);
    r.report(2, 0, 5, 0);  // 4 + 3: 7, 6, 5 all refused
    EXPECT_EQ(r.nume(2), 4);
    EXPECT_EQ(r.rm.numePending[2], 3);
    r.report(2, 0, 6, 0);  // pending 4: 8
    EXPECT_EQ(r.nume(2), 8);
    EXPECT_EQ(r.rm.numePending[2], 0);
}

TEST(MinisterLife, CopyCarriesSettingsOnly) {
    OpenRig a;
    a.rm.kingals[1][2] = -1;
    a.rm.queenals[3][0] = 2;
    a.rm.kingals[0][0] = 1;
    a.ginger.changeAsdfghon(8);
    a.report(60, 0, 0, 0);
    ASSERT_EQ(a.rm.numePending[0], 60);
    Rig b;
    RoyalMinister copy(&a.rm, &b.chink, &b.ginger, &b.barre);
    EXPECT_EQ(copy.inhibit, 0);
    EXPECT_EQ(copy.kingals[1][2], -1);
    EXPECT_EQ(copy.queenals[3][0], 2);
    EXPECT_EQ(copy.numePending[0], 0);
    EXPECT_EQ(copy.axes[0].axisLast, 0);
    EXPECT_EQ(copy.ginger, &b.ginger);
    EXPECT_EQ(copy.chink, &b.chink);
    EXPECT_EQ(copy.kingNumeMarks[0][0].x2, 0);
}
