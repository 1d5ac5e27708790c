// The modulation matrix's and the FM generator's sections of the patch
// text file: byte-exact writing, reading back by position, and what odd
// or extreme files do.
#include "SoundRig.h"

#include <climits>

using soundtest::Rig;
using voicetest::load;
using voicetest::written;

TEST(PatchSection, FreshSectionsReadExactly) {
    Rig r;
    EXPECT_EQ(written(r.rm),
              "  inhibit 1\n"
              "  kingals 0 = 0 0 0 0 \n  queenals 0 = 0 0 0 0 \n"
              "  kingals 1 = 0 0 0 0 \n  queenals 1 = 0 0 0 0 \n"
              "  kingals 2 = 0 0 0 0 \n  queenals 2 = 0 0 0 0 \n"
              "  kingals 3 = 0 0 0 0 \n  queenals 3 = 0 0 0 0 \n");
    EXPECT_EQ(written(r.fm),
              "  inhibit 1\n"
              "  numals 0 = 0 0 0 0 \n  denals 0 = 0 0 0 0 \n"
              "  numals 1 = 0 0 0 0 \n  denals 1 = 0 0 0 0 \n"
              "  numals 2 = 0 0 0 0 \n  denals 2 = 0 0 0 0 \n"
              "  numals 3 = 0 0 0 0 \n  denals 3 = 0 0 0 0 \n"
              "  bitshift 0\n");
}

TEST(PatchSection, SettingsRoundTrip) {
    Rig a;
    a.rm.charactros();
    a.fm.charactros();
    a.fm.setBitshift(6);
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 4; c++) {
            a.rm.kingals[i][c] = i - c;
            a.rm.queenals[i][c] = 2 * c - i;
            a.fm.setNumal(i, c, (i * c) % 3 - 1);
            a.fm.setDenal(i, c, c - 2);
        }
    EXPECT_EQ(written(a.rm).substr(0, 45), "  inhibit 0\n  kingals 0 = 0 -1 -2 -3 \n  queen");
    Rig b;
    EXPECT_EQ(load(b.rm, written(a.rm) + " royalfmoutarde\n"), "royalfmoutarde");
    EXPECT_EQ(load(b.fm, written(a.fm) + "chubby 1\n"), "chubby");
    EXPECT_EQ(written(b.rm), written(a.rm));
    EXPECT_EQ(written(b.fm), written(a.fm));
    EXPECT_EQ(b.fm.getModShift(), 16);
}

TEST(PatchSection, RowsAreFilledByPositionWhateverNumberIsWritten) {
    Rig r;
    // No inhibit line, row numbers out of order, a queenals line missing.
    load(r.rm, "kingals 3 = 1 2 3 4 kingals 0 = 5 6 7 8 queenals 9 = -1 -2 -3 -4 end");
    EXPECT_EQ(r.rm.inhibit, 1);
    EXPECT_EQ(r.rm.kingals[0][3], 4);
    EXPECT_EQ(r.rm.kingals[1][0], 5);
    EXPECT_EQ(r.rm.queenals[0][0], 0);
    EXPECT_EQ(r.rm.queenals[1][3], -4);
    EXPECT_EQ(r.rm.kingals[2][0], 0);
}

TEST(PatchSection, KeywordsCompareTheirFirstFiveLetters) {
    Rig r;
    EXPECT_EQ(load(r.fm, "inhibXX 0 numalZ 0 = 1 1 1 1 denaly 0 = -1 0 0 0 bitshQ 3 tail"), "tail");
    EXPECT_EQ(r.fm.inhibit, 0);
    EXPECT_EQ(r.fm.getNumal(0, 2), 1);
    EXPECT_EQ(r.fm.getDenal(0, 0), -1);
    EXPECT_EQ(r.fm.getBitshift(), 3);
    Rig s;
    EXPECT_EQ(load(s.fm, "inhi 0 numals 0 = 1 1 1 1"), "inhi");  // too short: not the keyword
    EXPECT_EQ(s.fm.inhibit, 1);
}

TEST(PatchSection, StreamEndingMidLineKeepsWhatWasRead) {
    Rig r;
    EXPECT_EQ(load(r.fm, "inhibit 0 numals 0 = 7 -7"), "<end>");
    EXPECT_EQ(r.fm.getNumal(0, 0), 7);
    EXPECT_EQ(r.fm.getNumal(0, 1), -7);
    EXPECT_EQ(r.fm.getNumal(0, 2), 0);
    EXPECT_EQ(r.fm.getBitshift(), 0);
    Rig s;
    EXPECT_EQ(load(s.rm, ""), "<end>");
    EXPECT_EQ(s.rm.inhibit, 1);
}

TEST(PatchSection, ExtremeFileValuesAreStoredAndStaySafe) {
    Rig r;
    load(r.fm, "inhibit -5 numals 0 = 2147483647 -2147483648 99999999999 -3 "
               "denals 0 = 1 0 0 0 bitshift -2147483648");
    EXPECT_EQ(r.fm.inhibit, -5);
    EXPECT_EQ(r.fm.getNumal(0, 0), INT_MAX);
    EXPECT_EQ(r.fm.getNumal(0, 1), INT_MIN);
    EXPECT_EQ(r.fm.getNumal(0, 2), INT_MAX);  // clamped by the word reader
    EXPECT_EQ(r.fm.getBitshift(), INT_MIN);
    EXPECT_EQ(r.fm.getModShift(), 0);
    EXPECT_EQ(r.fm.bandThickness(), 9);
    EXPECT_NE(written(r.fm).find("  bitshift -2147483648\n"), std::string::npos);
    // A non-zero inhibit from the file means switched off: no modulation.
    r.settle(100, 100, 100, 100);
    r.fm.gingModulate(0, 256);
    EXPECT_EQ(r.ginger.numeOffset[0], 0);
    r.fm.charactros();
    EXPECT_EQ(r.fm.inhibit, 0);
    r.fm.gingModulate(1, 256);
    // Cells 0 and 2 (> 0) read voices 0 and 2 at level +100; cells 1 and 3
    // (< 0) find no negative level. With no shift at all each adds 1024 × 100.
    EXPECT_EQ(r.ginger.numeOffset[0], 2 * 102400);
    load(r.fm, "bitshift 2147483647");
    EXPECT_EQ(r.fm.getModShift(), 31);
    EXPECT_EQ(r.fm.bandThickness(), 0);
}
