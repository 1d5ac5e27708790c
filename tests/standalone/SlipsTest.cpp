// Slips a newcomer makes, through the real programs: each stops where it
// should, says why, and leaves every file as it was. Then closing the
// window or signalling the program ends it with status 0 and the recording
// whole, and a window without a controller shows each key at once.
#include "LiveProgram.h"
#include "SendEvents.h"
#include "standalone/grax.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <csignal>
#include <map>

namespace {

using hosttest::LiveProgram;
using hosttest::slurp;

const std::string kPatch = "chubby 0\n barre\n  kingal 1\n";
const std::string kTake = "0 key q\n256 save output.texte\n";
const std::string kOldSave = "chubby 0\n";

// The files every case starts from; after it each must hold the same bytes.
std::map<std::string, std::string> startFiles(const std::string& home) {
    std::map<std::string, std::string> files = {
        {"w.texte", kPatch}, {"take.txt", kTake}, {"output.texte", kOldSave}, {"empty.texte", ""},
        {"demo.txt", slurp(std::string(QUORVANEL_SOURCE_DIR) + "/scripts/demo.txt")},
        {"my song.texte", kPatch}};
    for (auto& [name, bytes] : files) std::ofstream(home + "/" + name) << bytes;
    mkdir((home + "/folder").c_str(), 0755);
    return files;
}

TEST(Slips, EachStopsWithItsReasonAndLosesNoFile) {
    const std::string render = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-render";
    struct Case {
        std::string command;  // run in the case's folder, no display
        int status;
        const char* says;     // on standard error
        const char* created;  // a file that must exist afterwards, or ""
    };
    const std::string program = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel";
    const Case cases[] = {
        {program + " --record w.texte w.texte", 2, "--record w.texte: that is the patch", ""},
        {program + " --record take.txt --play take.txt", 2, "--record take.txt: that is the script", ""},
        {program + " --record output.texte", 2, "--record output.texte: exists already", ""},
        {program + " --record new.txt", 1, "cannot open X display", ""},  // created, then removed
        {program + " missing.texte", 2, "cannot read patch missing.texte: No such file or directory", ""},
        {program + " folder", 2, "cannot read patch folder: Is a directory", ""},
        {program + " demo.txt", 2, "demo.txt: not a patch file", ""},
        {program + " empty.texte", 1, "cannot open X display", ""},  // an empty bank is a bank
        {program + " w.texte take.txt", 2, "one patch at most, found a second: take.txt", ""},
        {program + " --saves w.texte", 2, "--saves w.texte: not a folder", ""},
        {"make -s -n -C " QUORVANEL_SOURCE_DIR " run PATCH=\"$PWD/my song.texte\" | tail -1 | sed 's|^build/|"
         QUORVANEL_BINARY_DIR "/|' | env -u DISPLAY sh", 1,
         "cannot open X display", ""},
        {render + " take.txt take.txt", 2, "take.txt is the script", ""},
        {render + " -p w.texte take.txt w.texte", 2, "w.texte is the patch", ""},
        {render + " -p demo.txt take.txt t.wav", 2, "demo.txt: not a patch file", ""},
        {render + " take.txt t.wav", 0, "", "t.wav"},               // its save writes nothing
        {render + " --saves folder take.txt t.wav", 0, "", "folder/output.texte"},
    };
    for (const Case& c : cases) {
        LiveProgram home("");
        auto files = startFiles(home.home);
        std::string cmd = "cd '" + home.home + "' && env -u DISPLAY HOME='" + home.home + "' " + c.command +
                          " >stdout 2>stderr";
        int status = std::system(cmd.c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.command << ": " << slurp(home.home + "/stderr");
        EXPECT_NE(slurp(home.home + "/stderr").find(c.says), std::string::npos) << c.command;
        for (auto& [name, bytes] : files) EXPECT_EQ(slurp(home.home + "/" + name), bytes) << c.command << ": " << name;
        EXPECT_NE(access((home.home + "/new.txt").c_str(), F_OK), 0) << c.command;
        if (*c.created) {
            EXPECT_EQ(access((home.home + "/" + c.created).c_str(), F_OK), 0) << c.command;
        }
    }
}

// Sends the window manager's close request, as a close button does.
void closeWindow(Display* d, Window w) {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
}

// The program plays a script's pad from the first unit, so every unit has
// its report line; whichever way it is ended, the recording holds as many
// as the device received units after its priming silence (the buffer of
// four units but for the last, the engine's first), and the script's save
// wrote nothing.
TEST(Closing, WindowCloseSigintAndSigtermEndWithStatusZeroAndTheRecordingWhole) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    for (int how : {0, SIGINT, SIGTERM}) {
        LiveProgram prog("capture.asoundrc");
        std::ofstream(prog.home + "/s.txt") << "0 pad leftx 20000\n256 save output.texte\n";
        prog.start("", {"--record", "take.txt", "--play", "s.txt"});
        ASSERT_TRUE(prog.waitStarted(5000)) << prog.err();
        Window w = hosttest::findWindow(d, dis ? win : 0, 5000);  // not this test program's own
        ASSERT_NE(w, 0u);
        XClassHint hint;
        ASSERT_TRUE(XGetClassHint(d, w, &hint));
        EXPECT_STREQ(hint.res_class, "quorvanel");
        XFree(hint.res_name);
        XFree(hint.res_class);
        hosttest::sleepMs(300);
        if (how) kill(prog.pid, how);
        else closeWindow(d, w);
        ASSERT_TRUE(prog.waitExit(1000)) << "signal " << how;
        EXPECT_EQ(prog.exitCode(), 0) << "signal " << how << ": " << prog.err();
        std::string take = slurp(prog.home + "/take.txt");
        ASSERT_FALSE(take.empty());
        EXPECT_EQ(take.back(), '\n');
        size_t reports = 0;
        for (size_t p = take.find(" report "); p != std::string::npos; p = take.find(" report ", p + 1)) reports++;
        size_t last = take.rfind('\n', take.rfind(" report "));
        long long frame = std::stoll(take.substr(last + 1));
        EXPECT_EQ(static_cast<long long>(reports - 1) * 256, frame) << "a report for every unit";
        size_t captured = slurp(prog.home + "/capture.raw").size();
        EXPECT_EQ(captured - reports * 1024, 3u * 1024) << "signal " << how << ": units missing from the recording";
        EXPECT_FALSE(std::ifstream(prog.home + "/output.texte").good()) << "the script's save wrote a file";
    }
    XCloseDisplay(d);
}

}  // namespace

