// gtest goes before the X headers, whose None and Bool macros it would trip on.
#include <gtest/gtest.h>

#include "voice/Barre.h"

namespace {

// Byte 7 bit of voice v.
unsigned char press(int v) { return static_cast<unsigned char>(1 << (2 * v)); }

void tap(Barre& b, int v) {
    b.but(press(v));
    b.but(0);
}

TEST(Barre, KingThenQueenRaisesTheFlagOnce) {
    Barre b;
    EXPECT_FALSE(b.isKingPresent());
    EXPECT_EQ(b.getFocius1(), -1);
    tap(b, 2);
    EXPECT_TRUE(b.isKingPresent());
    EXPECT_FALSE(b.isQueenPresent());
    EXPECT_EQ(b.getFocius1(), 2);
    EXPECT_EQ(b.getQueenFlag(), 0);
    b.but(press(0));
    EXPECT_EQ(b.getFocius1(), 0);
    EXPECT_EQ(b.getFocius2(), 2);
    EXPECT_TRUE(b.isQueenPresent());
    EXPECT_EQ(b.getQueenFlag(), 1);
    EXPECT_EQ(b.getQueenFlag(), 0);  // reading clears it
}

TEST(Barre, PressingAHeldVoiceAgainDropsIt) {
    Barre kingAgain;
    tap(kingAgain, 2);
    tap(kingAgain, 0);
    tap(kingAgain, 0);  // the king leaves, the queen steps up
    EXPECT_EQ(kingAgain.getFocius1(), 2);
    EXPECT_FALSE(kingAgain.isQueenPresent());

    Barre queenAgain;
    tap(queenAgain, 2);
    tap(queenAgain, 0);
    tap(queenAgain, 2);
    EXPECT_EQ(queenAgain.getFocius1(), 0);
    EXPECT_FALSE(queenAgain.isQueenPresent());

    tap(queenAgain, 0);
    EXPECT_FALSE(queenAgain.isKingPresent());
}

TEST(Barre, HeldBitActsOnceAndReleasesDoNothing) {
    Barre b;
    for (int i = 0; i < 5; i++) b.but(press(0) | 0x80);  // voice 0 held, bit 7 is no button
    EXPECT_EQ(b.getFocius1(), 0);
    EXPECT_FALSE(b.isQueenPresent());
    b.but(0);
    EXPECT_EQ(b.getFocius1(), 0);
}

TEST(Barre, AThirdVoiceReplacesTheQueenAndPairsStayOrdered) {
    Barre b;
    tap(b, 1);
    tap(b, 3);
    EXPECT_EQ(b.getFocius1(), 1);
    EXPECT_EQ(b.getFocius2(), 3);
    EXPECT_EQ(b.getQueenFlag(), 1);
    tap(b, 0);  // 0 becomes king, old king 1 queen, 3 dropped
    EXPECT_EQ(b.getFocius1(), 0);
    EXPECT_EQ(b.getFocius2(), 1);
    EXPECT_EQ(b.getQueenFlag(), 0);  // a queen was there already
    // Two buttons in one report: handled in voice order.
    Barre two;
    two.but(press(3) | press(2));
    EXPECT_EQ(two.getFocius1(), 2);
    EXPECT_EQ(two.getFocius2(), 3);
}

TEST(Barre, CopyKeepsTheHeldVoicesButNotTheFlag) {
    Barre b;
    b.but(press(1));
    b.but(press(1) | press(3));
    Barre c(&b);
    EXPECT_EQ(c.getFocius1(), 1);
    EXPECT_EQ(c.getFocius2(), 3);
    EXPECT_EQ(c.getQueenFlag(), 0);
    EXPECT_EQ(c.getMarylandFlag(0), b.getMarylandFlag(0));  // colours are values, the same for every voice button set
}

TEST(Barre, BrushColours) {
    Barre b;
    EXPECT_EQ(b.getMarylandFlag(0), 0xF50000UL);
    EXPECT_EQ(b.getMarylandFlag(1), 0xF5F5F5UL);
    EXPECT_EQ(b.getMarylandFlag(2), 0xF5FF00UL);
    EXPECT_EQ(b.getMarylandFlag(3), 0x000000UL);
}

}  // namespace
