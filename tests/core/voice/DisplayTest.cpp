// The ratio set's picture read back from the real window under Xvfb:
// 500×500, one situation in row 1, so w = 125, h = 250 and the baseline is
// y = 250; voice v's anchor is at x = 62 + 125 v.
#include "VoiceRig.h"

#include "support/XWindow.h"

#include <climits>

namespace {

using voicetest::lattice;

constexpr int W = 125, H = 250, ROW = 1, Y = 250;
constexpr unsigned long kAccent = 0xAA1416;  // (170, 20, 22)
constexpr unsigned long kYellow = 0xF5FF00, kRed = 0xF50000, kWhite = 0xF5F5F5, kBlack = 0;
int cx(int v) { return 62 + W * v; }

struct Display : ::testing::Test, voicetest::Rig {
    _CHDC dc = testx::dc();
    void SetUp() override {
        testx::xwindow();
        testx::clear();
    }
    unsigned long annex(int i) { return lattice()->getMarylandAnnex(i); }
    void axes(signed char a0, signed char a1, signed char a2, signed char a3) {
        signed char report[8] = {a0, a1, a2, a3, 0, 0, 0, 0};
        ginger.gwonszulate(report);
    }
    // Pixels of one colour inside [x0, x1) × [y0, y1).
    static int count(int x0, int y0, int x1, int y1, unsigned long colour) {
        testx::Grab g(x0, y0, x1 - x0, y1 - y0);
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) n += g.at(x, y) == colour;
        return n;
    }
    void tap(int v) {
        barre.but(static_cast<unsigned char>(1 << (2 * v)));
        barre.but(0);
    }
};

TEST_F(Display, BoxesSitAboveRightAndBelowLeftOfTheAnchor) {
    axes(0, 64, 0, -1);
    ginger.drawMarylandAnnex(dc, W, H, ROW);
    BoxRect n = ginger.getNumeRect()[0], d = ginger.getDenoRect()[0];
    EXPECT_EQ(n.x1, 62); EXPECT_EQ(n.y1, 169); EXPECT_EQ(n.x2, 143); EXPECT_EQ(n.y2, 250);
    EXPECT_EQ(d.x1, -19); EXPECT_EQ(d.y1, 250); EXPECT_EQ(d.x2, 62); EXPECT_EQ(d.y2, 331);
    EXPECT_EQ(ginger.getNumeRect()[3].x1, 437);
    // Every pixel of voice 0's numerator box in ramp colour 0, none beside it.
    EXPECT_EQ(count(62, 169, 143, 250, annex(0)), 81 * 81);
    EXPECT_EQ(count(61, 168, 144, 251, annex(0)), 81 * 81);
    // The denominator box shows the mirrored index; its left part is off-window.
    EXPECT_EQ(count(0, 250, 62, 331, annex(255)), 62 * 81);
    EXPECT_EQ(count(0, 249, 63, 332, annex(255)), 62 * 81);
    // Byte -1 (255) gives voice 3 the opposite pair.
    EXPECT_NE(annex(0), annex(255));
    EXPECT_EQ(testx::pixel(cx(3) + 40, 200), annex(255));
    EXPECT_EQ(testx::pixel(cx(3) - 40, 300), annex(0));
    EXPECT_EQ(testx::pixel(cx(1) + 40, 200), annex(64));
    EXPECT_EQ(testx::pixel(cx(1) - 40, 300), annex(191));
    EXPECT_EQ(testx::pixel(cx(2) + 80, 169), annex(0));
}

TEST_F(Display, BoxesFollowTheRow) {
    axes(-128, 127, 0, 0);
    ginger.drawMarylandAnnex(dc, W, 100, 3);
    BoxRect n = ginger.getNumeRect()[1];
    EXPECT_EQ(n.x1, 187); EXPECT_EQ(n.y1, 219); EXPECT_EQ(n.x2, 268); EXPECT_EQ(n.y2, 300);
    EXPECT_EQ(testx::pixel(62, 219), annex(128));
    EXPECT_EQ(testx::pixel(61, 300), annex(127));
    EXPECT_EQ(testx::pixel(187, 299), annex(127));
}

TEST_F(Display, AccentsAreAbsentAtSensitivityZero) {
    ginger.drawMarylandAnnex(dc, W, H, ROW);
    ginger.drawCardinalAccent(dc, W, H, ROW);
    EXPECT_EQ(count(0, 169, 500, 331, kAccent), 0);
    EXPECT_EQ(count(62, 169, 143, 250, annex(0)), 81 * 81);
}

