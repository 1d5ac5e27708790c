// The input gate inside the fill loop (a device of the test's own, no
// window): an input arriving between two units acts on the next unit and is
// recorded at its first frame, played script events arrive before the unit
// holding their frame. And the command line, case by case, and the real
// program refusing bad command lines before it opens a window.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "LiveProgram.h"
#include "RecordingEngine.h"
#include "host/InputGate.h"
#include "host/ProgramOptions.h"
#include "host/pcm.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using hosttest::LiveProgram;
using hosttest::RecordingEngine;
using hosttest::slurp;

InputGate* testGate = nullptr;
long fakeRoom = 0;
long fakeWrite(const unsigned char*, unsigned long count) { return static_cast<long>(count); }
long fakeRoomAfterWrite() { return fakeRoom -= 256; }
void fakeRecover() {}
const PcmSink fakeSink = {fakeWrite, fakeRoomAfterWrite, fakeRecover};

// The frames (ging calls) made before each key reached the engine.
std::vector<int> gingsBeforeKeys(const RecordingEngine& e) {
    std::vector<int> out;
    int gings = 0;
    for (const std::string& c : e.calls) {
        if (c.rfind("ging", 0) == 0) gings++;
        if (c.rfind("key", 0) == 0) out.push_back(gings);
    }
    return out;
}

TEST(InputGate, AnInputBetweenUnitsActsOnAndIsRecordedAtTheNextUnit) {
    RecordingEngine engine;
    AbstractChubEngine* savedEngine = abstr;
    abstr = &engine;  // the fill loop makes frames from the global engine
    InputGate::Unseen window;
    InputGate gate(&engine, &window);
    testGate = &gate;
    pcm_before_unit = [] { testGate->beforeUnit(); };
    pcm_after_unit = [] { testGate->afterUnit(); };

    std::vector<unsigned char> unit(1024);
    unsigned char* savedData = data;
    if (!data) data = unit.data();  // the unit buffer open_pcm would have made
    char path[] = "/tmp/quorvanel-gate-XXXXXX";
    close(mkstemp(path));
    Recorder recorder;
    ASSERT_TRUE(recorder.open(path));
    gate.listen(&recorder);
    EventScript script;
    ASSERT_TRUE(script.parse("0 key a\n300 key b\n767 key c\n768 key d\n"));
    gate.play(&script.events);

    fakeRoom = 512;
    EXPECT_EQ(pcm_fill(fakeRoom, fakeSink), 2);  // units 0 and 1, frames 0..511
    EXPECT_EQ(gate.frame(), 512);
    gate.key('x');                                 // between units: acts on unit 2
    std::string sofar = slurp(path);               // flushed at the end of each unit
    EXPECT_EQ(sofar.substr(sofar.find('\n') + 1), "0 key a\n256 key b\n");
    fakeRoom = 768;
    EXPECT_EQ(pcm_fill(fakeRoom, fakeSink), 3);    // units 2, 3, 4
    recorder.close();

    // a before unit 0, b (frame 300) before unit 1, x and c (frame 767)
    // before unit 2, d (768) before unit 3.
    const std::vector<int> want = {0, 256, 512, 512, 768};
    EXPECT_EQ(gingsBeforeKeys(engine), want);
    std::string text = slurp(path);
    EXPECT_EQ(text.substr(text.find('\n') + 1), "0 key a\n256 key b\n512 key x\n512 key c\n768 key d\n");
    EXPECT_EQ(gate.pending(), 0u);

    pcm_before_unit = nullptr;
    pcm_after_unit = nullptr;
    abstr = savedEngine;
    data = savedData;
    std::remove(path);
}

TEST(Recorder, AFailedWriteStopsTheRecordingWithOneLine) {
    Recorder r;
    ASSERT_TRUE(r.open("/dev/full"));  // opens; every write then finds the disk full
    EventScript::Event e;
    testing::internal::CaptureStderr();
    r.event(0, e);
    r.flush();
    r.event(256, e);
    r.flush();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(r.recording());
    EXPECT_EQ(err, "quorvanel: recording to /dev/full stopped: No space left on device\n");
}

