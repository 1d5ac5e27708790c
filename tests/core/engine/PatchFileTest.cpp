// The patch text file: what a bank writes, how a file is read back, how
// bad files end a load, and how a save that cannot be written is reported
// without harming what was there.
#include "EngineKit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

using enginetest::freshBlock;
using enginetest::fullBlock;
using enginetest::loadText;
using enginetest::savedText;
using enginetest::slurp;
using enginetest::spit;
using enginetest::stabile;
using enginetest::TempDir;
using enginetest::textOf;

std::string ratio(ChubberySituation* s, int v) {
    RatChord* r = s->getGinger()->getRat(v);
    return std::to_string(r->getNume()) + "/" + std::to_string(r->getDeno());
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

TEST(PatchFile, FreshBankSavesTheSampleByteForByte) {
    MultiplexPotentiator b(stabile());
    EXPECT_EQ(savedText(b), freshBlock(0));
}

TEST(PatchFile, FifteenFullSituationsRoundTrip) {
    std::string text;
    for (int i = 0; i < 15; i++) text += fullBlock(i);
    MultiplexPotentiator b(stabile());
    loadText(b, text);
    ASSERT_EQ(b.chubamt(), 15);
    EXPECT_EQ(savedText(b), text);
    // The pairs are really held: block 2 is "queenal 2 3".
    EXPECT_EQ(b.getSituation(2)->getBarre()->getFocius1(), 2);
    EXPECT_EQ(b.getSituation(2)->getBarre()->getFocius2(), 3);
    EXPECT_EQ(b.getSituation(4)->getBarre()->getFocius1(), 0);
    EXPECT_EQ(b.getSituation(4)->getBarre()->getFocius2(), -1);
    EXPECT_EQ(ratio(b.getSituation(1), 2), "60/115");
    EXPECT_EQ(b.getSelected(), 0);
}

TEST(PatchFile, SettingsMadeByPlayingSurviveSaveAndLoad) {
    MultiplexPotentiator a(stabile());
    for (int i = 0; i < 14; i++) a.charactros(13);
    // Voices 1 and 2 held in every situation; in the last, pressing voice 1
    // again leaves voice 2 king alone.
    a.chubness(enginetest::Report::handle(), enginetest::Report(0, 0, 0, 0, 0, 0x14).chub());
    for (char k : std::string("aqz['yhn")) a.charactros(k);
    a.getSituation(14)->getBarre()->but(0);
    a.getSituation(14)->getBarre()->but(0x04);
    a.getSituation(3)->getRM()->kingals[2][3] = -1;
    a.getSituation(9)->getRFM()->setDenal(0, 1, 1);
    std::string text = savedText(a);
    MultiplexPotentiator b(stabile());
    loadText(b, text);
    EXPECT_EQ(b.chubamt(), 15);
    for (int k = 0; k < 15; k++) EXPECT_EQ(textOf(*b.getSituation(k)), textOf(*a.getSituation(k))) << k;
    EXPECT_EQ(b.getSituation(0)->getBarre()->getFocius1(), 1);
    EXPECT_EQ(b.getSituation(0)->getBarre()->getFocius2(), 2);
    EXPECT_EQ(b.getSituation(14)->getBarre()->getFocius1(), 2);
    EXPECT_EQ(b.getSituation(14)->getBarre()->getFocius2(), -1);
}

TEST(PatchFile, HeaderOnlyBlockIsAFreshSituation) {
    MultiplexPotentiator b(stabile());
    loadText(b, "chubby 0\nchubby 1\n barre\n  kingal 2\n");
    ASSERT_EQ(b.chubamt(), 2);
    EXPECT_EQ(textOf(*b.getSituation(0)), enginetest::kFreshBlock);
    EXPECT_EQ(b.getSituation(1)->getBarre()->getFocius1(), 2);
}

TEST(PatchFile, RatioLinesFillSlotsInOrderWhateverVoiceIsWritten) {
    MultiplexPotentiator b(stabile());
    loadText(b,
             "chubby 0\n sponginger\n  rat 1 = 5 / 4\n  rat 2 = 7 / 4\n  rat 3 = 9 / 8\n"
             "  bitshift 3\n");
    ChubberySituation* s = b.getSituation(0);
    EXPECT_EQ(ratio(s, 0), "5/4");
    EXPECT_EQ(ratio(s, 1), "7/4");
    EXPECT_EQ(ratio(s, 2), "9/8");
    EXPECT_EQ(ratio(s, 3), "4/4");
    EXPECT_EQ(s->getGinger()->bitshift, 3);
}

TEST(PatchFile, RatioTermsAreReducedByTheLattice) {
    MultiplexPotentiator b(stabile());
    loadText(b,
             "chubby 0\n sponginger\n  rat 0 = 300 / 0\n  rat 1 = 256 / -3\n"
             "  rat 2 = 99999999999 / -99999999999\n  rat 3 = abc / 7x\n");
    ChubberySituation* s = b.getSituation(0);
    EXPECT_EQ(ratio(s, 0), "44/1");
    EXPECT_EQ(ratio(s, 1), "1/1");
    EXPECT_EQ(ratio(s, 2), "255/1");  // INT_MAX % 256 = 255; INT_MIN gives 1
    EXPECT_EQ(ratio(s, 3), "1/7");
}

TEST(PatchFile, PrimeLimitSnapsToALatticePrime) {
    const std::pair<int, int> cases[] = {{4, 5}, {5, 5}, {1, 2}, {-7, 2}, {252, 251}, {1000, 251},
                                         {INT_MAX, 251}};
    for (auto [written, loaded] : cases) {
        MultiplexPotentiator b(stabile());
        loadText(b, "chubby 0\n chinkwonkanater\n  inhibit 1\n  primelm " + std::to_string(written) + "\n");
        EXPECT_EQ(b.getSituation(0)->getChink()->currentPrimeLimit()->getValue(), loaded) << written;
    }
}

TEST(PatchFile, SeventeenBlocksLoadFifteenTheSixteenthOverTheFifteenth) {
    std::string text;
    for (int i = 0; i < 17; i++)
        text += "chubby " + std::to_string(i) + "\n chinkwonkanater\n  strittle " + std::to_string(100 + i) + "\n";
    MultiplexPotentiator b(stabile());
    loadText(b, text);
    ASSERT_EQ(b.chubamt(), 15);
    for (int k = 0; k < 14; k++) EXPECT_EQ(b.getSituation(k)->getChink()->getStrittle(), 100 + k);
    EXPECT_EQ(b.getSituation(14)->getChink()->getStrittle(), 115);
}

TEST(PatchFile, SectionsAreReadWhereverTheyStand) {
    MultiplexPotentiator b(stabile());
    loadText(b,
             "chubby 0\n sponginger\n  rat 0 = 3 / 2\n chinkwonkanater\n  inhibit 1\n"
             "chubby 1\n");
    ASSERT_EQ(b.chubamt(), 2);
    EXPECT_EQ(ratio(b.getSituation(0), 0), "3/2");
    EXPECT_EQ(b.getSituation(0)->getChink()->getInhibit(), 1);
}

TEST(PatchFile, CarriageReturnLineFeedFilesLoadTheSame) {
    std::string text;
    for (int i = 0; i < 4; i++) text += fullBlock(i);
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    MultiplexPotentiator b(stabile());
    loadText(b, crlf);
    EXPECT_EQ(savedText(b), text);
    loadText(b, std::string(text.begin(), text.end()).replace(0, 0, "\r\r\n \n"));
    EXPECT_EQ(savedText(b), text);
}

TEST(PatchFile, FilesThatDoNotBeginWithABlockEmptyTheBank) {
    for (const char* t : {"", "   \n", "hello chubby 0\n", "chub 0\n barre\n"}) {
        MultiplexPotentiator b(stabile());
        b.chubadd();
        loadText(b, t);
        EXPECT_EQ(b.chubamt(), 0) << t;
        EXPECT_EQ(savedText(b), "");
    }
}

TEST(PatchFile, UnreadableFilesLeaveTheBankUntouched) {
    TempDir dir;
    MultiplexPotentiator b(stabile());
    b.chubadd();
    b.chubadd();
    std::string missing = dir / "missing.texte";
    b.textorium_script(missing.data());
    EXPECT_EQ(b.chubamt(), 3);
    std::string folder = dir.path;
    b.textorium_script(folder.data());
    EXPECT_EQ(b.chubamt(), 3);
}

TEST(PatchFile, StreamEndingMidLineKeepsWhatWasRead) {
    MultiplexPotentiator b(stabile());
    loadText(b, "chubby 0\n sponginger\n  rat 0 = 5 / 3\n  rat 1 = 7");
    ASSERT_EQ(b.chubamt(), 1);
    EXPECT_EQ(ratio(b.getSituation(0), 0), "5/3");
    EXPECT_EQ(ratio(b.getSituation(0), 1), "2/2");
    loadText(b, "chubby 0\n royalfmoutarde\n  inhibit 0\n  numals 0 = 1 -1");
    EXPECT_EQ(b.getSituation(0)->getRFM()->inhibit, 0);
    EXPECT_EQ(b.getSituation(0)->getRFM()->getNumal(0, 0), 1);
    EXPECT_EQ(b.getSituation(0)->getRFM()->getNumal(0, 1), -1);
    EXPECT_EQ(b.getSituation(0)->getRFM()->getNumal(0, 2), 0);
    loadText(b, "chubby");
    EXPECT_EQ(b.chubamt(), 1);
    EXPECT_EQ(textOf(*b.getSituation(0)), enginetest::kFreshBlock);
}

TEST(PatchFile, ValuesAreTakenByPositionAlone) {
    MultiplexPotentiator b(stabile());
    // An extra value is one word too many: it is skipped, and the next
    // line is read as written.
    loadText(b, "chubby 0\n royalminister\n  inhibit 0\n  kingals 0 = 1 -1 1 -1 1\n  queenals 0 = 1 1 1 1 \n"
                "chubby 1\n");
    ASSERT_EQ(b.chubamt(), 2);
    ChubberySituation* s = b.getSituation(0);
    EXPECT_EQ(s->getRM()->kingals[0][3], -1);
    EXPECT_EQ(s->getRM()->queenals[0][0], 1);
}

TEST(PatchFile, NumbersBeyondIntRangeAreClampedNotWrapped) {
    MultiplexPotentiator b(stabile());
    loadText(b,
             "chubby 0\n royalminister\n  inhibit 99999999999\n"
             "  kingals 0 = -99999999999 4294967297 2147483648 -2147483649 \n");
    ChubberySituation* s = b.getSituation(0);
    EXPECT_EQ(s->getRM()->inhibit, INT_MAX);
    EXPECT_EQ(s->getRM()->kingals[0][0], INT_MIN);
    EXPECT_EQ(s->getRM()->kingals[0][1], INT_MAX);
    EXPECT_EQ(s->getRM()->kingals[0][2], INT_MAX);
    EXPECT_EQ(s->getRM()->kingals[0][3], INT_MIN);
    EXPECT_NE(savedText(b).find("  kingals 0 = -2147483648 2147483647 2147483647 -2147483648 \n"),
              std::string::npos);
}

TEST(PatchFile, VoiceNumbersOutsideTheFourVoicesNeverReachTheRatioSet) {
    const char* lines[] = {"kingal 4",  "kingal -1",   "kingal 2147483647", "kingal -99999999999",
                           "queenal 1 4", "queenal -3 2", "queenal 9 9",     "queenal 4 -4",
                           "queenal 0 99999999999"};
    std::string text;
    for (int i = 0; i < 9; i++) text += "chubby " + std::to_string(i) + "\n barre\n  " + lines[i] + "\n";
    MultiplexPotentiator b(stabile());
    loadText(b, text);
    ASSERT_EQ(b.chubamt(), 9);
    for (int k = 0; k < 9; k++) {
        Barre* bar = b.getSituation(k)->getBarre();
        EXPECT_EQ(bar->getFocius1(), -1) << lines[k];
        EXPECT_EQ(bar->getFocius2(), -1) << lines[k];
    }
    // Play a little with every axis pushing: the voices still sound, and
    // under the sanitizers nothing reads a fifth voice.
    for (int r = 0; r < 8; r++) {
        b.chubness(enginetest::Report::handle(), enginetest::Report(127, 127, 127, 127, 127, 0).chub());
        for (int f = 0; f < 256; f++) b.gingness(f, 256);
        b.beging();
    }
    std::string saved = savedText(b);
    EXPECT_EQ(saved.find("  kingal "), std::string::npos);
    EXPECT_EQ(saved.find("  queenal "), std::string::npos);
}

TEST(PatchFile, VoicePairsInRangeAreHeldKingBelowQueen) {
    MultiplexPotentiator b(stabile());
    loadText(b, "chubby 0\n barre\n  queenal 3 1\nchubby 1\n barre\n  queenal 2 2\n");
    ASSERT_EQ(b.chubamt(), 2);
    EXPECT_EQ(b.getSituation(0)->getBarre()->getFocius1(), 1);
    EXPECT_EQ(b.getSituation(0)->getBarre()->getFocius2(), 3);
    EXPECT_EQ(b.getSituation(1)->getBarre()->getFocius1(), 2);
    EXPECT_EQ(b.getSituation(1)->getBarre()->getFocius2(), -1);
}

TEST(PatchFile, SaveReplacesTheWholeOldFileAndKeepsItsPermissions) {
    TempDir dir;
    std::string path = dir / "output.texte";
    spit(path, std::string(20000, 'x'));
    chmod(path.c_str(), 0640);
    MultiplexPotentiator b(stabile());
    testing::internal::CaptureStdout();
    b.textorium_trigger(path.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), path + " \n");
    EXPECT_EQ(slurp(path), freshBlock(0));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"output.texte"});
}