TEST_F(Display, AccentsGrowToSixteenPixelsAtEight) {
    ginger.changeAsdfghon(8);
    ginger.drawMarylandAnnex(dc, W, H, ROW);
    ginger.drawCardinalAccent(dc, W, H, ROW);
    // Two 36×16 bars and four 16×16 squares on each box.
    EXPECT_EQ(count(62, 169, 143, 250, kAccent), 2 * 36 * 16 + 4 * 16 * 16);
    testx::Grab g(0, 160, 500, 180);
    // Bar 1 from the top-left corner, bar 2 ending 36 below the top.
    EXPECT_EQ(g.at(62, 169), kAccent);
    EXPECT_EQ(g.at(97, 184), kAccent);
    EXPECT_EQ(g.at(98, 169), annex(0));
    EXPECT_EQ(g.at(62, 185), annex(0));
    EXPECT_EQ(g.at(62, 188), annex(0));
    EXPECT_EQ(g.at(62, 189), kAccent);
    EXPECT_EQ(g.at(97, 204), kAccent);
    EXPECT_EQ(g.at(62, 205), annex(0));
    // The corner squares of the 36×36 square at the bottom right.
    for (int sx : {107, 127})
        for (int sy : {214, 234}) {
            EXPECT_EQ(g.at(sx, sy), kAccent);
            EXPECT_EQ(g.at(sx + 15, sy + 15), kAccent);
            EXPECT_EQ(g.at(sx - 1, sy), annex(0));
            EXPECT_EQ(g.at(sx, sy - 1), annex(0));
        }
    EXPECT_EQ(g.at(123, 230), annex(0));
    // The same places on the denominator box, 81 left and 81 down.
    EXPECT_EQ(g.at(0, 250), kAccent);
    EXPECT_EQ(g.at(16, 265), kAccent);
    EXPECT_EQ(g.at(17, 250), annex(255));
    EXPECT_EQ(g.at(26, 295), kAccent);
    EXPECT_EQ(g.at(61, 330), kAccent);
    EXPECT_EQ(g.at(25, 295), annex(255));
    // Every voice, including voice 3 at the right edge.
    EXPECT_EQ(count(cx(2), 169, cx(2) + 81, 250, kAccent), 2176);
    EXPECT_EQ(g.at(cx(3), 169), kAccent);
}

TEST_F(Display, FileSensitivitiesGiveSensibleAccents) {
    struct Case { int bitshift; int pixels; };
    // Low five bits, held to at most 8: 33 → 1, 3 → 3, -1 → 31 → 8, 40 → 8.
    for (Case c : {Case{33, 2 * 36 * 2 + 4 * 4}, Case{3, 2 * 36 * 6 + 4 * 36}, Case{-1, 2176}, Case{40, 2176},
                   Case{INT_MIN, 0}}) {
        testx::clear();
        ginger.changeAsdfghon(c.bitshift);
        ginger.drawMarylandAnnex(dc, W, H, ROW);
        ginger.drawCardinalAccent(dc, W, H, ROW);
        EXPECT_EQ(count(62, 169, 143, 250, kAccent), c.pixels) << c.bitshift;
    }
}

TEST_F(Display, MarkersShowTheHeldVoices) {
    auto paint = [&] {
        testx::clear();
        ginger.drawMarylandAnnex(dc, W, H, ROW);
        ginger.draw(dc, W, H, ROW);
    };
    // Outer rings lie outside both boxes: background unless a marker is drawn.
    auto ring = [&](int v, int n) { return testx::pixel(cx(v) - n, Y - n); };
    paint();
    for (int v = 0; v < 4; v++) {
        EXPECT_EQ(ring(v, 10), kBlack);
        EXPECT_EQ(testx::pixel(cx(v) + 9, Y + 9), kBlack);
    }
    tap(2);
    paint();
    EXPECT_EQ(ring(2, 10), kYellow);
    EXPECT_EQ(testx::pixel(cx(2) + 9, Y + 9), kYellow);
    EXPECT_EQ(ring(2, 8), kRed);
    for (int v : {0, 1, 3}) EXPECT_EQ(ring(v, 10), kBlack);
    tap(0);  // king 0, queen 2
    paint();
    EXPECT_EQ(ring(0, 10), kYellow);
    EXPECT_EQ(ring(0, 8), kRed);
    EXPECT_EQ(ring(2, 10), kBlack);
    EXPECT_EQ(ring(2, 9), kWhite);
    EXPECT_EQ(ring(2, 8), kRed);
    EXPECT_EQ(ring(2, 7), kBlack);
    EXPECT_EQ(ring(2, 6), kYellow);
    for (int v : {1, 3}) EXPECT_EQ(ring(v, 10), kBlack);
}

TEST_F(Display, RatiosDrawAsSquaresOverTheBoxes) {
    setRat(1, 100, 50);
    ginger.drawMarylandAnnex(dc, W, H, ROW);
    ginger.draw(dc, W, H, ROW);
    Numba* n100 = lattice()->getNumba(100);
    Numba* n50 = lattice()->getNumba(50);
    // 100 up-left of the anchor, 50 down-right, away from the factor stars.
    EXPECT_EQ(testx::pixel(cx(1) - 100, Y - 100), n100->numeBrush);
    EXPECT_EQ(testx::pixel(cx(1) - 90, Y - 50), n100->numeBrush);
    EXPECT_EQ(testx::pixel(cx(1) - 101, Y - 50), annex(0));  // voice 0's box beside it
    EXPECT_EQ(testx::pixel(cx(1) + 40, Y + 10), n50->denoBrush);
    EXPECT_EQ(testx::pixel(cx(1) + 49, Y + 49), n50->denoBrush);
    EXPECT_EQ(testx::pixel(cx(1) + 50, Y + 10), annex(255));  // voice 2's box beside it
}

TEST_F(Display, PrimeLimitStarSitsOnTheRowLine) {
    testx::clear(0xFFFFFF);
    chink.chink(0);  // limit 5, stride 128
    chink.drawtittle(dc, 2 * W, H, ROW);
    testx::Grab g(200, 200, 100, 100);
    int black = 0, outside = 0;
    for (int y = 200; y < 300; y++)
        for (int x = 200; x < 300; x++)
            if (g.at(x, y) == kBlack) {
                black++;
                outside += x < 245 || x > 255 || y < 245 || y > 255;
            }
    EXPECT_GT(black, 10);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(g.at(250, 255), kBlack);  // point 0, straight below the centre
}

}  // namespace
