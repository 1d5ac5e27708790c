// A situation: how it wires its five components and routes keys, reports,
// mouse presses and frames to them.
#include "EngineKit.h"

#include "engine/ChubberySituation.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using enginetest::Report;
using enginetest::stabile;
using enginetest::textOf;

std::unique_ptr<ChubberySituation> fresh() {
    return std::make_unique<ChubberySituation>(static_cast<ChubDevice*>(nullptr), stabile());
}

// Moves every walk cursor two links away from its voice's ratio, so a
// following durszen is visible.
void scatterWalks(SponGinger* g) {
    for (int v = 0; v < 4; v++) g->walkCursor[v] = g->getRat(v)->getNext()->getNext();
}

bool walksOnRatios(SponGinger* g) {
    for (int v = 0; v < 4; v++)
        if (g->walkCursor[v] != g->getRat(v)) return false;
    return true;
}

TEST(Situation, FreshSituationWritesTheFreshSections) {
    auto s = fresh();
    EXPECT_EQ(textOf(*s), enginetest::kFreshBlock);
}

TEST(Situation, EveryKeyFirstPutsTheWalksBackOnTheRatios) {
    auto s = fresh();
    for (int key = 0; key < 256; key++) {
        scatterWalks(s->getGinger());
        ASSERT_FALSE(walksOnRatios(s->getGinger()));
        s->charactros(static_cast<char>(key));
        EXPECT_TRUE(walksOnRatios(s->getGinger())) << "key " << key;
    }
}

TEST(Situation, KeyboardRowsChooseDepthSensitivityAndStepShift) {
    const char* top = "wertyuiop";
    const char* home = "sdfghjkl;";
    for (int n = 0; n <= 8; n++) {
        auto s = fresh();
        s->getRFM()->setBitshift(99);
        s->getGinger()->changeAsdfghon(99);
        s->charactros(top[n]);
        s->charactros(home[n]);
        EXPECT_EQ(s->getRFM()->getBitshift(), n) << top[n];
        EXPECT_EQ(s->getGinger()->bitshift, n) << home[n];
    }
    const char* bottom = "xcvbnm,.";
    for (int n = 1; n <= 8; n++) {
        auto s = fresh();
        s->charactros(bottom[n - 1]);
        EXPECT_EQ(s->getChink()->getStritton(), n) << bottom[n - 1];
    }
}

TEST(Situation, ToggleKeysFlipTheirSwitchesBackAndForth) {
    auto s = fresh();
    s->charactros('q');
    s->charactros('a');
    s->charactros('[');
    s->charactros('\'');
    s->charactros('z');
    EXPECT_EQ(s->getRFM()->inhibit, 0);
    EXPECT_EQ(s->getRM()->inhibit, 0);
    EXPECT_EQ(s->getGinger()->gingzgongz, 1);
    EXPECT_EQ(s->getGinger()->quiznoquantan, 1);
    EXPECT_EQ(s->getChink()->getInhibit(), 1);
    for (char k : std::string("qa['z")) s->charactros(k);
    EXPECT_EQ(textOf(*s), enginetest::kFreshBlock);
}

TEST(Situation, KeysOutsideTheTableChangeNothingSaved) {
    const std::string table = "qwertyuiop['xcvbnm,.asdfghjkl;z";
    auto s = fresh();
    for (int key = 0; key < 256; key++) {
        if (key != 0 && table.find(static_cast<char>(key)) != std::string::npos) continue;
        s->charactros(static_cast<char>(key));
    }
    EXPECT_EQ(textOf(*s), enginetest::kFreshBlock);  // Q, A, digits, Return...: nothing
}

TEST(Situation, QueenJoiningTheKingResetsTheWalksBeforeTheSelector) {
    auto s = fresh();
    SponGinger* g = s->getGinger();
    // Voice 2 alone: a king, no queen, so the walks stay where they were.
    scatterWalks(g);
    s->chubspon(Report(0, 0, 0, 0, 0, 0x10).bytes);
    EXPECT_EQ(s->getBarre()->getFocius1(), 2);
    EXPECT_FALSE(walksOnRatios(g));
    // Voice 0 joins (voice 2 still held): the queen flag puts them back.
    s->chubspon(Report(0, 0, 0, 0, 0, 0x11).bytes);
    EXPECT_EQ(s->getBarre()->getFocius1(), 0);
    EXPECT_EQ(s->getBarre()->getFocius2(), 2);
    EXPECT_TRUE(walksOnRatios(g));
    // The pair held on: no new flag, so the walks stay scattered.
    scatterWalks(g);
    s->chubspon(Report(0, 0, 0, 0, 0, 0x11).bytes);
    EXPECT_FALSE(walksOnRatios(g));
}