TEST(PatchFile, SaveThroughASymbolicLinkWritesTheLinkedFile) {
    TempDir dir;
    std::string real = dir / "real.texte", link = dir / "output.texte";
    spit(real, "old");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    MultiplexPotentiator b(stabile());
    testing::internal::CaptureStdout();
    b.textorium_trigger(link.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), link + " \n");
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(slurp(real), freshBlock(0));
}

// Saves to `path` and returns (stdout, stderr).
std::pair<std::string, std::string> trySave(MultiplexPotentiator& b, std::string path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    b.textorium_trigger(path.data());
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
}

TEST(PatchFile, SaveOverAFolderFailsLoudlyAndLeavesTheFolder) {
    TempDir dir;
    std::string target = dir / "output.texte";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    spit(target + "/keep", "precious");
    MultiplexPotentiator b(stabile());
    auto [out, err] = trySave(b, target);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("cannot save"), std::string::npos) << err;
    EXPECT_NE(err.find(target), std::string::npos) << err;
    EXPECT_NE(err.find("Is a directory"), std::string::npos) << err;
    EXPECT_EQ(slurp(target + "/keep"), "precious");
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"output.texte"});
}

TEST(PatchFile, SaveIntoAMissingFolderFailsLoudly) {
    TempDir dir;
    MultiplexPotentiator b(stabile());
    auto [out, err] = trySave(b, dir / "nowhere/output.texte");
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
}

