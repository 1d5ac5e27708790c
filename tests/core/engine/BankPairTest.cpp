// The engine's two banks in play: digit keys, fan-out of input, frame and
// repaint alternation, saving and loading the current bank, and copying a
// bank over the next.
#include "EngineKit.h"

#include "support/XWindow.h"

#include <memory>
#include <string>

namespace {

using enginetest::Report;

// Building the lattice store is the costly part of an engine; one engine
// per test keeps the tests independent all the same.
std::unique_ptr<LaceyBanks> engine() { return std::make_unique<LaceyBanks>(); }

std::string counts(LaceyBanks& e) {
    std::string s;
    for (int i = 0; i < 10; i++) s += std::to_string(e.getBank(i)->chubamt());
    return s;
}

TEST(BankPair, StartsWithBankOneAloneInPlay) {
    auto e = engine();
    EXPECT_EQ(e->getCurrent(), 1);
    EXPECT_EQ(e->getPrevious(), 1);
    EXPECT_EQ(counts(*e), "1111111111");
    e->charactros(13);
    EXPECT_EQ(counts(*e), "1211111111");  // one Return reaches bank 1 once
    e->charactros('1');
    EXPECT_EQ(e->getCurrent(), 1);
    EXPECT_EQ(e->getPrevious(), 1);
}

TEST(BankPair, DigitsMoveTheCurrentBankAndKeepTheOldOneInPlay) {
    auto e = engine();
    e->charactros('3');
    EXPECT_EQ(e->getCurrent(), 3);
    EXPECT_EQ(e->getPrevious(), 1);
    e->charactros(13);
    EXPECT_EQ(counts(*e), "1212111111");
    e->charactros('5');
    EXPECT_EQ(e->getCurrent(), 5);
    EXPECT_EQ(e->getPrevious(), 3);
    e->charactros(13);
    EXPECT_EQ(counts(*e), "1213121111");  // bank 1 keeps its two
    e->charactros('5');
    e->charactros(13);
    EXPECT_EQ(counts(*e), "1213131111");  // 5 twice: bank 5 alone, once
    e->charactros('0');
    e->charactros('9');
    EXPECT_EQ(e->getCurrent(), 9);
    EXPECT_EQ(e->getPrevious(), 0);
}

TEST(BankPair, DigitKeyItselfReachesBothBanksInPlay) {
    auto e = engine();
    e->getBank(1)->getSituation(0)->getGinger()->walkCursor[2] = nullptr;
    e->getBank(3)->getSituation(0)->getGinger()->walkCursor[2] = nullptr;
    e->getBank(5)->getSituation(0)->getGinger()->walkCursor[2] = nullptr;
    e->charactros('3');
    EXPECT_NE(e->getBank(1)->getSituation(0)->getGinger()->walkCursor[2], nullptr);
    EXPECT_NE(e->getBank(3)->getSituation(0)->getGinger()->walkCursor[2], nullptr);
    EXPECT_EQ(e->getBank(5)->getSituation(0)->getGinger()->walkCursor[2], nullptr);
}

TEST(BankPair, ReportsAndPressesReachBothBanksOnce) {
    auto e = engine();
    e->charactros('3');
    for (int b : {1, 3, 4}) {
        RoyalMinister* rm = e->getBank(b)->getSituation(0)->getRM();
        rm->inhibit = 0;
        rm->kingNumeMarks[0][0] = BoxRect{0, 0, 10, 10};
    }
    e->mouseButt(_pointille{5, 5});
    // One press switches the cell once (twice would bring it back to 0).
    EXPECT_EQ(e->getBank(1)->getSituation(0)->getRM()->kingals[0][0], 1);
    EXPECT_EQ(e->getBank(3)->getSituation(0)->getRM()->kingals[0][0], 1);
    EXPECT_EQ(e->getBank(4)->getSituation(0)->getRM()->kingals[0][0], 0);
    for (int b : {1, 3, 4}) e->getBank(b)->getSituation(0)->getRM()->inhibit = 1;
    // Voice 0 held as king, then axis 0 pushes its numerator by one step
    // per report (127 >> 6 = 1): a report delivered twice would step twice.
    auto nume = [&](int b) { return e->getBank(b)->getSituation(0)->getGinger()->getRat(0)->getNume(); };
    e->chubness(Report::handle(), Report(0, 0, 0, 0, 0, 0x01).chub());
    e->chubness(Report::handle(), Report(127, 0, 0, 0, 0, 0x01).chub());
    EXPECT_EQ(nume(1), 2);
    EXPECT_EQ(nume(3), 2);
    EXPECT_EQ(nume(4), 1);
    e->charactros('3');  // bank 3 alone in play, once
    e->chubness(Report::handle(), Report(127, 0, 0, 0, 0, 0x01).chub());
    EXPECT_EQ(nume(1), 2);
    EXPECT_EQ(nume(3), 3);
}

// Makes bank `loud` sound (axis 0 at 100 in every situation) and leaves
// every other bank silent.
void makeLoud(LaceyBanks& e, int loud) {
    e.charactros(static_cast<unsigned char>('0' + loud));
    e.charactros(static_cast<unsigned char>('0' + loud));
    e.chubness(Report::handle(), Report(100, 0, 0, 0, 0, 0).chub());
    e.beging();
}

TEST(BankPair, FramesAlternatePreviousFirst) {
    auto e = engine();
    makeLoud(*e, 3);
    e->charactros('1');  // current 1 (silent), previous 3 (loud)
    int left[256];
    for (int f = 0; f < 256; f++) left[f] = e->gingness(f, 256)[0];
    e->beging();
    // Bank 3's square waves start high: deadZone(100) × 1024 on even frames.
    for (int f = 0; f < 256; f += 2) {
        EXPECT_EQ(left[f] == 0, false) << f;
        EXPECT_EQ(left[f] == 97 * 1024 || left[f] == -97 * 1024, true) << f;
        EXPECT_EQ(left[f + 1], 0) << f + 1;
    }
    EXPECT_EQ(left[0], 97 * 1024);
    // The toggle is never reset: the next period goes on the same way.
    EXPECT_NE(e->gingness(0, 256)[0], 0);
    EXPECT_EQ(e->gingness(1, 256)[0], 0);
}

TEST(BankPair, EachBankOfAPairIsAskedForEverySecondFrame) {
    auto e = engine();
    makeLoud(*e, 3);
    e->charactros('1');
    // Bank 3 alone advances on every second frame: its voice 0 (ratio 1/1,
    // step 128 per frame, span 1024) turns after 8 of its own frames, so
    // after 16 engine frames.
    int even[9];
    for (int f = 0; f < 18; f++) {
        int l = e->gingness(f, 256)[0];
        if (f % 2 == 0) even[f / 2] = l;
    }
    for (int k = 0; k < 7; k++) EXPECT_EQ(even[k], 97 * 1024) << k;
    EXPECT_EQ(even[8], -97 * 1024);
}

TEST(BankPair, OneBankInPlayGetsEveryFrame) {
    auto e = engine();
    makeLoud(*e, 1);
    // Voice 0 turns after 8 frames of its own: here frame 7 already.
    for (int f = 0; f < 7; f++) EXPECT_EQ(e->gingness(f, 256)[0], 97 * 1024) << f;
    EXPECT_EQ(e->gingness(7, 256)[0], -97 * 1024);
}

class BankPairDrawing : public ::testing::Test {
protected:
    void SetUp() override { testx::xwindow(); }
};

TEST_F(BankPairDrawing, RepaintsAlternatePreviousFirst) {
    auto e = engine();
    e->charactros('3');
    e->charactros(13);  // banks 1 and 3 now have two situations each
    e->charactros('5');  // current 5 (one situation), previous 3 (two)
    auto rowOf = [&](int bank) { return e->getBank(bank)->getSituation(0)->getGinger()->getNumeRect()[0].y2; };
    e->graxness(testx::dc(500, 500));
    // Bank 3 painted: rows 166 high, its selected first situation last, in
    // row 2.
    EXPECT_EQ(rowOf(3), 332);
    EXPECT_EQ(rowOf(5), 0);
    e->graxness(testx::dc(500, 500));
    EXPECT_EQ(rowOf(5), 250);
    e->getBank(3)->getSituation(0)->getGinger()->numeBoxes[0].y2 = 0;
    e->graxness(testx::dc(500, 500));
    EXPECT_EQ(rowOf(3), 332);
}

TEST(BankPair, SaveWritesTheCurrentBankOnlyAndLoadFillsIt) {
    auto e = engine();
    e->charactros('3');
    e->charactros(13);
    e->charactros('4');
    e->charactros('3');  // current 3 (two situations), previous 4
    enginetest::TempDir dir;
    std::string path = dir / "output.texte";
    testing::internal::CaptureStdout();
    e->textorium_trigger(path.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), path + " \n");
    EXPECT_EQ(enginetest::slurp(path), enginetest::freshBlock(0) + enginetest::freshBlock(1));

