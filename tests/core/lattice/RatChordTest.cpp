#include <gtest/gtest.h>  // before Xlib, whose macros clash with gtest names

#include "SharedStore.h"

namespace {

Numba* base() { return &lattest::store().numbers[0]; }

TEST(RatChord, TermsWrapIntoTheNumberTable) {
    RatChord c(300, 7, base());
    EXPECT_EQ(c.getNume(), 44);
    EXPECT_EQ(c.getDeno(), 7);
    EXPECT_FLOAT_EQ(c.getTechnicalValue(), 44.0f / 7.0f);
    // 256 and 0 select entry 0, the number 1: no division by zero.
    RatChord z(3, 256, base());
    EXPECT_EQ(z.getDenoP(), base());
    EXPECT_EQ(z.getTechnicalValue(), 3.0f);
    // A negative term stays inside the table: -1 selects entry 255.
    RatChord neg(-1, -256, base());
    EXPECT_EQ(neg.getNume(), 255);
    EXPECT_EQ(neg.getDenoP(), base());
    EXPECT_EQ(neg.osc, 0);
    EXPECT_EQ(neg.next, nullptr);
    EXPECT_EQ(neg.prev, nullptr);
}

TEST(RatChord, InsertAndOusterLinkOnlyOnTheirSide) {
    RatChord one(1, 1, base()), half(1, 2, base()), two(2, 1, base());
    one.insert(&two);  // larger than one: left alone
    one.ouster(&half); // smaller than one: left alone
    one.insert(nullptr);
    one.ouster(nullptr);
    EXPECT_EQ(one.next, nullptr);
    EXPECT_EQ(one.prev, nullptr);
    EXPECT_EQ(two.prev, nullptr);
    EXPECT_EQ(half.next, nullptr);

    one.insert(&half);
    one.ouster(&two);
    EXPECT_EQ(half.next, &one);
    EXPECT_EQ(one.prev, &half);
    EXPECT_EQ(one.next, &two);
    EXPECT_EQ(two.prev, &one);
}

TEST(RatChord, TiesInsertBelowAndOusterAboveEqualValues) {
    RatChord top(3, 1, base()), a(1, 1, base()), b(2, 2, base()), c(3, 3, base()), d(4, 4, base());
    top.insert(&a);
    top.insert(&b);  // walks down past a
    EXPECT_EQ(a.prev, &b);
    EXPECT_EQ(b.next, &a);
    b.ouster(&c);    // walks up past b and a, lands between a and top
    EXPECT_EQ(a.next, &c);
    EXPECT_EQ(c.next, &top);
    EXPECT_EQ(top.prev, &c);
    EXPECT_EQ(c.prev, &a);
    top.insert(&d);  // down past c, a, b: the new bottom
    EXPECT_EQ(b.prev, &d);
    EXPECT_EQ(d.next, &b);
    EXPECT_EQ(d.prev, nullptr);
}

TEST(RatChord, WalkingHandsOscAlong) {
    RatChord low(1, 2, base()), mid(1, 1, base()), high(2, 1, base());
    mid.insert(&low);
    mid.ouster(&high);
    mid.setOsc(5);
    EXPECT_EQ(mid.getNext(), &high);
    EXPECT_EQ(high.getOsc(), 5);
    high.setOsc(-9);
    EXPECT_EQ(high.getPrev(), &mid);
    EXPECT_EQ(mid.getOsc(), -9);
    EXPECT_EQ(mid.getPrev(), &low);
    EXPECT_EQ(low.getOsc(), -9);
    EXPECT_EQ(low.getPrev(), nullptr);
    EXPECT_EQ(high.getNext(), nullptr);
    EXPECT_EQ(high.getOsc(), -9);
}

}  // namespace