// Saves as a user who cannot write into the folder: root can write
// anywhere, so under root the save runs in a child that has become
// "nobody" (uid 65534) and reports through a file opened before.
std::string saveAsOutsider(MultiplexPotentiator& b, const std::string& path, const std::string& errFile) {
    if (geteuid() != 0) return trySave(b, path).second;
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 2) < 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        std::string p = path;
        b.textorium_trigger(p.data());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return slurp(errFile);
}

TEST(PatchFile, SaveIntoAFolderTheUserCannotWriteFailsAndLeavesTheOldFile) {
    TempDir dir, errs;
    std::string path = dir / "output.texte";
    spit(path, "old patch");
    chmod(dir.path.c_str(), 0555);
    MultiplexPotentiator b(stabile());
    std::string err = saveAsOutsider(b, path, errs / "stderr");
    chmod(dir.path.c_str(), 0755);
    EXPECT_NE(err.find("cannot save " + path + ": Permission denied\n"), std::string::npos) << err;
    EXPECT_EQ(slurp(path), "old patch");
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"output.texte"});
}

TEST(PatchFile, SaveUnderAnOverlongNameFailsLoudlyAndLeavesNoLitter) {
    TempDir dir;
    std::string path = dir / (std::string(300, 'n') + ".texte");
    MultiplexPotentiator b(stabile());
    auto [out, err] = trySave(b, path);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("File name too long"), std::string::npos) << err;
    EXPECT_TRUE(namesIn(dir.path).empty());
}

}  // namespace