namespace {

// A patch named with a script that carries a bank: the patch wins, in the
// renderer (the same bytes as without the carried bank, other bytes than
// the carried bank alone) and in the program (its recording carries the
// patch).
TEST(Slips, ANamedPatchWinsOverTheBankAScriptCarries) {
    LiveProgram prog("capture.asoundrc");
    const std::string& h = prog.home;
    const std::string patch = slurp(std::string(QUORVANEL_SOURCE_DIR) + "/patches/justchord.texte");
    std::ofstream(h + "/p.texte") << patch;
    const std::string events = "0 report 60 -40 30 -90 0 0 0 0\n4096 report 127 20 -60 10 0 0 0 0\n";
    std::ofstream(h + "/bare.txt") << events;
    std::ofstream(h + "/carried.txt") << "bank fresh\n|chubby 0\n" << events;
    const std::string render = "cd '" + h + "' && " QUORVANEL_BINARY_DIR "/quorvanel-render -n 0.5 ";
    for (const char* args : {"-p p.texte carried.txt a.wav", "-p p.texte bare.txt b.wav", "carried.txt c.wav"})
        ASSERT_EQ(std::system((render + args + " 2>/dev/null").c_str()), 0) << args;
    EXPECT_EQ(slurp(h + "/a.wav"), slurp(h + "/b.wav"));
    EXPECT_NE(slurp(h + "/a.wav"), slurp(h + "/c.wav")) << "the test's patch must sound unlike the carried bank";

    prog.start("", {"--record", "take.txt", "--play", "carried.txt", "p.texte"});
    ASSERT_TRUE(prog.waitStarted(5000)) << prog.err();
    kill(prog.pid, SIGTERM);
    ASSERT_TRUE(prog.waitExit(1000));
    EXPECT_NE(prog.err().find("p.texte replaces the bank carried.txt carries"), std::string::npos) << prog.err();
    std::string carried;
    for (size_t at = 0, end; (at = slurp(h + "/take.txt").find("\n|", at)) != std::string::npos; at = end) {
        const std::string take = slurp(h + "/take.txt");
        end = take.find('\n', at + 1);
        carried += take.substr(at + 2, end - at - 2) + "\n";
    }
    EXPECT_EQ(carried, patch);
}

}  // namespace