TEST(ProgramOptions, CommandLines) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* patch;
        const char* record;
        const char* play;
        const char* latency;
        const char* says;  // on standard error, or on standard output when status is 0
    };
    const Case cases[] = {
        {{}, ProgramOptions::kGoOn, nullptr, nullptr, nullptr, nullptr, ""},
        {{"a.texte", "b.texte"}, ProgramOptions::kGoOn, "a.texte", nullptr, nullptr, nullptr, ""},
        {{"--record", "r.txt", "--play=p.txt", "--latency", "23", "x.texte"}, ProgramOptions::kGoOn,
         "x.texte", "r.txt", "p.txt", "23", ""},
        {{"--", "-odd.texte"}, ProgramOptions::kGoOn, "-odd.texte", nullptr, nullptr, nullptr, ""},
        {{"--help"}, 0, nullptr, nullptr, nullptr, nullptr, "usage: quorvanel [--record FILE]"},
        {{"--version"}, 0, nullptr, nullptr, nullptr, nullptr, "quorvanel " QUORVANEL_VERSION "\n"},
        {{"--bogus"}, 2, nullptr, nullptr, nullptr, nullptr, "unknown option --bogus"},
        {{"-x"}, 2, nullptr, nullptr, nullptr, nullptr, "unknown option -x"},
        {{"--record"}, 2, nullptr, nullptr, nullptr, nullptr, "--record needs a value"},
        {{"-odd.texte"}, 2, nullptr, nullptr, nullptr, nullptr, "unknown option -o"},
        {{"a.texte", "--record", "r.txt"}, 2, nullptr, nullptr, nullptr, nullptr, "options go before the patch"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> store = {"quorvanel"};
        store.insert(store.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        ProgramOptions o;
        int status = o.parse(static_cast<int>(store.size()), argv.data(), out, err);
        std::string said(4096, '\0');
        FILE* where = status == 0 ? out : err;
        std::rewind(where);
        said.resize(std::fread(said.data(), 1, said.size(), where));
        std::fclose(out);
        std::fclose(err);
        std::string line = store.size() > 1 ? store[1] : "(none)";
        EXPECT_EQ(status, c.status) << line;
        EXPECT_NE(said.find(c.says), std::string::npos) << line << ": " << said;
        if (status == 2) {
            EXPECT_NE(said.find("usage:"), std::string::npos) << line;
        }
        if (status != ProgramOptions::kGoOn) continue;
        EXPECT_STREQ(o.patch ? o.patch : "", c.patch ? c.patch : "") << line;
        EXPECT_STREQ(o.record ? o.record : "", c.record ? c.record : "") << line;
        EXPECT_STREQ(o.play ? o.play : "", c.play ? c.play : "") << line;
        EXPECT_STREQ(o.latency ? o.latency : "", c.latency ? c.latency : "") << line;
    }
}

// The real program: a file it cannot use stops it with status 2 before it
// opens the window (no display is given, which would be status 1).
TEST(ProgramCommandLine, BadFilesStopItWithStatusTwoBeforeTheWindow) {
    struct Case {
        std::vector<std::string> args;
        std::string script;  // written to "s.txt" in the program's folder
        const char* says;
    };
    const Case cases[] = {
        {{"--record", "/nonexistent/dir/take.txt"}, "", "cannot create /nonexistent/dir/take.txt"},
        {{"--play", "s.txt"}, "0 key a\n5 pad leftx 40000\n", "s.txt: line 2: pad leftx value"},
        {{"--play", "missing.txt"}, "", "cannot read missing.txt"},
        {{"--latency", "22"}, "", "--latency 22"},
        {{"--help", "--bogus"}, "", ""},
    };
    for (const Case& c : cases) {
        LiveProgram prog("capture.asoundrc");
        std::ofstream(prog.home + "/s.txt") << c.script;
        prog.start(nullptr, c.args);
        ASSERT_TRUE(prog.waitExit(5000));
        bool help = c.args[0] == "--help";
        EXPECT_EQ(prog.exitCode(), help ? 0 : 2) << c.args[0];
        EXPECT_NE(prog.err().find(c.says), std::string::npos) << prog.err();
        EXPECT_EQ(prog.err().find("X display"), std::string::npos) << prog.err();
        if (help) {
            EXPECT_EQ(prog.out().rfind("usage: quorvanel", 0), 0u) << prog.out();
        }
    }
}

}  // namespace
