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
    const int draws[6] = {0x1201, 0x3402, 0x5603, 0x7804, 0x9a05, 0xbc06};
    int next = 0;
    Numba n;
    n.colour([&] { return draws[next++]; });
    EXPECT_EQ(next, 6);
    EXPECT_EQ(n.numeBrush, 0x010305u);
    EXPECT_EQ(n.denoBrush, 0x020406u);
    EXPECT_EQ(n.getDongShard(), 0x010305u);
    EXPECT_EQ(n.getShongShrd(), 0x020406u);
}

}  // namespace
