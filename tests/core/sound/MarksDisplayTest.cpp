// The routing marks on the real window (Xvfb), read back pixel by pixel,
// and the mouse presses that switch matrix cells. The voice boxes are put
// where the ratio set lays them out in a 500×500 window with one situation
// in row 1 (w = 125, h = 250): voice v's numerator box is
// (62 + 125v, 169)-(143 + 125v, 250), its denominator box
// (-19 + 125v, 250)-(62 + 125v, 331).
#include "SoundRig.h"
#include "support/XWindow.h"

namespace {

const unsigned long kBackground = 0x123456;
const unsigned long kRed = 0xF50000;     // Barre colour 0 (axis / voice 0)
const unsigned long kWhite = 0xF5F5F5;   // colour 1
const unsigned long kYellow = 0xF5FF00;  // colour 2
const unsigned long kBlack = 0x000000;   // colour 3
const unsigned long kMinisterBrush = 0x14147D;  // (20, 20, 125)
const unsigned long kFMBrush = 0x78787D;        // (120, 120, 125)
const unsigned long kAxisColour[4] = {kRed, kWhite, kYellow, kBlack};

// The window opens before the components, so their colours come from it.
struct WindowFirst {
    WindowFirst() { testx::xwindow(); }
};

struct DrawRig : WindowFirst, soundtest::Rig {
    DrawRig() {
        testx::clear(kBackground);
        for (int v = 0; v < 4; v++) {
            int cx = 62 + 125 * v;
            ginger.numeBoxes[v] = BoxRect{cx, 169, cx + 81, 250};
            ginger.denoBoxes[v] = BoxRect{cx - 81, 250, cx, 331};
        }
    }
    void draw() {
        _CHDC dc = testx::dc();
        rm.draw(dc, 125, 250, 1);
        fm.draw(dc, 125, 250, 1);
        testx::sync();
    }
    int press(int x, int y) { return rm.lippingMinisterialEar(_pointille{x, y}); }
    int pressFM(int x, int y) { return fm.lippingMoutarde(_pointille{x, y}); }
    // The situation's order: the FM marks only get what the first refuses.
    int mouseButts(int x, int y) { return press(x, y) ? 1 : pressFM(x, y); }
};

// Lengths of the runs of equal pixels along row y from x0 to x1 (exclusive).
std::vector<std::pair<unsigned long, int>> runs(int y, int x0, int x1) {
    testx::Grab g(x0, y, x1 - x0, 1);
    std::vector<std::pair<unsigned long, int>> r;
    for (int x = x0; x < x1; x++) {
        unsigned long p = g.at(x, y);
        if (r.empty() || r.back().first != p) r.push_back({p, 0});
        r.back().second++;
    }
    return r;
}

using Runs = std::vector<std::pair<unsigned long, int>>;

}  // namespace

TEST(MinisterMarks, InhibitedDrawsNothingAndTakesNoPress) {
    DrawRig r;
    r.fm.charactros();
    r.draw();
    EXPECT_EQ(testx::pixel(80, 187), kBackground);
    EXPECT_EQ(testx::pixel(130, 237), kBackground);
    EXPECT_EQ(r.press(80, 187), 0);
    EXPECT_EQ(r.rm.kingals[0][0], 0);
}

TEST(MinisterMarks, KingalsBarsNestInTheTopLeftCornerInAxisColours) {
    DrawRig r;
    r.rm.charactros();
    for (int c = 0; c < 4; c++) r.rm.kingals[0][c] = 1;
    r.draw();
    // Bars of widths 36, 28, 20, 12 centred 18 px in from x 62; column c in
    // the colour of axis c.
    EXPECT_EQ(runs(180, 62, 99), (Runs{{kBlack, 4}, {kYellow, 4}, {kWhite, 4}, {kRed, 12},
                                      {kWhite, 4}, {kYellow, 4}, {kBlack, 4}, {kBackground, 1}}));
    EXPECT_EQ(testx::pixel(80, 169), kRed);
    EXPECT_EQ(testx::pixel(80, 204), kRed);
    EXPECT_EQ(testx::pixel(80, 205), kBackground);
    // The denominator box shows unset bars for the same cells (only
    // negative entries are coloured there): all brush, voice 1 = x 106.
    EXPECT_EQ(runs(260, 106, 143), (Runs{{kMinisterBrush, 36}, {kBackground, 1}}));
}