TEST(Situation, ButtonsAndPrimeLimitAreTakenBeforeTheAxesMoveTheKing) {
    auto s = fresh();
    s->getGinger()->rat[0] = stabile()->getQuid(2, 1);
    // Pressing voice 0 with axis 0 at 127 makes it king in the same report,
    // and byte 4 = 0 has already raised the prime limit from 2 to 5, so the
    // push (127 >> 6 = 1) moves the numerator 2 -> 3. Under the old limit 2
    // the 3 would be refused.
    s->chubspon(Report(127, 0, 0, 0, 0, 0x01).bytes);
    EXPECT_EQ(s->getChink()->currentPrimeLimit()->getValue(), 5);
    EXPECT_EQ(s->getGinger()->getRat(0)->getNume(), 3);
    EXPECT_EQ(s->getGinger()->getRat(0)->getDeno(), 1);
}

TEST(Situation, RatioMarksTakeAPressBeforeTheFmMarks) {
    auto s = fresh();
    s->charactros('a');
    s->charactros('q');
    BoxRect r{10, 10, 30, 30};
    s->getRM()->kingNumeMarks[1][2] = r;
    s->getRFM()->numePlusMarks[3][1] = r;
    s->mouseButts(_pointille{20, 20});
    EXPECT_EQ(s->getRM()->kingals[1][2], 1);
    EXPECT_EQ(s->getRFM()->getNumal(3, 1), 0);
    // With the ratio marks switched off the same press reaches the FM marks.
    s->charactros('a');
    s->mouseButts(_pointille{20, 20});
    EXPECT_EQ(s->getRM()->kingals[1][2], 1);
    EXPECT_EQ(s->getRFM()->getNumal(3, 1), 1);
}

TEST(Situation, FramesAndPeriodsAreTheGeneratorsOwn) {
    auto s = fresh();
    EXPECT_EQ(s->ging(0, 256), s->getRFM()->gingModulate(1, 256));
    s->chubspon(Report(100, -50, 0, 0, 0, 0).bytes);
    EXPECT_EQ(s->getRFM()->axisLast[0], 0);
    s->beging();
    EXPECT_EQ(s->getRFM()->axisLast[0], 100);
    EXPECT_EQ(s->getRFM()->axisLast[1], -50);
}

TEST(Situation, CopyOwnsNewComponentsWiredToEachOther) {
    auto a = fresh();
    for (char k : std::string("qaz[e;v")) a->charactros(k);
    a->getRM()->kingals[2][1] = -1;
    a->getRM()->queenals[0][3] = 5;
    a->getRFM()->setDenal(1, 2, 1);
    a->getGinger()->rat[3] = stabile()->getQuid(7, 5);
    a->chubspon(Report(0, 0, 0, 0, 0, 0x44).bytes);  // voices 1 and 3 held

    ChubberySituation b(a.get(), stabile());
    EXPECT_EQ(textOf(b), textOf(*a));
    EXPECT_NE(b.getBarre(), a->getBarre());
    EXPECT_NE(b.getChink(), a->getChink());
    EXPECT_NE(b.getGinger(), a->getGinger());
    EXPECT_NE(b.getRM(), a->getRM());
    EXPECT_NE(b.getRFM(), a->getRFM());
    EXPECT_EQ(b.getGinger()->barre, b.getBarre());
    EXPECT_EQ(b.getGinger()->chink, b.getChink());
    EXPECT_EQ(b.getGinger()->stabile, stabile());
    EXPECT_EQ(b.getRM()->ginger, b.getGinger());
    EXPECT_EQ(b.getRM()->barre, b.getBarre());
    EXPECT_EQ(b.getRM()->chink, b.getChink());
    EXPECT_EQ(b.getRFM()->ginger, b.getGinger());
    EXPECT_EQ(b.getRFM()->barre, b.getBarre());
    EXPECT_EQ(b.getRFM()->minister, b.getRM());
    // Changing the copy leaves the source alone.
    b.charactros('a');
    EXPECT_EQ(a->getRM()->inhibit, 0);
}

}  // namespace
