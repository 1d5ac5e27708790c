// Playing to a real sound server: a private PulseAudio server with a null
// sink (tools/pulse-server.sh), ALSA's "default" pointed at it. Short runs of
// the loop probe (tools/idleprobe.cpp) check that the waiting loop keeps the
// device fed without a lost frame, answers events within a unit, and costs a
// small part of what the busy loop does; the program itself starts and plays.
// The long measurement is tools/idle-cpu.sh, run by hand.
#include "LiveProgram.h"
#include "PulseServer.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using hosttest::LiveProgram;

hosttest::PulseServer server;

std::string shellQuote(const std::string& s) { return hosttest::PulseServer::quote(s); }

class PulsePlayback : public ::testing::Test {
protected:
    // At log level 4 the server logs "Implicit underrun" whenever a stream
    // runs dry, which the plugin does not always pass on to the program.
    static void SetUpTestSuite() { server.start("4"); }
    static void TearDownTestSuite() { server.stop(); }
    void SetUp() override {
        if (server.dir.empty()) GTEST_SKIP() << "no PulseAudio server could be started";
    }

    // Underruns of the program's streams (not the keeper's below) the
    // server has logged so far.
    static int serverUnderruns() {
        const std::string what = "Implicit underrun of 'ALSA";
        std::string log = hosttest::slurp(server.dir + "/pulse.log");
        int n = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
            n++;
        return n;
    }

    // Runs the loop probe (or `command`) and returns its name=value fields.
    static std::map<std::string, double> probe(
        const std::string& args,
        const std::string& command = shellQuote(std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-idleprobe")) {
        std::string cmd = "HOME=" + shellQuote(server.dir + "/home") + " " + command + " " + args + " 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        std::string last;
        char buf[1024];
        while (p && fgets(buf, sizeof buf, p)) last = buf;
        if (p) pclose(p);
        std::map<std::string, double> f;
        std::istringstream in(last);
        std::string field;
        while (in >> field) {
            size_t eq = field.find('=');
            if (eq != std::string::npos) f[field.substr(0, eq)] = atof(field.c_str() + eq + 1);
        }
        return f;
    }
};

// Timing on a shared machine can be spoilt by a neighbour; the run counts
// if one of three attempts meets every bound.
TEST_F(PulsePlayback, WaitingLoopKeepsUpAnswersEventsAndCostsLittle) {
    auto busy = probe("busy 1 0 0");
    ASSERT_GT(busy.count("cpu_percent"), 0u) << "the busy probe gave no result";
    std::string why;
    for (int attempt = 0; attempt < 3; attempt++) {
        auto f = probe("wait 2 50 0");
        if (f.count("frames") == 0) { why = "no result line"; continue; }
        std::ostringstream w;
        double frames = f["frames"], expected = f["expected"];
        if (f["lost_units"] != 0) w << "lost units " << f["lost_units"] << "; ";
        // What was written matches what was played: within one buffer on a
        // quiet machine; a loaded one delays the sound server too, so allow
        // a tenth more short. A wait that slept past its unit loses far more.
        if (frames < expected - 1024 - expected / 10 || frames > expected + 1024)
            w << "frames " << frames << " for " << expected << "; ";
        if (f["events"] < 95) w << "events " << f["events"] << "; ";
        // Waking on the connection, not on the time-out: a unit is 11.6 ms.
        if (f["mean_latency_ms"] > 3.0 || f["max_latency_ms"] > 11.6)
            w << "latency mean " << f["mean_latency_ms"] << " max " << f["max_latency_ms"] << "; ";
        if (f["cpu_percent"] * 5 > busy["cpu_percent"])
            w << "cpu " << f["cpu_percent"] << "% against busy " << busy["cpu_percent"] << "%; ";
        // A pass per unit and the few wakes the server's requests cause, not a spin.
        if (f["passes_per_s"] > 2000) w << f["passes_per_s"] << " passes a second; ";
        why = w.str();
        if (why.empty()) break;
        printf("attempt %d: %s\n", attempt + 1, why.c_str());
    }
    EXPECT_EQ(why, "");
}

// Through the server, room comes in its periods, not in units: the idle
// loop should wake about once a unit, 86 times a second, not again between
// periods to find the same room. With the period of a unit asked for that
// is one pass a unit; were the period left to the server's plugin (113
// frames), about 1.2 passes a unit, 0.2 of them empty (the loop that waited
// for the missing frames' time made 2.5 and 1.5).
TEST_F(PulsePlayback, IdleLoopWakesAboutOnceAUnit) {
    std::string why;
    for (int attempt = 0; attempt < 3; attempt++) {
        auto f = probe("wait 2 0 0");
        if (f.count("passes_per_s") == 0) { why = "no result line"; continue; }
        std::ostringstream w;
        double units_per_s = f["expected"] / f["seconds"] / 256;
        if (f["lost_units"] != 0) w << "lost units " << f["lost_units"] << "; ";
        if (f["passes_per_s"] > units_per_s * 1.4)
            w << f["passes_per_s"] << " passes a second for " << units_per_s << " units; ";
        if (f["idle_per_s"] > units_per_s * 0.4) w << f["idle_per_s"] << " passes a second found nothing; ";
        why = w.str();
        if (why.empty()) break;
        printf("attempt %d: %s\n", attempt + 1, why.c_str());
    }
    EXPECT_EQ(why, "");
}

// Another client playing silence, which keeps the sink running: an idle
// null sink takes a second or more to pull from a new stream, which would
// hide a start that leaves the device to run dry.
class SinkKeeper {
public:
    SinkKeeper() {
        pid = fork();
        if (pid == 0) {
            execlp("pacat", "pacat", "--latency-msec=30", "--rate=22050", "--channels=2", "--format=s16le",
                   "--raw", "/dev/zero", static_cast<char*>(nullptr));
            _exit(127);
        }
        hosttest::sleepMs(500);
    }
    ~SinkKeeper() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    SinkKeeper(const SinkKeeper&) = delete;
    SinkKeeper& operator=(const SinkKeeper&) = delete;

private:
    pid_t pid = -1;
};

// For several --latency values: the buffer asked for, a period of a unit
// (half a unit in a buffer of two: the server's plugin wants three periods
// at least), and a start that does not run the stream dry, neither in the
// program's writes nor in the server's log. (Built before the device was
// started, the engine took about 30 ms while one unit of silence played:
// an underrun at nearly every start.)
TEST_F(PulsePlayback, BufferPeriodAndNoUnderrunAtStartForEachLatency) {
    struct Row { const char* ms; double buffer, period; };
    const Row rows[] = {{"", 1024, 256}, {"23", 512, 128}, {"100", 2304, 256}, {"371", 8192, 256}};
    SinkKeeper keeper;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("--latency ") + r.ms);
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizer build makes each unit several times slower; a buffer
        // of two units is meant for the real build, which checks it.
        if (std::string(r.ms) == "23") {
            printf("--latency 23 is checked in the normal build only\n");
            continue;
        }
#endif
        std::string why;
        for (int attempt = 0; attempt < 3; attempt++) {
            int before = serverUnderruns();
            auto f = probe(std::string("wait 1 0 1 ") + r.ms);
            if (f.count("period") == 0) { why = "no result line"; continue; }
            EXPECT_EQ(f["buffer"], r.buffer);
            EXPECT_EQ(f["period"], r.period);
            std::ostringstream w;
            if (f["startup_lost"] != 0 || f["lost_units"] != 0)
                w << "units lost " << f["startup_lost"] << " at start, " << f["lost_units"] << " after; ";
            if (int n = serverUnderruns() - before) w << n << " underruns in the server's log; ";
            why = w.str();
            if (why.empty()) break;
            printf("attempt %d: %s\n", attempt + 1, why.c_str());
        }
        EXPECT_EQ(why, "");
    }
}