TEST(MinisterMarks, QueenalsSquaresNestInTheBottomRightCorner) {
    DrawRig r;
    r.rm.charactros();
    r.rm.queenals[1][0] = 1;   // voice 1, own axis: colour 1
    r.rm.queenals[1][2] = -1;  // axis 3: shown in the denominator box
    r.rm.kingals[1][1] = -2;   // axis 2: denominator bar
    r.draw();
    // Voice 1's numerator box ends at (268, 250): squares of 36, 28, 20, 12.
    EXPECT_EQ(runs(244, 230, 269), (Runs{{kBackground, 2}, {kMinisterBrush, 36}, {kBackground, 1}}));
    EXPECT_EQ(runs(237, 230, 269), (Runs{{kBackground, 2}, {kMinisterBrush, 12}, {kWhite, 12},
                                        {kMinisterBrush, 12}, {kBackground, 1}}));
    EXPECT_EQ(testx::pixel(244, 226), kWhite);  // top edge of the 12×12 square
    EXPECT_EQ(testx::pixel(244, 225), kMinisterBrush);
    // Denominator box of voice 1, (106, 250)-(187, 331): column 2's ring
    // (side 28, 4 px wide) in axis 3's colour at its bottom-right corner.
    EXPECT_EQ(runs(327, 150, 188), (Runs{{kBackground, 1}, {kMinisterBrush, 36}, {kBackground, 1}}));
    EXPECT_EQ(runs(323, 150, 188), (Runs{{kBackground, 1}, {kMinisterBrush, 4}, {kBlack, 28},
                                        {kMinisterBrush, 4}, {kBackground, 1}}));
    EXPECT_EQ(testx::pixel(160, 310), kMinisterBrush);  // column 1's square lies over it
    // Column 1's bar in the denominator box (x 114..133) in axis 2's colour,
    // column 0's unset bar (x 118..129) over its middle.
    EXPECT_EQ(runs(260, 106, 143), (Runs{{kMinisterBrush, 8}, {kYellow, 4}, {kMinisterBrush, 12},
                                        {kYellow, 4}, {kMinisterBrush, 8}, {kBackground, 1}}));
}

TEST(MinisterMouse, BorderMissesOnePixelInsideHits) {
    DrawRig r;
    r.rm.charactros();
    r.draw();
    EXPECT_EQ(r.press(62, 187), 0);  // on column 3's left edge
    EXPECT_EQ(r.press(80, 169), 0);  // on the bars' top edge
    EXPECT_EQ(r.press(98, 187), 0);  // just right of column 3
    EXPECT_EQ(r.press(63, 187), 1);
    EXPECT_EQ(r.rm.kingals[0][3], 1);
    EXPECT_EQ(r.press(80, 170), 1);
    EXPECT_EQ(r.rm.kingals[0][0], 1);
}

