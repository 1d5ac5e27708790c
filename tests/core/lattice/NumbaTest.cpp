#include <gtest/gtest.h>  // before Xlib, whose macros clash with gtest names

#include "SharedStore.h"

namespace {

TEST(Numba, TwelveFactorsAsThreeThenTwoSquared) {
    Numba* n = lattest::store().getNumba(12);
    EXPECT_EQ(n->getValue(), 12);
    Multaple* m = n->getFactors();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->getValence()->getValue(), 3);
    EXPECT_EQ(m->getCount(), 1);
    m = m->next();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->getValence()->getValue(), 2);
    EXPECT_EQ(m->getCount(), 2);
    EXPECT_EQ(m->next(), nullptr);
    EXPECT_EQ(n->getPrimeHed()->getValue(), 3);
}

TEST(Numba, OneHasNoFactorsAndZeroAnd256ReadAsOne) {
    PerspexStabile& s = lattest::store();
    for (int a : {0, 1, 256, -5}) {
        EXPECT_EQ(s.getNumba(a)->getValue(), 1) << a;
        EXPECT_EQ(s.getNumba(a)->getFactors(), nullptr) << a;
        EXPECT_EQ(s.getNumba(a)->getPrimeHed(), nullptr) << a;
    }
    // look-ups read 0 and 256 as 1; entry 0 is only reached through the table base
    EXPECT_EQ(s.getNumba(0), &s.numbers[1]);
    EXPECT_EQ(s.getNumba(256), &s.numbers[1]);
    EXPECT_EQ(s.numbers[0].getValue(), 1);
    EXPECT_EQ(s.numbers[0].getFactors(), nullptr);
}

TEST(Numba, EveryFactorChainMultipliesBackStrictlyDescending) {
    PerspexStabile& s = lattest::store();
    for (int i = 2; i < 256; i++) {
        int product = 1, last = 256;
        for (Multaple* m = s.getNumba(i)->getFactors(); m; m = m->next()) {
            int p = m->getValence()->getValue();
            EXPECT_LT(p, last) << i;
            last = p;
            for (int k = 0; k < m->getCount(); k++) product *= p;
        }
        EXPECT_EQ(product, i);
    }
    EXPECT_EQ(s.getNumba(128)->getFactors()->getCount(), 7);
    EXPECT_EQ(s.getNumba(251)->getPrimeHed()->getValue(), 251);
}

TEST(Numba, ColoursComeFromSixDrawsInOrder) {
    srand(77);
    int r[6];
    for (int& v : r) v = rand() & 255;
    srand(77);
    Numba n;
    auto rgb = [](int a, int b, int c) { return (unsigned long)a << 16 | b << 8 | c; };
    EXPECT_EQ(n.numeBrush->pixel, rgb(r[0], r[2], r[4]));
    EXPECT_EQ(n.denoBrush->pixel, rgb(r[1], r[3], r[5]));
    EXPECT_EQ(n.getDongShard()->pixel, rgb(r[0], r[2], r[4]));
    EXPECT_EQ(n.getShongShrd()->pixel, rgb(r[1], r[3], r[5]));
    // with a display open the server may refine the low byte of each component
    EXPECT_EQ(n.numeBrush->red >> 8, r[0]);
    EXPECT_EQ(n.denoBrush->blue >> 8, r[5]);
}

}  // namespace
