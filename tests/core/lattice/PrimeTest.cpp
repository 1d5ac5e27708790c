#include <gtest/gtest.h>  // before Xlib, whose macros clash with gtest names

#include "SharedStore.h"

#include <vector>

namespace {

std::vector<int> primesBelow256() {
    std::vector<int> out;
    for (int n = 2; n < 256; n++) {
        bool prime = true;
        for (int k = 2; k * k <= n; k++) prime = prime && n % k != 0;
        if (prime) out.push_back(n);
    }
    return out;
}

TEST(Prime, ListHoldsThe54PrimesAscendingWithWeights) {
    std::vector<int> want = primesBelow256();
    ASSERT_EQ(want.size(), 54u);
    Prime* p = lattest::store().getTruth();
    for (int v : want) {
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getValue(), v);
        EXPECT_EQ(p->getWeight(), 255 / v) << v;
        EXPECT_EQ(p->nextValue, p->next() ? p->next()->getValue() : 1);
        p = p->next();
    }
    EXPECT_EQ(p, nullptr);
    Prime* head = lattest::store().getTruth();
    EXPECT_EQ(head->getWeight(), 127);
    EXPECT_EQ(head->next()->getWeight(), 85);
}

TEST(Prime, PointsOfTwoAndThree) {
    Prime two(2, 127, nullptr);
    EXPECT_EQ(two.xsin[0], 0);
    EXPECT_EQ(two.ycos[0], 2);
    // cos(3.14159) lies just above -1, so 2 × it truncates to -1.
    EXPECT_EQ(two.xsin[1], 0);
    EXPECT_EQ(two.ycos[1], -1);

    Prime three(3, 85, &two);
    int xs[] = {0, 2, -2}, ys[] = {3, -1, -1};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(three.xsin[i], xs[i]) << i;
        EXPECT_EQ(three.ycos[i], ys[i]) << i;
    }
    EXPECT_EQ(three.next(), &two);
    EXPECT_EQ(three.nextValue, 2);
    EXPECT_EQ(three.step, 85);
}

TEST(Prime, PointsLieOnTheCircleOfTheirRadius) {
    for (Prime* p = lattest::store().getTruth(); p; p = p->next()) {
        int v = p->getValue();
        for (int i = 0; i < v; i++) {
            int r2 = p->xsin[i] * p->xsin[i] + p->ycos[i] * p->ycos[i];
            // truncation pulls each coordinate at most 1 toward the centre
            EXPECT_LE(r2, v * v) << v << " point " << i;
            EXPECT_GE(r2, (v - 2) * (v - 2)) << v << " point " << i;
        }
    }
}

}  // namespace