    auto f = engine();
    f->textorium_script(path.data());
    EXPECT_EQ(counts(*f), "1211111111");  // at start the current bank is 1
}

TEST(BankPair, DuplicatingTheSelectedReachesBothBanksInPlay) {
    auto e = engine();
    e->charactros('3');
    e->dupe_chubbery();
    EXPECT_EQ(counts(*e), "1212111111");
    e->charactros('3');
    e->dupe_chubbery();
    EXPECT_EQ(counts(*e), "1213111111");
}

TEST(BankPair, CopyingTheCurrentBankReplacesTheNextWrappingAfterNine) {
    auto e = engine();
    e->charactros('9');
    e->charactros(13);
    e->charactros(13);
    e->charactros(' ');
    e->getBank(9)->getSituation(2)->getRM()->queenals[1][2] = 3;
    MultiplexPotentiator* old0 = e->getBank(0);
    e->dupe_multiplex();
    MultiplexPotentiator* copy = e->getBank(0);
    EXPECT_EQ(copy, old0);  // copied into the bank's own storage, nothing new
    EXPECT_EQ(copy->chubamt(), 3);
    EXPECT_EQ(copy->getSelected(), 0);
    EXPECT_EQ(copy->getSituation(2)->getRM()->queenals[1][2], 3);
    EXPECT_NE(copy->getSituation(2), e->getBank(9)->getSituation(2));
    EXPECT_EQ(enginetest::savedText(*copy), enginetest::savedText(*e->getBank(9)));
    EXPECT_EQ(e->getCurrent(), 9);
    EXPECT_EQ(e->getPrevious(), 1);
    // With the previous bank as the target, the pair now plays the copy.
    e->charactros('8');
    e->charactros('7');  // current 7, previous 8
    e->charactros(13);
    e->dupe_multiplex();
    EXPECT_EQ(e->getBank(8)->chubamt(), e->getBank(7)->chubamt());
    e->charactros(13);
    EXPECT_EQ(e->getBank(8)->chubamt(), 3);
}

}  // namespace
