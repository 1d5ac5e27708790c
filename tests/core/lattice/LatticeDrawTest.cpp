// Drawing of the lattice classes, read back from the real window under Xvfb.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with gtest names

#include "SharedStore.h"
#include "support/XWindow.h"

namespace {

constexpr unsigned long kBack = 0x010203;  // a background no random colour is tested against

// Bounding box and count of the pixels of one value inside a grabbed square.
struct Spot {
    int x1 = 9999, y1 = 9999, x2 = -1, y2 = -1, count = 0;
};
Spot find(const testx::Grab& g, int x0, int y0, int size, unsigned long pixel) {
    Spot s;
    for (int y = y0; y < y0 + size; y++)
        for (int x = x0; x < x0 + size; x++)
            if (g.at(x, y) == pixel) {
                s.count++;
                s.x1 = std::min(s.x1, x), s.y1 = std::min(s.y1, y);
                s.x2 = std::max(s.x2, x), s.y2 = std::max(s.y2, y);
            }
    return s;
}

void expectBox(const Spot& s, int x1, int y1, int x2, int y2) {
    EXPECT_EQ(s.x1, x1);
    EXPECT_EQ(s.y1, y1);
    EXPECT_EQ(s.x2, x2);
    EXPECT_EQ(s.y2, y2);
}

class LatticeDraw : public ::testing::Test {
protected:
    void SetUp() override {
        testx::xwindow();
        testx::clear(kBack);
    }
    _CHDC dc = testx::dc();
};

TEST_F(LatticeDraw, ChubeShowsNumeratorUpLeftAndDenominatorDownRight) {
    RatChord* r = lattest::store().getQuid(5, 7);
    unsigned long nume = r->getNumeP()->numeBrush, deno = r->getDenoP()->denoBrush;
    ASSERT_NE(nume, deno);
    ASSERT_NE(nume, kBack);
    ASSERT_NE(deno, kBack);
    r->drawChube(dc, 200, 200, 1);
    testx::Grab g(180, 180, 40, 40);
    Spot n = find(g, 180, 180, 40, nume);
    EXPECT_EQ(n.count, 25);
    expectBox(n, 195, 195, 199, 199);
    Spot d = find(g, 180, 180, 40, deno);
    EXPECT_EQ(d.count, 49);
    expectBox(d, 200, 200, 206, 206);
    EXPECT_EQ(find(g, 180, 180, 40, kBack).count, 1600 - 25 - 49);
}

TEST_F(LatticeDraw, PrimeStarIsDrawnInItsColourAroundTheCentre) {
    Colour green = GRAXBRUSHWAND(10, 200, 30);
    Prime* five = lattest::store().getTruth()->next()->next();
    ASSERT_EQ(five->getValue(), 5);
    EXPECT_EQ(five->draw(dc, 300, 300, green, 2), 5);
    testx::Grab g(280, 280, 40, 40);
    Spot s = find(g, 280, 280, 40, green);
    EXPECT_EQ(s.count + find(g, 280, 280, 40, kBack).count, 1600);  // nothing in any other colour
    // points (0, 5), (4, 1), (2, -4), (-2, -4), (-4, 1)
    expectBox(s, 296, 296, 304, 305);
    for (int i = 0; i < 5; i++) EXPECT_EQ(g.at(300 + five->xsin[i], 300 + five->ycos[i]), green) << i;
    EXPECT_EQ(g.at(300, 300), kBack);  // a pentagram leaves its centre empty
}

TEST_F(LatticeDraw, NegativeStrideDrawsTheMirrorStride) {
    Colour c = GRAXBRUSHWAND(250, 250, 0);
    Prime* seven = lattest::store().getTruth()->next()->next()->next();
    seven->draw(dc, 100, 100, c, -2);
    testx::Grab a(90, 90, 21, 21);
    Spot neg = find(a, 90, 90, 21, c);
    testx::clear(kBack);
    seven->draw(dc, 100, 100, c, 5);
    testx::Grab b(90, 90, 21, 21);
    Spot pos = find(b, 90, 90, 21, c);
    EXPECT_GT(neg.count, 20);
    EXPECT_EQ(neg.count, pos.count);
    for (int y = 90; y < 111; y++)
        for (int x = 90; x < 111; x++) ASSERT_EQ(a.at(x, y), b.at(x, y)) << x << "," << y;
}

TEST_F(LatticeDraw, MultapleOfThreeSquaredStepsUpLeft) {
    Numba* nine = lattest::store().getNumba(9);
    Multaple* m = nine->getFactors();
    ASSERT_EQ(m->getCount(), 2);
    Colour c = GRAXBRUSHWAND(200, 0, 200);
    EXPECT_EQ(m->draw(dc, 100, 100, -1, c, 1), -6);
    testx::Grab g(85, 85, 25, 25);
    for (int off : {3, 6}) {
        int cx = 100 - off, cy = 100 - off;
        EXPECT_EQ(g.at(cx, cy + 3), c) << off;
        EXPECT_EQ(g.at(cx + 2, cy - 1), c) << off;
        EXPECT_EQ(g.at(cx - 2, cy - 1), c) << off;
    }
    // nothing at the point itself: the first copy is already one step away
    EXPECT_EQ(g.at(100, 103), kBack);
    EXPECT_EQ(g.at(102, 99), kBack);
    Spot s = find(g, 85, 85, 25, c);
    expectBox(s, 92, 93, 99, 100);
}

TEST_F(LatticeDraw, RunesRunUpLeftForNumeratorDownRightForDenominator) {
    PerspexStabile& s = lattest::store();
    Numba* twelve = s.getNumba(12);
    unsigned long shong = twelve->getShongShrd(), dong = twelve->getDongShard();
    ASSERT_NE(shong, kBack);
    ASSERT_NE(dong, kBack);

    // 12/1 at (250, 250): the 3 at (247, 247), then the 2 at (245, 245) and (243, 243)
    s.getQuid(12, 1)->drawRunix(dc, 250, 250, 1);
    testx::Grab g(230, 230, 40, 40);
    EXPECT_EQ(g.at(247, 250), shong);
    EXPECT_EQ(g.at(245, 246), shong);
    EXPECT_EQ(g.at(243, 242), shong);
    Spot up = find(g, 230, 230, 40, shong);
    expectBox(up, 243, 242, 249, 250);
    EXPECT_EQ(up.count + find(g, 230, 230, 40, kBack).count, 1600);  // the number 1 draws nothing

    // 1/12 at (250, 250): the 3 at (253, 253), then the 2 at (255, 255) and (257, 257)
    testx::clear(kBack);
    s.getQuid(1, 12)->drawRunix(dc, 250, 250, 1);
    testx::Grab h(230, 230, 40, 40);
    Spot down = find(h, 230, 230, 40, dong);
    expectBox(down, 251, 252, 257, 259);
    EXPECT_EQ(h.at(253, 256), dong);
    EXPECT_EQ(h.at(257, 259), dong);
    EXPECT_EQ(down.count + find(h, 230, 230, 40, kBack).count, 1600);
}

}  // namespace