namespace {

// What a hand-edited file loads as (a piece of the bank's save, and its
// situations) and what the loader says about it, line by line. Each text
// is a whole file.
TEST(PatchFile, HandEditsLoadAsBeforeAndSayWhatChanged) {
    const std::string head = "chubby 0\n sponginger\n";
    struct Case {
        std::string text;
        const char* saved;  // a piece of what the bank then saves
        std::vector<std::string> said;
        int situations = 1;
    } cases[] = {
        {head + "  rat 0 = 1 / 300\n", "  rat 0 = 1 / 44\n",
         {"3: rat: denominator 300 is outside 1..255; loaded as 44 (less a multiple of 256)"}},
        {head + "  rat 0 = 0 / 256\n", "  rat 0 = 1 / 1\n",
         {"3: rat: numerator 0 is outside 1..255; loaded as 1", "3: rat: denominator 256 is outside 1..255; loaded as 1"}},
        // Carriage returns alone end lines too.
        {"chubby 0\r chinkwonkanater\r  inhibit 1\r  primelm 4\r", "  primelm 5\n",
         {"4: primelm: 4 is not a prime; loaded as 5, the next prime above it"}},
        {"chubby 0\n chinkwonkanater\n  primelm 300\n  stritton 12\n  strittle abc\n", "  primelm 251\n  stritton 8\n  strittle 0\n",
         {"3: primelm: 300 is above 251, the largest prime; loaded as 251", "4: stritton: 12 is outside 0..8; clamped to 8",
          "5: strittle: 'abc' is not a number; read as 0"}},
        // No spaces: read as 3/2, and the next line is read as written.
        {head + "  rat 0 = 1 / 1\n  rat 1 = 2 / 2\n  rat 2 = 3/2\n  rat 3 = 5 / 4\n  bitshift 3\n",
         "  rat 2 = 3 / 2\n  rat 3 = 5 / 4\n  bitshift 3\n", {}},
        {head + "  rat 0 = 7 /\n  rat 1 = 5 / 4\n", "  rat 0 = 1 / 1\n  rat 1 = 5 / 4\n",
         {"3: rat: the line ends before the denominator; voice 0 keeps 1/1"}},
        {head + "  rat 2 = 9 / 8\n", "  rat 0 = 9 / 8\n",
         {"3: rat: ratio lines set voices 0 to 3 in order: this one sets voice 0, not 2"}},
        {head + "  bitshift 40\n", "  bitshift 40\n", {"3: bitshift: 40 acts as 8, its low five bits (0..31)"}},
        {"chubby 0\n barre\n  kingal 4\n chinkwonkanater\n  inhibit 1\n", "  atrest\n chinkwonkanater\n  inhibit 1\n",
         {"3: kingal: voice 4 is not one of 0..3; no voice is held"}},
        {"chubby 0\n barre\n  queenal 3 1\n", "  queenal 1 3\n",
         {"3: queenal: 3 1: the lower voice is the king, so it is held as king 1, queen 3"}},
        {"chubby 0\n royalminister\n  inhibit 0\n  kingals 0 = 1 -1\n  queenals 0 = 1 1 1 1\n",
         "  kingals 0 = 1 -1 0 0 \n  queenals 0 = 1 1 1 1 \n",
         {"4: kingals: the line ends after 2 of its 4 values; the others stay as they were"}},
        {"chubby 0\n royalfmoutarde\n  inhibit 99999999999\n  bitshift 30\n", "  inhibit 2147483647\n",
         {"3: inhibit: '99999999999' is beyond -2147483648..2147483647; read as 2147483647",
          "4: bitshift: 30 acts as 21 (the depth is held to -10..21)"}},
        // A line the loader cannot read is skipped, and the load goes on.
        {"chubby 0\n royalminister\n  kingals 0 = 1 -1 1 -1 1\n  queenals 0 = 1 1 1 1\n", "  kingals 0 = 1 -1 1 -1 \n  queenals 0 = 1 1 1 1",
         {"3: '1' is one word too many on its line; it and the rest of the line are skipped"}},
        {head + "  RAT 0 = 3 / 2\n  rat 1 = 5 / 4\nchubby 1\n", "  rat 0 = 5 / 4\n",
         {"3: 'RAT' is not a word of the patch format; the line is skipped",
          "4: rat: ratio lines set voices 0 to 3 in order: this one sets voice 0, not 1"}, 2},
        {head + "  inhibit 1\n  bitshift 3\n", "  bitshift 3\n",
         {"3: 'inhibit' is out of place (a section's lines come in the order a save writes them); the line is skipped"}},
        {"chubby 0\n  primelm 7\n chinkwonkanater\n  primelm 5\n", "  primelm 5\n",
         {"2: 'primelm' is out of place before the situation's first section line; the line is skipped"}},
        {"chuby 0\n barre\nchubby 1\n", "chubby 0\n barre\n  atrest\n",
         {"1: 'chuby' is not a word of the patch format; the line is skipped",
          "2: 'barre' is out of place before the first situation block (\"chubby\"); the line is skipped"}},
        // A tab is a blank, and a line beginning with '#' a comment.
        {"# a fifth\nchubby 0\n\tsponginger\n\t\trat 0 = 3 / 2\n  # the third\n\t\trat 1 = 5 / 4\n",
         "  rat 0 = 3 / 2\n  rat 1 = 5 / 4\n", {}},
    };
    for (const Case& c : cases) {
        MultiplexPotentiator b(stabile());
        std::vector<std::string> said;
        b.load(std::vector<char>(c.text.begin(), c.text.end()), MultiplexPotentiator::kMaxAdded,
               [&](int line, const std::string& text) { said.push_back(std::to_string(line) + ": " + text); });
        EXPECT_NE(savedText(b).find(c.saved), std::string::npos) << c.text << savedText(b);
        EXPECT_EQ(said, c.said) << c.text;
        EXPECT_EQ(b.chubamt(), c.situations) << c.text;
        // Without a sink the same bank loads, silently.
        MultiplexPotentiator quiet(stabile());
        quiet.load(std::vector<char>(c.text.begin(), c.text.end()));
        EXPECT_EQ(savedText(quiet), savedText(b)) << c.text;
    }
}

TEST(PatchFile, FilesAsSavedLoadWithoutAWord) {
    std::vector<std::string> files(1);
    for (int i = 0; i < 15; i++) files[0] += fullBlock(i);
    for (const char* name : {"demo", "fmbells", "fullbank", "justchord", "wander"})
        files.push_back(slurp(std::string(QUORVANEL_SOURCE_DIR) + "/patches/" + name + ".texte"));
    MultiplexPotentiator b(stabile());
    for (const std::string& f : files) {
        int said = 0;
        b.load(std::vector<char>(f.begin(), f.end()), MultiplexPotentiator::kMaxAdded, [&](int, const std::string&) { said++; });
        EXPECT_GT(b.chubamt(), 0);
        EXPECT_EQ(said, 0);
    }
}

}  // namespace
