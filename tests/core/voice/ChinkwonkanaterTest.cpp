#include "VoiceRig.h"

namespace {

using voicetest::lattice;

struct Selector : ::testing::Test {
    Barre barre;
    Chinkwonkanater chink{lattice(), &barre};

    int limit() { return chink.currentPrimeLimit()->getValue(); }
};

using voicetest::load;
using voicetest::written;

TEST_F(Selector, AxisChoosesThePrimeLimitByWeight) {
    EXPECT_EQ(limit(), 2);  // fresh: the list head
    chink.chink(-128);
    EXPECT_EQ(limit(), 2);
    EXPECT_EQ(chink.getOfficio(), 0);
    chink.chink(-33);  // 4 × -33 + 256 = 124 <= 127, the weight of 2
    EXPECT_EQ(limit(), 2);
    chink.chink(-32);  // 128: the weight of 2 is added once more, 254
    EXPECT_EQ(limit(), 3);
    chink.chink(0);
    EXPECT_EQ(limit(), 5);
    chink.chink(127);
    EXPECT_EQ(limit(), 251);
    EXPECT_EQ(chink.getOfficio(), 255);
}

TEST_F(Selector, InhibitFreezesTheLimitButNotTheAxis) {
    chink.chink(0);
    chink.inh();
    chink.chink(127);
    EXPECT_EQ(limit(), 5);
    EXPECT_EQ(chink.getOfficio(), 255);
    EXPECT_EQ(chink.getStrittle(), 127 + 128);
    chink.inh();
    chink.chink(-128);
    EXPECT_EQ(limit(), 2);
}

TEST_F(Selector, SnapsAValueToALatticePrime) {
    EXPECT_EQ(chink.getPrimeLimit(4)->getValue(), 5);
    EXPECT_EQ(chink.getPrimeLimit(5)->getValue(), 5);
    EXPECT_EQ(chink.getPrimeLimit(-7)->getValue(), 2);
    EXPECT_EQ(chink.getPrimeLimit(252)->getValue(), 251);
}

TEST_F(Selector, StepSizeIsNeverNegative) {
    EXPECT_EQ(load(chink, "strittle 50"), "<end>");
    chink.chink(-100);
    EXPECT_EQ(chink.getStrittle(), 0);  // base -100 lifts strittle to 100
    chink.chink(0);
    EXPECT_EQ(chink.getStrittle(), 100);
}

TEST_F(Selector, RaisingTheShiftFreezesTheStepSize) {
    chink.chink(40);
    EXPECT_EQ(chink.getStrittle(), 168);
    chink.changeStrittle(3);  // 168 frozen, then 40 >> 3 = 5 on top
    EXPECT_EQ(chink.getStrittle(), 173);
    chink.changeStrittle(1);  // lowering keeps the base: 20 + 168
    EXPECT_EQ(chink.getStrittle(), 188);
    chink.changeStrittle(8);  // 188 frozen and the axis has no share
    EXPECT_EQ(chink.getStrittle(), 188);
    chink.chink(-128);
    EXPECT_EQ(chink.getStrittle(), 188);
}

TEST_F(Selector, AdmitsByLargestPrimeFactor) {
    chink.chink(0);  // limit 5
    EXPECT_TRUE(chink.checkk(lattice()->getQuid(12, 5)));
    EXPECT_FALSE(chink.checkk(lattice()->getQuid(14, 3)));
    EXPECT_FALSE(chink.checkk(lattice()->getQuid(3, 14)));
    EXPECT_TRUE(chink.checkk(lattice()->getNumba(1)));
    EXPECT_TRUE(chink.checkk(lattice()->getNumba(0)));
    EXPECT_TRUE(chink.checkk(static_cast<Numba*>(nullptr)));
    EXPECT_FALSE(chink.checkk(lattice()->getNumba(49)));
}

TEST_F(Selector, CopyTakesSettingsButNotTheAxis) {
    chink.chink(127);
    chink.inh();
    chink.changeStrittle(2);
    Chinkwonkanater copy(&chink, lattice(), &barre);
    EXPECT_EQ(copy.currentPrimeLimit()->getValue(), 251);
    EXPECT_EQ(copy.getInhibit(), 1);
    EXPECT_EQ(copy.getStritton(), 2);
    EXPECT_EQ(copy.getOfficio(), 128);
    EXPECT_EQ(copy.getStrittle(), 255);  // 127 + 128 frozen, officio 0 adds nothing
}

TEST_F(Selector, WritesItsSection) {
    EXPECT_EQ(written(chink), "  inhibit 0\n  primelm 2\n  stritton 0\n  strittle 128\n");
}

TEST_F(Selector, ReadsBackWhatItWrote) {
    chink.chink(50);  // 17
    chink.inh();
    chink.changeStrittle(4);
    std::string saved = written(chink);
    Chinkwonkanater fresh(lattice(), &barre);
    EXPECT_EQ(load(fresh, saved + " sponginger"), "sponginger");
    EXPECT_EQ(written(fresh), saved);
    EXPECT_EQ(saved, "  inhibit 1\n  primelm 17\n  stritton 4\n  strittle 178\n");
}

TEST_F(Selector, ReaderSnapsPrimesAndStopsAtOtherWords) {
    EXPECT_EQ(load(chink, "inhibit 1 primelm 4 barre"), "barre");
    EXPECT_EQ(limit(), 5);
    EXPECT_EQ(load(chink, "primelm 1000"), "<end>");
    EXPECT_EQ(limit(), 251);
    // Out of order: strittle before stritton ends the section at stritton.
    EXPECT_EQ(load(chink, "strittle 7 stritton 3"), "stritton");
    EXPECT_EQ(chink.getStritton(), 0);
    // A missing number leaves the field as it was.
    EXPECT_EQ(load(chink, "strittle"), "<end>");
    EXPECT_EQ(chink.getStrittle(), 7);
}

TEST_F(Selector, FileStrittonIsHeldToTheKeyRange) {
    chink.chink(-128);
    load(chink, "stritton 40 strittle 10");
    EXPECT_EQ(chink.getStritton(), 8);
    EXPECT_EQ(chink.getStrittle(), 10);  // 8: no axis share
    load(chink, "stritton -3 strittle 200");
    EXPECT_EQ(chink.getStritton(), 0);
    EXPECT_EQ(chink.getStrittle(), 72);  // -128 + 200
    load(chink, "stritton 2147483647 strittle 5");
    EXPECT_EQ(chink.getStrittle(), 5);
}

}  // namespace
