// The input gate inside the fill loop (a device of the test's own, no
// window): an input arriving between two units acts on the next unit and is
// recorded at its first frame, played script events arrive before the unit
// holding their frame. A failing disk stops the recording. And the real
// program's command line, case by case.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "LiveProgram.h"
#include "RecordingEngine.h"
#include "engine/InputGate.h"
#include "standalone/grax.h"
#include "standalone/pcm.h"

#include <cstdio>
#include <cstring>
#include <fstream>
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
    host_engine(&engine);  // the fill loop makes frames from the global engine
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
    host_engine(savedEngine);
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

// The real program's command line, with no display given: usage errors
// and files it cannot use stop it with status 2 before it opens a window;
// a command line it accepts gets as far as the window (status 1 here).
TEST(ProgramCommandLine, EachCaseStopsWhereItShould) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;  // on standard output for status 0, else on standard error
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: quorvanel [--record FILE]"},
        {{"--version"}, 0, "quorvanel " QUORVANEL_VERSION "\n"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"-odd.texte"}, 2, "unknown option -o"},
        {{"--record"}, 2, "--record needs a value"},
        {{"--midi"}, 2, "--midi needs a value"},
        {{"a.texte", "--record", "r.txt"}, 2, "options go before the patch"},
        {{"--latency", "22"}, 2, "--latency 22"},
        {{"--pitch", "12000.5"}, 2, "--pitch 12000.5: not a frequency of 31.25..12000 Hz"},
        {{"--pitch", "-440"}, 2, "--pitch -440: not a frequency"},
        {{"--pitch"}, 2, "--pitch needs a value"},
        {{"--tuning-out", "midi"}, 2, "--tuning-out midi: not mpe or mts"},
        {{"--jack", "--device", "hw:0"}, 2, "--device names an ALSA device; with --jack the JACK server plays"},
        {{"--no-connect"}, 2, "--no-connect goes with --jack"},
        {{"--record", "/nonexistent/dir/take.txt"}, 2, "cannot create /nonexistent/dir/take.txt"},
        {{"--play", "s.txt"}, 2, "s.txt: line 2: pad leftx value"},
        {{"--play", "missing.txt"}, 2, "cannot read missing.txt"},
        {{"--keys-scale", "bad.scl"}, 2, "bad.scl:3: 'twelve' is not a number of degrees"},
        {{"--keys-map", "low.kbm"}, 2, "low.kbm:6: the reference key puts 1/1 at 20.0000 Hz"},  // --pitch would win
        {{"--record", "r.txt", "--play=ok.txt", "--latency", "23", "--pitch", "440", "--tuning-out", "mts", "--keys",
          "--keys-map", "low.kbm", "--jack", "--no-connect", "--", "-odd.texte"},
         1,
         "cannot open X display"},
    };
    for (const Case& c : cases) {
        LiveProgram prog("capture.asoundrc");
        std::ofstream(prog.home + "/s.txt") << "0 key a\n5 pad leftx 40000\n";
        std::ofstream(prog.home + "/ok.txt") << "0 key a\n";
        std::ofstream(prog.home + "/-odd.texte") << "chubby 0\n";
        std::ofstream(prog.home + "/bad.scl") << "! bad.scl\nname\ntwelve\n";
        std::ofstream(prog.home + "/low.kbm") << "0\n0\n127\n60\n60\n20\n0\n";
        prog.start(nullptr, c.args);
        ASSERT_TRUE(prog.waitExit(5000));
        const std::string line = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(prog.exitCode(), c.status) << line;
        const std::string said = c.status == 0 ? prog.out() : prog.err();
        EXPECT_NE(said.find(c.says), std::string::npos) << line << ": " << said;
    }
}

// The device is asked for the rate that sounds 1/1 at the pitch: 32 × 440.
TEST(ProgramCommandLine, PitchAsksTheDeviceForItsRate) {
    LiveProgram prog("");
    std::ofstream(prog.home + "/.asoundrc") << "pcm.!default {\n type file\n slave.pcm \"null\"\n file \""
                                            << prog.home << "/capture.wav\"\n format \"wav\"\n}\n";
    prog.start("", {"--pitch", "440"});
    ASSERT_TRUE(prog.waitStarted(5000)) << prog.err();
    // Only the header is read: over the null device the file grows as fast
    // as the program can make sound, tens of megabytes a second.
    std::string wav;
    for (int t = 0; t < 300 && wav.size() < 44; t++, hosttest::sleepMs(10)) {
        std::ifstream in(prog.home + "/capture.wav", std::ios::binary);
        char header[44];
        in.read(header, sizeof header);
        wav.assign(header, static_cast<size_t>(in.gcount()));
    }
    prog.stop();
    ASSERT_GE(wav.size(), 44u);
    uint32_t rate = 0;
    std::memcpy(&rate, wav.data() + 24, 4);
    EXPECT_EQ(rate, 14080u);
    EXPECT_EQ(prog.err().find("sound device plays"), std::string::npos) << prog.err();
}

}  // namespace