TEST(MinisterMouse, InnermostColumnWinsAndClicksToggle) {
    DrawRig r;
    r.rm.charactros();
    r.draw();
    EXPECT_EQ(r.press(62 + 18, 169 + 18), 1);
    EXPECT_EQ(r.rm.kingals[0][0], 1);
    EXPECT_EQ(r.press(62 + 26, 169 + 18), 1);  // beyond column 0's bar (ends at 86)
    EXPECT_EQ(r.rm.kingals[0][1], 1);
    EXPECT_EQ(r.rm.kingals[0][0], 1);
    EXPECT_EQ(r.press(62 + 18, 169 + 18), 1);
    EXPECT_EQ(r.rm.kingals[0][0], 0);  // twice restores 0
    // Numerator mark then the same cell's denominator mark: -1.
    EXPECT_EQ(r.press(187 + 18, 169 + 18), 1);
    EXPECT_EQ(r.rm.kingals[1][0], 1);
    EXPECT_EQ(r.press(106 + 18, 250 + 18), 1);
    EXPECT_EQ(r.rm.kingals[1][0], -1);
    EXPECT_EQ(r.press(106 + 18, 250 + 18), 1);
    EXPECT_EQ(r.rm.kingals[1][0], 0);
    // Queenals: bottom-right squares; a loaded 3 goes to 0 in one click.
    r.rm.queenals[2][0] = 3;
    int x2 = 312 + 81, y2 = 250;
    EXPECT_EQ(r.press(x2 - 18, y2 - 18), 1);
    EXPECT_EQ(r.rm.queenals[2][0], 0);
    EXPECT_EQ(r.press(x2 - 18 + 8, y2 - 18), 1);  // column 1's ring
    EXPECT_EQ(r.rm.queenals[2][1], 1);
    EXPECT_EQ(r.press(312 - 18, 331 - 18), 1);  // voice 2's denominator square
    EXPECT_EQ(r.rm.queenals[2][0], -1);
}

TEST(MinisterMouse, PressesUseTheLastDrawnPlaces) {
    DrawRig r;
    r.rm.charactros();
    EXPECT_EQ(r.press(80, 187), 0);  // never drawn: nothing to hit
    r.draw();
    for (int v = 0; v < 4; v++) r.ginger.numeBoxes[v].y1 += 100, r.ginger.numeBoxes[v].y2 += 100;
    EXPECT_EQ(r.press(80, 187), 1);  // still the old place until the next draw
    r.draw();
    EXPECT_EQ(r.press(80, 187), 0);
    EXPECT_EQ(r.press(80, 287), 1);
    r.rm.charactros();
    EXPECT_EQ(r.press(80, 287), 0);
}

TEST(FMMarks, BandsAreNinePixelsAtDepthZero) {
    DrawRig r;
    r.fm.charactros();
    for (int c = 0; c < 4; c++) r.fm.setNumal(0, c, 1);
    r.draw();
    // Voice 0's numerator box bottom-left corner is (62, 250); column c's
    // L-band (source c) runs along the top and right of its square.
    EXPECT_EQ(runs(245, 62, 99), (Runs{{kRed, 9}, {kWhite, 9}, {kYellow, 9}, {kBlack, 9}, {kBackground, 1}}));
    EXPECT_EQ(runs(214, 62, 99), (Runs{{kBlack, 36}, {kBackground, 1}}));
    EXPECT_EQ(testx::pixel(62, 213), kBackground);
    EXPECT_EQ(testx::pixel(62, 232), kWhite);
    EXPECT_EQ(testx::pixel(62, 241), kRed);
    // Unset cells in the top-right corner (numals < 0 there): column 3's
    // band is not painted, only the grey inner parts (x 116..142).
    EXPECT_EQ(runs(180, 106, 144), (Runs{{kBackground, 10}, {kFMBrush, 27}, {kBackground, 1}}));
}

TEST(FMMarks, BandsThinToOnePixelAtDepthEight) {
    DrawRig r;
    r.fm.charactros();
    r.fm.setBitshift(8);
    for (int c = 0; c < 4; c++) r.fm.setDenal(1, c, -1);
    r.draw();
    // Voice 1's denominator box top-right corner is (187, 250): squares
    // reach left to 187 - e and down to 250 + e; each shows a 1-pixel L on
    // grey, along its left and bottom sides.
    // Sources of columns 3, 2, 1, 0: voices 0, 3, 2, 1.
    EXPECT_EQ(runs(251, 150, 188), (Runs{{kBackground, 1}, {kRed, 1}, {kFMBrush, 8}, {kBlack, 1},
                                        {kFMBrush, 8}, {kYellow, 1}, {kFMBrush, 8}, {kWhite, 1},
                                        {kFMBrush, 8}, {kBackground, 1}}));
    // Column 0 is a 9×9 square: its bottom row, 258, is the band.
    EXPECT_EQ(runs(258, 178, 188), (Runs{{kWhite, 9}, {kBackground, 1}}));
    EXPECT_EQ(testx::pixel(179, 257), kFMBrush);
}

