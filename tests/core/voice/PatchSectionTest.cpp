#include "VoiceRig.h"

namespace {

using voicetest::lattice;
using voicetest::load;
using voicetest::written;

struct Sections : ::testing::Test, voicetest::Rig {
    void tap(Barre& b, int v) {
        b.but(static_cast<unsigned char>(1 << (2 * v)));
        b.but(0);
    }
};

TEST_F(Sections, ButtonStateWritesOneOfThreeLines) {
    EXPECT_EQ(written(barre), "  atrest\n");
    tap(barre, 3);
    EXPECT_EQ(written(barre), "  kingal 3\n");
    tap(barre, 1);
    EXPECT_EQ(written(barre), "  queenal 1 3\n");
}

TEST_F(Sections, ButtonStateReadsBack) {
    for (int k = 0; k < 4; k++) {
        for (int q = k + 1; q < 4; q++) {
            Barre src, dst;
            tap(src, q);
            tap(src, k);
            ASSERT_EQ(load(dst, written(src) + " chinkwonkanater"), "chinkwonkanater");
            EXPECT_EQ(dst.getFocius1(), k);
            EXPECT_EQ(dst.getFocius2(), q);
        }
        Barre src, dst;
        tap(src, k);
        ASSERT_EQ(load(dst, written(src)), "<end>");
        EXPECT_EQ(dst.getFocius1(), k);
        EXPECT_FALSE(dst.isQueenPresent());
    }
    Barre rest;
    EXPECT_EQ(load(rest, "atrest chink"), "chink");
    EXPECT_FALSE(rest.isKingPresent());
    // A word of another section is handed back unconsumed.
    EXPECT_EQ(load(rest, "chinkwonkanater inhibit"), "chinkwonkanater");
}

TEST_F(Sections, ButtonStateRefusesVoicesItDoesNotHave) {
    EXPECT_EQ(load(barre, "kingal 4 chink"), "chink");
    EXPECT_FALSE(barre.isKingPresent());
    EXPECT_EQ(load(barre, "kingal -1 chink"), "chink");
    EXPECT_FALSE(barre.isKingPresent());
    EXPECT_EQ(load(barre, "queenal 1 7 chink"), "chink");
    EXPECT_FALSE(barre.isKingPresent());
    EXPECT_EQ(load(barre, "queenal 2147483647 0 chink"), "chink");
    EXPECT_FALSE(barre.isKingPresent());
    // Nothing of it reaches the ratio set: held axes move no ratio.
    int axes[4] = {127, 0, 127, 0};
    for (int i = 0; i < 10; i++) ginger.kingSpon(axes);
    for (int i = 0; i < 10; i++) ginger.queenSpon(axes);
    EXPECT_EQ(nume(0), 1);
    EXPECT_EQ(ginger.getRat(0), ginger.walkCursor[0]);
    // A pair written high-low is taken in order; one voice twice is a king.
    EXPECT_EQ(load(barre, "queenal 3 1"), "<end>");
    EXPECT_EQ(barre.getFocius1(), 1);
    EXPECT_EQ(barre.getFocius2(), 3);
    EXPECT_EQ(load(barre, "queenal 2 2"), "<end>");
    EXPECT_EQ(barre.getFocius1(), 2);
    EXPECT_FALSE(barre.isQueenPresent());
    // The stream ending after the king's number: a king alone.
    EXPECT_EQ(load(barre, "queenal 0"), "<end>");
    EXPECT_EQ(barre.getFocius1(), 0);
    EXPECT_FALSE(barre.isQueenPresent());
    EXPECT_EQ(load(barre, "kingal"), "<end>");
    EXPECT_EQ(barre.getFocius1(), 0);
}

TEST_F(Sections, RatioSetWritesTheFreshSection) {
    EXPECT_EQ(written(ginger),
              "  rat 0 = 1 / 1\n"
              "  rat 1 = 2 / 2\n"
              "  rat 2 = 3 / 3\n"
              "  rat 3 = 4 / 4\n"
              "  bitshift 0\n"
              "  gingzgongz 0\n"
              "  quiznoquantan 0\n");
}

TEST_F(Sections, RatioSetReadsBackWhatItWrote) {
    setRat(0, 255, 1);
    setRat(1, 7, 12);
    setRat(2, 1, 255);
    setRat(3, 128, 81);
    ginger.changeAsdfghon(7);
    ginger.ginggong();
    ginger.quixnoquantl();
    ginger.phase[2] = 99;
    std::string saved = written(ginger);
    SponGinger fresh(&chink, &barre, lattice());
    fresh.phase[2] = 5;
    EXPECT_EQ(load(fresh, saved + " royalminister inhibit 1"), "royalminister");
    EXPECT_EQ(written(fresh), saved);
    for (int v = 0; v < 4; v++) EXPECT_EQ(fresh.getRat(v), ginger.getRat(v));
    EXPECT_EQ(fresh.phase[2], 5);  // loading does not touch the oscillators
    EXPECT_EQ(fresh.walkCursor[0], lattice()->getQuadrangularis());
}

TEST_F(Sections, RatioLinesFillSlotsInOrderThroughTheLookUp) {
    // The written voice numbers are not read: three lines fill slots 0..2.
    EXPECT_EQ(load(ginger, "rat 1 = 5 / 3 rat 2 = 300 / 0 rat 3 = -3 / 256 bitshift 2"), "<end>");
    EXPECT_EQ(ginger.getRat(0), lattice()->getQuid(5, 3));
    EXPECT_EQ(nume(1), 44);
    EXPECT_EQ(deno(1), 1);
    EXPECT_EQ(nume(2), 1);
    EXPECT_EQ(deno(2), 1);
    EXPECT_EQ(nume(3), 4);
    EXPECT_EQ(deno(3), 4);
    EXPECT_EQ(ginger.bitshift, 2);
    // The stream ending inside a line leaves that slot alone.
    EXPECT_EQ(load(ginger, "rat 0 = 9 /"), "<end>");
    EXPECT_EQ(ginger.getRat(0), lattice()->getQuid(5, 3));
}

TEST_F(Sections, RatioSetSettingsAreOptionalButOrdered) {
    EXPECT_EQ(load(ginger, "gingzgongz 3 quiznoquantan 1 royalfm"), "royalfm");
    EXPECT_EQ(ginger.gingzgongz, 3);
    EXPECT_EQ(ginger.quiznoquantan, 1);
    EXPECT_EQ(load(ginger, "quiznoquantan 0 bitshift 4"), "bitshift");
    EXPECT_EQ(ginger.bitshift, 0);
    EXPECT_EQ(ginger.quiznoquantan, 0);
    // A bitshift beyond the key range is kept as written and saved back.
    EXPECT_EQ(load(ginger, "bitshift -3"), "<end>");
    EXPECT_NE(written(ginger).find("  bitshift -3\n"), std::string::npos);
}

}  // namespace
