// The real program, played as a player would: xdotool key presses and
// clicks on its window under the test's X server, and the patch file that
// Ctrl+S writes as the record of what they did. Each run has its own HOME,
// whose .asoundrc sends "default" through a file plugin over the null
// device into /dev/null, and its own working folder.
#include "EngineKit.h"

#include "standalone/LiveProgram.h"
#include "standalone/grax.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace {

using enginetest::freshBlock;
using enginetest::slurp;
using enginetest::spit;
using hosttest::LiveProgram;

const char* const kNullDevice =
    "pcm.!default {\n"
    "    type file\n"
    "    slave.pcm \"null\"\n"
    "    file \"/dev/null\"\n"
    "    format \"raw\"\n"
    "}\n";

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
    return n;
}

// One running program and the means to play it.
class Live : public ::testing::Test {
protected:
    LiveProgram prog{""};
    Display* d = nullptr;
    Window w = 0;
    int saves = 0;

    void SetUp() override {
        std::string bin = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel";
        ASSERT_EQ(access(bin.c_str(), X_OK), 0) << "build the program first: " << bin;
        spit(prog.home + "/.asoundrc", kNullDevice);
        d = XOpenDisplay(nullptr);
        ASSERT_NE(d, nullptr);
    }
    void TearDown() override {
        prog.stop();
        if (d) XCloseDisplay(d);
    }

    void start(std::vector<std::string> args = {}) {
        prog.start("", args);
        ASSERT_TRUE(prog.waitOutput("PCMopend\n", 10000)) << prog.err();
        w = hosttest::findWindow(d, dis ? win : 0, 10000);
        ASSERT_NE(w, 0u);
    }

    void xdotool(const std::string& args) {
        std::string cmd = "xdotool " + args + " >/dev/null 2>&1";
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
    }
    void keys(const std::string& names) { xdotool("key --window " + std::to_string(w) + " " + names); }
    void click(int x, int y) {
        xdotool("mousemove --window " + std::to_string(w) + " " + std::to_string(x) + " " +
                std::to_string(y) + " click 1");
    }
    // Unmapping and mapping the window again makes the server send Expose,
    // which repaints; the marks the mouse hits exist only once drawn.
    void repaint() {
        xdotool("windowunmap --sync " + std::to_string(w));
        xdotool("windowmap --sync " + std::to_string(w));
    }

    // Ctrl+S; waits until the program has printed the saved path, so every
    // event sent before has been handled. Returns the saved text.
    std::string save() {
        keys("ctrl+s");
        saves++;
        for (int t = 0; t < 10000 && occurrences(prog.out(), "output.texte \n") < saves; t += 10)
            hosttest::sleepMs(10);
        EXPECT_EQ(occurrences(prog.out(), "output.texte \n"), saves) << prog.err();
        return slurp(prog.home + "/output.texte");
    }

    // The fresh block with some lines replaced: pairs of (old, new).
    static std::string freshWith(int position, std::vector<std::pair<std::string, std::string>> edits) {
        std::string t = freshBlock(position);
        for (auto& [from, to] : edits) {
            size_t p = t.find(from);
            EXPECT_NE(p, std::string::npos) << from;
            if (p != std::string::npos) t.replace(p, from.size(), to);
        }
        return t;
    }
};

const std::pair<std::string, std::string> kRatioMarksOn{" royalminister\n  inhibit 1\n", " royalminister\n  inhibit 0\n"};
const std::pair<std::string, std::string> kFmMarksOn{" royalfmoutarde\n  inhibit 1\n", " royalfmoutarde\n  inhibit 0\n"};

TEST_F(Live, CtrlSInAFreshStartWritesTheFreshBank) {
    start();
    EXPECT_EQ(save(), freshBlock(0));
    EXPECT_EQ(prog.err().find("cannot save"), std::string::npos);
    EXPECT_TRUE(prog.running());
}

TEST_F(Live, BankKeysAddSelectSoloAndDelete) {
    start();
    keys("Return Return a");            // three situations, ratio marks on in all
    keys("space slash q slash");        // FM marks on in the second alone
    keys("space BackSpace");            // the third is deleted
    std::string text = save();
    EXPECT_EQ(text, freshWith(0, {kRatioMarksOn}) + freshWith(1, {kRatioMarksOn, kFmMarksOn})) << text;
    keys("BackSpace BackSpace");
    EXPECT_EQ(save(), "");
    keys("Return");
    EXPECT_EQ(save(), freshBlock(0));
}