TEST(FMMarks, PatchFileDepthsOutsideTheKeysStayDrawable) {
    for (int b : {9, 40, -3, -2000000000}) {
        DrawRig r;
        r.fm.charactros();
        r.fm.setBitshift(b);
        EXPECT_EQ(r.fm.bandThickness(), b >= 9 ? 0 : 9) << b;
        r.fm.setNumal(0, 0, 1);
        r.draw();
        // Thickness 0: the grey covers every square; 9: column 0 solid.
        EXPECT_EQ(testx::pixel(66, 246), b >= 9 ? kFMBrush : kRed) << b;
        EXPECT_EQ(testx::pixel(61, 246), kBackground) << b;
        EXPECT_EQ(testx::pixel(66, 250), kBackground) << b;
    }
}

TEST(FMMouse, CornersSwitchCellsByTheSmallestSquare) {
    DrawRig r;
    r.fm.charactros();
    r.draw();
    EXPECT_EQ(r.pressFM(62 + 4, 250 - 4), 1);
    EXPECT_EQ(r.fm.getNumal(0, 0), 1);
    EXPECT_EQ(r.pressFM(62 + 13, 250 - 4), 1);
    EXPECT_EQ(r.fm.getNumal(0, 1), 1);
    EXPECT_EQ(r.pressFM(62 + 4, 250 - 4), 1);
    EXPECT_EQ(r.fm.getNumal(0, 0), 0);  // twice restores 0
    EXPECT_EQ(r.pressFM(62, 246), 0);   // on the corner's edge lines
    EXPECT_EQ(r.pressFM(66, 250), 0);
    // Top-right of the numerator box: -1; bottom-left again: straight to +1.
    EXPECT_EQ(r.pressFM(143 - 20, 169 + 30), 1);  // dx 20, dy 30: column 3
    EXPECT_EQ(r.fm.getNumal(0, 3), -1);
    EXPECT_EQ(r.pressFM(62 + 30, 250 - 30), 1);
    EXPECT_EQ(r.fm.getNumal(0, 3), 1);
    // Denominator box of voice 3, (356, 250)-(437, 331).
    EXPECT_EQ(r.pressFM(437 - 4, 250 + 4), 1);
    EXPECT_EQ(r.fm.getDenal(3, 0), -1);
    EXPECT_EQ(r.pressFM(356 + 20, 331 - 4), 1);
    EXPECT_EQ(r.fm.getDenal(3, 2), 1);
}

TEST(FMMouse, ClickChangesTheSoundAtTheNextFrame) {
    DrawRig r;
    r.fm.charactros();
    r.draw();
    r.settle(10, 0, 0, 0);
    ASSERT_EQ(r.pressFM(66, 246), 1);  // numals[0][0] = 1: voice 0 feeds itself
    r.fm.gingModulate(0, 256);
    EXPECT_EQ(r.ginger.numeOffset[0], 10);
}

TEST(Mouse, PressFallsThroughToTheFMMarksOnlyWhenTheFirstRefuses) {
    DrawRig r;
    r.rm.charactros();
    r.fm.charactros();
    r.draw();
    EXPECT_EQ(r.mouseButts(62 + 4, 250 - 4), 1);  // no kingals mark there
    EXPECT_EQ(r.fm.getNumal(0, 0), 1);
    EXPECT_EQ(r.mouseButts(80, 187), 1);
    EXPECT_EQ(r.rm.kingals[0][0], 1);
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 4; c++)
            if (i || c) {
                EXPECT_EQ(r.fm.getNumal(i, c), 0);
            }
    r.rm.charactros();  // inhibited: its marks no longer take presses
    EXPECT_EQ(r.mouseButts(80, 187), 0);
    EXPECT_EQ(r.rm.kingals[0][0], 1);
}
