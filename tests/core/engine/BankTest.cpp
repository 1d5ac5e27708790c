// One bank: adding, deleting, selecting and duplicating situations, solo
// mode, the mix, and the rows it paints.
#include "EngineKit.h"

#include "support/XWindow.h"

#include <memory>
#include <vector>

namespace {

using enginetest::Report;
using enginetest::stabile;

std::unique_ptr<MultiplexPotentiator> bankOf(int situations) {
    auto b = std::make_unique<MultiplexPotentiator>(stabile());
    for (int i = 1; i < situations; i++) b->chubadd();
    return b;
}

std::vector<ChubberySituation*> slots(MultiplexPotentiator& b) {
    std::vector<ChubberySituation*> out;
    for (int k = 0; k < b.chubamt(); k++) out.push_back(b.getSituation(k));
    return out;
}

TEST(Bank, FreshBankHasOneSelectedSituationNotSolo) {
    MultiplexPotentiator b(stabile());
    EXPECT_EQ(b.chubamt(), 1);
    EXPECT_EQ(b.getSelected(), 0);
    EXPECT_EQ(b.getSolo(), 0);
    EXPECT_NE(b.getSituation(0), nullptr);
    EXPECT_EQ(b.getSituation(1), nullptr);
}

TEST(Bank, ReturnAddsUpToFifteenSituations) {
    MultiplexPotentiator b(stabile());
    for (int i = 0; i < 14; i++) b.charactros(13);
    EXPECT_EQ(b.chubamt(), 15);
    auto before = slots(b);
    b.charactros(13);
    EXPECT_EQ(b.chubamt(), 15);
    EXPECT_EQ(slots(b), before);
    EXPECT_EQ(b.getSituation(15), nullptr);
    EXPECT_EQ(b.getSelected(), 0);
}

TEST(Bank, AddReturnsTheNewSlotOrFourteenWhenFull) {
    MultiplexPotentiator b(stabile());
    for (int i = 1; i < 15; i++) EXPECT_EQ(b.chubadd(), i);
    EXPECT_EQ(b.chubadd(), 14);
    EXPECT_EQ(b.chubamt(), 15);
}

TEST(Bank, BackSpaceSelectsTheFollowingSituationOrTheFirst) {
    auto b = bankOf(3);
    auto abc = slots(*b);
    b->charactros(' ');
    b->charactros(' ');  // C selected
    EXPECT_EQ(b->getSelected(), 2);
    b->charactros(8);
    EXPECT_EQ(slots(*b), (std::vector<ChubberySituation*>{abc[0], abc[1]}));
    EXPECT_EQ(b->getSelected(), 0);

    auto c = bankOf(3);
    auto abc2 = slots(*c);
    c->charactros(' ');  // B selected
    c->charactros(8);
    EXPECT_EQ(slots(*c), (std::vector<ChubberySituation*>{abc2[0], abc2[2]}));
    EXPECT_EQ(c->getSelected(), 1);
    EXPECT_EQ(c->getSituation(c->getSelected()), abc2[2]);
}

TEST(Bank, SpaceWrapsAndDeletingEverythingLeavesAnUsableEmptyBank) {
    auto b = bankOf(2);
    b->charactros(' ');
    b->charactros(' ');
    EXPECT_EQ(b->getSelected(), 0);
    b->charactros(8);
    b->charactros(8);
    EXPECT_EQ(b->chubamt(), 0);
    EXPECT_EQ(b->getSelected(), 0);
    b->charactros(8);  // nothing left to delete
    b->charactros(' ');
    EXPECT_EQ(b->chubamt(), 0);
    b->charactros('/');
    b->charactros('q');  // solo on an empty bank: nobody to call
    int* pair = b->gingness(0, 256);
    EXPECT_EQ(pair[0], 0);
    EXPECT_EQ(pair[1], 0);
    b->chubness(Report::handle(), Report(100, 0, 0, 0, 0, 0).chub());
    b->beging();
    b->charactros(13);
    EXPECT_EQ(b->chubamt(), 1);
    EXPECT_EQ(b->getSelected(), 0);
}

TEST(Bank, DuplicationPutsTheCopyRightAfterTheSelected) {
    auto b = bankOf(3);
    auto abc = slots(*b);
    abc[0]->getRM()->kingals[1][1] = -1;
    b->chubdupe();
    auto now = slots(*b);
    ASSERT_EQ(now.size(), 4u);
    EXPECT_EQ(now[0], abc[0]);
    EXPECT_EQ(now[2], abc[1]);
    EXPECT_EQ(now[3], abc[2]);
    EXPECT_NE(now[1], abc[0]);
    EXPECT_EQ(now[1]->getRM()->kingals[1][1], -1);
    EXPECT_EQ(b->getSelected(), 0);
}

TEST(Bank, DuplicationFillsSixteenAndAddingThenDropsNothing) {
    auto b = bankOf(15);
    b->chubdupe();
    EXPECT_EQ(b->chubamt(), 16);
    auto sixteen = slots(*b);
    b->chubdupe();
    EXPECT_EQ(b->chubamt(), 16);
    b->charactros(13);
    EXPECT_EQ(b->chubadd(), 14);
    EXPECT_EQ(b->chubamt(), 16);
    EXPECT_EQ(slots(*b), sixteen);
    // All sixteen are saved; loading keeps fifteen.
    std::string text = enginetest::savedText(*b);
    std::string sixteenBlocks;
    for (int i = 0; i < 16; i++) sixteenBlocks += enginetest::freshBlock(i);
    EXPECT_EQ(text, sixteenBlocks);
    enginetest::loadText(*b, text);
    EXPECT_EQ(b->chubamt(), 15);
}

TEST(Bank, CopiedBankCopiesEverySituationButNotSelectionOrSolo) {
    auto b = bankOf(3);
    b->getSituation(2)->getRM()->queenals[3][0] = 7;
    b->charactros(' ');
    b->charactros('/');
    MultiplexPotentiator copy(b.get(), stabile());
    EXPECT_EQ(copy.chubamt(), 3);
    EXPECT_EQ(copy.getSelected(), 0);
    EXPECT_EQ(copy.getSolo(), 0);
    for (int k = 0; k < 3; k++) EXPECT_NE(copy.getSituation(k), b->getSituation(k));
    EXPECT_EQ(copy.getSituation(2)->getRM()->queenals[3][0], 7);
    EXPECT_EQ(enginetest::savedText(copy), enginetest::savedText(*b));
}

TEST(Bank, KeysReachEverySituationAndReturnReachesTheNewOne) {
    auto b = bankOf(2);
    for (auto* s : slots(*b)) s->getGinger()->walkCursor[0] = nullptr;
    b->charactros('a');
    for (auto* s : slots(*b)) {
        EXPECT_EQ(s->getRM()->inhibit, 0);
        EXPECT_NE(s->getGinger()->walkCursor[0], nullptr);
    }
    b->charactros(13);
    // The new situation got the Return as well: its walks were re-anchored.
    EXPECT_EQ(b->chubamt(), 3);
    b->getSituation(2)->getGinger()->walkCursor[1] = nullptr;
    b->charactros('m');
    EXPECT_NE(b->getSituation(2)->getGinger()->walkCursor[1], nullptr);
}

TEST(Bank, SoloSoundsAndListensOnlyToTheSelected) {
    auto b = bankOf(3);
    auto abc = slots(*b);
    // Every situation hears axis 0 at 100 while all play.
    b->chubness(Report::handle(), Report(100, 0, 0, 0, 0, 0).chub());
    b->beging();
    // Fresh square waves all start at +1024; deadZone(100) = 97.
    int* all = b->gingness(0, 256);
    EXPECT_EQ(all[0], 3 * 97 * 1024);
    EXPECT_EQ(all[1], 0);

    b->charactros(' ');  // B
    b->charactros('/');
    EXPECT_EQ(b->getSolo(), 1);
    int* solo = b->gingness(1, 256);
    EXPECT_EQ(solo[0], 97 * 1024);
    EXPECT_EQ(solo[1], 0);

    b->chubness(Report::handle(), Report(100, 55, 0, 0, 0, 0).chub());
    EXPECT_EQ(abc[0]->getRFM()->axis[1], 0);
    EXPECT_EQ(abc[1]->getRFM()->axis[1], 55);
    EXPECT_EQ(abc[2]->getRFM()->axis[1], 0);
    b->charactros('q');
    EXPECT_EQ(abc[0]->getRFM()->inhibit, 1);
    EXPECT_EQ(abc[1]->getRFM()->inhibit, 0);
    EXPECT_EQ(abc[2]->getRFM()->inhibit, 1);

    // Period marks and mouse presses still reach all three.
    b->beging();
    for (auto* s : abc) EXPECT_EQ(s->getRFM()->axisLast[0], 100);
    for (auto* s : abc) {
        s->getRM()->inhibit = 0;
        s->getRM()->queenDenoMarks[2][3] = BoxRect{0, 0, 50, 50};
    }
    b->mouseButt(_pointille{25, 25});
    for (auto* s : abc) EXPECT_EQ(s->getRM()->queenals[2][3], -1);

    b->charactros('/');
    EXPECT_EQ(b->getSolo(), 0);
}

TEST(Bank, ReportsNeedAHandleAndMoreThanFiveBytes) {
    auto b = bankOf(1);
    ChubberySituation* s = b->getSituation(0);
    Report r(60, 0, 0, 0, 0, 0);
    b->chubness(nullptr, r.chub());
    EXPECT_EQ(s->getRFM()->axis[0], 0);
    b->chubness(Report::handle(), _CHUBREPORT{r.bytes, 5});
    EXPECT_EQ(s->getRFM()->axis[0], 0);
    // Six bytes are taken; the missing bytes 6 and 7 read as zero, never
    // from beyond the report.
    signed char six[6] = {61, 0, 0, 0, 0, 0};
    b->chubness(Report::handle(), _CHUBREPORT{six, 6});
    EXPECT_EQ(s->getRFM()->axis[0], 61);
    EXPECT_EQ(s->getBarre()->isKingPresent(), 0);
}

TEST(Bank, SixteenBitSumIsPlainIntegerAddition) {
    auto b = bankOf(15);
    b->chubness(Report::handle(), Report(-128, -128, -128, -128, 0, 0).chub());
    b->beging();
    int* p = b->gingness(0, 256);
    // Each voice: deadZone(-128) = -125 times +1024 goes right.
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 15 * 4 * -125 * 1024);
}

class BankDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        testx::xwindow();
        testx::clear();
    }
};

TEST_F(BankDrawing, RowsGoBackwardsFromBeforeTheSelectedWhichComesLast) {
    auto b = bankOf(3);
    auto abc = slots(*b);
    b->charactros(' ');  // B selected
    b->graxness(testx::dc(500, 500));
    // Row height 500 / 4 = 125; a row's baseline is the boxes' bottom edge.
    EXPECT_EQ(abc[0]->getGinger()->getNumeRect()[0].y2, 125);  // A, row 1
    EXPECT_EQ(abc[2]->getGinger()->getNumeRect()[0].y2, 250);  // C, row 2
    EXPECT_EQ(abc[1]->getGinger()->getNumeRect()[0].y2, 375);  // B, row 3
    // Column width 125: voice 1's anchor at 62 + 125.
    EXPECT_EQ(abc[1]->getGinger()->getNumeRect()[1].x1, 187);
}

TEST_F(BankDrawing, StripesAndTheSoloShade) {
    auto b = bankOf(1);
    b->graxness(testx::dc(500, 500));
    EXPECT_EQ(testx::pixel(2, 2), 0xc80000u);
    EXPECT_EQ(testx::pixel(130, 2), 0xc8c8c8u);
    EXPECT_EQ(testx::pixel(260, 2), 0xc8c800u);
    EXPECT_EQ(testx::pixel(490, 2), 0x0a0a0au);
    b->charactros('/');
    testx::clear();
    b->graxness(testx::dc(500, 500));
    // Solo: rows 0 .. count × rowh = 250 shaded, the rest keeps the stripes.
    EXPECT_EQ(testx::pixel(2, 2), 0x0a0a0au);
    EXPECT_EQ(testx::pixel(160, 100), 0x0a0a0au);
    EXPECT_EQ(testx::pixel(130, 495), 0xc8c8c8u);
}