// The start: the first unit within 100 ms of the window mapping, so a key
// pressed 150 ms after the map is recorded at about its own frame, 3307
// (the frames count from the first unit), not at frame 0 as while the sink
// kept the program waiting up to 2 s (tools/pulse-server.sh says why).
// frame0_ms is when the frames say frame 0 was made: the key's time less
// its frame's; the units run at most a buffer (46 ms) and a unit ahead.
TEST_F(PulsePlayback, AKeyPressedSoonAfterTheWindowMapsLandsAtItsFrame) {
    std::string why;
    for (int attempt = 0; attempt < 3; attempt++) {
        auto f = probe("150 " + shellQuote(std::string(QUORVANEL_BINARY_DIR) + "/quorvanel"),
                       shellQuote(std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-startprobe"));
        if (f.count("key_frame") == 0) { why = "no result line"; continue; }
        std::ostringstream w;
        if (f["first_unit_ms"] > 100) w << "first unit " << f["first_unit_ms"] << " ms after the map; ";
        if (f["key_frame"] <= 0 || f["frame0_ms"] > 100 || f["frame0_ms"] < -100)
            w << "the key sent " << f["key_ms"] << " ms after the map landed at frame " << f["key_frame"] << "; ";
        why = w.str();
        if (why.empty()) break;
        printf("attempt %d: %s\n", attempt + 1, why.c_str());
    }
    EXPECT_EQ(why, "");
}

TEST_F(PulsePlayback, ProgramStartsAndPlays) {
    LiveProgram prog("pulse.asoundrc");
    prog.start();
    ASSERT_TRUE(prog.waitStarted(5000)) << prog.err();
    std::string out = prog.out();
    EXPECT_EQ(out.rfind("  PLAYBACK\n  CAPTURE\nPCMopend\n", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.find(" periods\n") + 9), "0\n") << out;
    hosttest::sleepMs(1000);
    EXPECT_TRUE(prog.running()) << prog.err();
}

}  // namespace