TEST_F(Live, DigitsChooseWhichBankIsSaved) {
    start();
    keys("3 a");  // banks 3 and 1 in play: both get the 'a'
    EXPECT_EQ(save(), freshWith(0, {kRatioMarksOn}));
    keys("5 5");
    EXPECT_EQ(save(), freshBlock(0));
    keys("1 1");
    EXPECT_EQ(save(), freshWith(0, {kRatioMarksOn}));
    keys("4 Return 4");
    EXPECT_EQ(save(), freshBlock(0) + freshBlock(1));
}

TEST_F(Live, ClicksOnMarksSetMatrixCells) {
    start();
    keys("a q");
    repaint();
    // One situation in a 500×500 window: column 125, row 250; voice v's
    // numerator box spans x 62+125v .. 143+125v, y 169 .. 250, its
    // denominator box 81 px left of and below it.
    click(80, 187);   // voice 0 numerator box, inner kingals bar: kingals[0][0] = +1
    click(250, 232);  // voice 1 numerator box, inner queenals square: queenals[1][0] = +1
    click(249, 268);  // voice 2 denominator box, inner kingals bar: kingals[2][0] = -1
    click(66, 246);   // voice 0 numerator box, bottom-left FM corner: numals[0][0] = +1
    std::string text = save();
    EXPECT_EQ(text, freshWith(0, {kRatioMarksOn, kFmMarksOn,
                                  {"  kingals 0 = 0 0 0 0 \n", "  kingals 0 = 1 0 0 0 \n"},
                                  {"  queenals 1 = 0 0 0 0 \n", "  queenals 1 = 1 0 0 0 \n"},
                                  {"  kingals 2 = 0 0 0 0 \n", "  kingals 2 = -1 0 0 0 \n"},
                                  {"  numals 0 = 0 0 0 0 \n", "  numals 0 = 1 0 0 0 \n"}}))
        << text;
    click(80, 187);  // the same mark again switches the cell back
    EXPECT_NE(save().find("  kingals 0 = 0 0 0 0 \n"), std::string::npos);
}

TEST_F(Live, PatchNamedOnTheCommandLineIsWhatTheNextSaveWrites) {
    std::string patch;
    for (int i = 0; i < 3; i++) patch += enginetest::fullBlock(i);
    spit(prog.home + "/mine.texte", patch);
    start({"mine.texte"});
    EXPECT_TRUE(prog.waitOutput("inputfile mine.texte\n", 5000)) << prog.out();
    EXPECT_EQ(occurrences(prog.out(), "inputfile"), 1);
    EXPECT_EQ(save(), patch);
    EXPECT_EQ(slurp(prog.home + "/mine.texte"), patch);
}

TEST_F(Live, SaveOverAFolderIsReportedAndHarmsNothing) {
    std::string target = prog.home + "/output.texte";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    spit(target + "/keep", "precious");
    start();
    keys("Return ctrl+s");
    for (int t = 0; t < 10000 && prog.err().find("cannot save") == std::string::npos; t += 10)
        hosttest::sleepMs(10);
    EXPECT_NE(prog.err().find("cannot save output.texte: Is a directory\n"), std::string::npos) << prog.err();
    EXPECT_EQ(prog.out().find("output.texte \n"), std::string::npos) << prog.out();
    EXPECT_EQ(slurp(target + "/keep"), "precious");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // The program plays on: once the folder is gone the next save succeeds,
    // and no temporary file is left beside it.
    ASSERT_EQ(system(("rm -r '" + target + "'").c_str()), 0);
    EXPECT_EQ(save(), freshBlock(0) + freshBlock(1));
    EXPECT_TRUE(prog.running());
    if (DIR* dir = opendir(prog.home.c_str())) {
        while (dirent* e = readdir(dir)) EXPECT_NE(strncmp(e->d_name, "output.texte.", 13), 0) << e->d_name;
        closedir(dir);
    }
}

}  // namespace