TEST_F(BankDrawing, NarrowWindowLeavesTheRightmostColumnsUnpainted) {
    auto b = bankOf(1);
    testx::clear(0x123456);
    b->graxness(testx::dc(403, 300));
    // q = 100: stripes end at x = 400; columns 400..402 keep the old picture.
    EXPECT_EQ(testx::pixel(399, 2), 0x0a0a0au);
    EXPECT_EQ(testx::pixel(401, 2), 0x123456u);
}

TEST_F(BankDrawing, SoloBankStillDrawsEverySituation) {
    auto b = bankOf(3);
    auto abc = slots(*b);
    b->charactros('/');
    for (auto* s : abc) s->getGinger()->numeBoxes[0] = BoxRect{0, 0, 0, 0};
    b->graxness(testx::dc(500, 500));
    // Selected A is last (row 3); before it C (row 1, wrapping backwards), then B.
    EXPECT_EQ(abc[0]->getGinger()->getNumeRect()[0].y2, 375);
    EXPECT_EQ(abc[2]->getGinger()->getNumeRect()[0].y2, 125);
    EXPECT_EQ(abc[1]->getGinger()->getNumeRect()[0].y2, 250);
}

TEST_F(BankDrawing, HostilePatchValuesPlayDrawAndTakeClicks) {
    // Every value a hand-edited file can push to an extreme, with every
    // component switched on: under the sanitizers no shift, division or
    // drawing size may go wrong, and the X connection must survive.
    std::string block =
        " barre\n  queenal 0 3\n"
        " chinkwonkanater\n  inhibit 1\n  primelm 2147483647\n  stritton -2147483648\n"
        "  strittle 2147483647\n"
        " sponginger\n  rat 0 = 255 / 1\n  rat 1 = 1 / 255\n  rat 2 = 251 / 2\n  rat 3 = 2 / 251\n"
        "  bitshift -2147483648\n  gingzgongz -1\n  quiznoquantan 2147483647\n"
        " royalminister\n  inhibit 0\n";
    for (int r = 0; r < 4; r++)
        block += "  kingals 0 = 2147483647 -2147483648 -1 1 \n  queenals 0 = -2147483648 2147483647 -2147483648 2147483647 \n";
    block += " royalfmoutarde\n  inhibit 0\n";
    for (int r = 0; r < 4; r++)
        block += "  numals 0 = 2147483647 -2147483648 -1 1 \n  denals 0 = -2147483648 2147483647 1 -1 \n";
    std::string text;
    for (const char* shift : {"2147483647", "-2147483648", "-11", "22", "9", "-1"})
        text += "chubby 0\n" + block + "  bitshift " + shift + "\n";
    MultiplexPotentiator b(stabile());
    enginetest::loadText(b, text);
    ASSERT_EQ(b.chubamt(), 6);
    for (int period = 0; period < 6; period++) {
        signed char axes = period % 2 ? 127 : -128;
        b.chubness(Report::handle(), Report(axes, -axes - 1, axes, axes, axes, period % 3 ? 0x55 : 0).chub());
        for (int f = 0; f < 256; f++) b.gingness(f, 256);
        b.beging();
        b.graxness(testx::dc(500, 500));
        for (int y = 0; y < 500; y += 23)
            for (int x = 0; x < 500; x += 19) b.mouseButt(_pointille{x, y});
    }
    b.charactros('/');
    b.graxness(testx::dc(37, 3));
    b.graxness(testx::dc(0, 0));
    testx::sync();
    // The window is still there and still answers.
    XWindowAttributes a;
    EXPECT_NE(XGetWindowAttributes(dis, win, &a), 0);
}

}  // namespace
