// The program as a JACK client (--jack) on a private JACK server with the
// dummy backend, 48000 frames a second in cycles of 256: its ports, the
// pitch of 1/1 in a capture of its output, MIDI from another client, the
// tuned notes beside the sound, a take that renders to the samples played,
// the one line when the server is absent or goes away, and a session
// manager's session. The test is the other clients: one sends MIDI to "midi
// in", one records "left" and "tuned out" with the server's frame times;
// and it is the session manager, on a UDP socket of its own.
#include "LiveProgram.h"

#if QUORVANEL_JACK

#include "SendEvents.h"
#include "plugin/Pitch.h"
#include "plugin/Spawn.h"
#include "standalone/grax.h"

#include <X11/keysym.h>
#if QUORVANEL_NSM
#include <lo/lo.h>
#endif

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>

namespace {

using hosttest::LiveProgram;
using hosttest::waitFor;

constexpr double kRate = 48000;

// The test's end of the graph: records "quorvanel:left" from the moment
// asked and the frame of the first note on of "quorvanel:tuned out"; sends one MIDI message
// to "quorvanel:midi in" when asked (another client's ports when named). Frames are the
// server's (jack_last_frame_time).
class Peer {
public:
    static constexpr size_t kTake = 3 * 48000;
    std::vector<float> take = std::vector<float>(kTake);
    std::atomic<uint64_t> takeStart{0}, sentAt{0};
    std::atomic<size_t> filled{0};
    std::atomic<bool> recording{false}, sending{false};
    unsigned char message[3] = {};
    std::atomic<uint64_t> noteOn{0};

    bool open() {
        rec = jack_client_open("qv-rec", JackNoStartServer, nullptr);
        send = jack_client_open("qv-send", JackNoStartServer, nullptr);
        if (!rec || !send) return false;
        left = jack_port_register(rec, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        notes = jack_port_register(rec, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out = jack_port_register(send, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(rec, record, this);
        jack_set_process_callback(send, sendOne, this);
        return jack_activate(rec) == 0 && jack_activate(send) == 0;
    }
    // Connects to the program once its ports are there.
    bool connect(const std::string& client = "quorvanel") {
        return waitFor([&] { return jack_port_by_name(rec, (client + ":tuned out").c_str()) != nullptr; }, 10000) &&
               jack_connect(rec, (client + ":left").c_str(), "qv-rec:left") == 0 &&
               jack_connect(rec, (client + ":tuned out").c_str(), "qv-rec:notes") == 0 &&
               jack_connect(send, "qv-send:out", (client + ":midi in").c_str()) == 0;
    }
    ~Peer() {
        for (jack_client_t* c : {rec, send})
            if (c) jack_client_close(c);
    }
    void sendMidi(unsigned char a, unsigned char b, unsigned char c) {
        message[0] = a, message[1] = b, message[2] = c;
        sending = true;
    }
    // The first frame of the take louder than `above`; SIZE_MAX for none.
    size_t firstAbove(double above) const {
        for (size_t t = 0; t < filled; t++)
            if (std::fabs(take[t]) > above) return t;
        return SIZE_MAX;
    }

private:
    jack_client_t *rec = nullptr, *send = nullptr;
    jack_port_t *left = nullptr, *notes = nullptr, *out = nullptr;

    static int record(jack_nframes_t n, void* arg) {
        Peer* p = static_cast<Peer*>(arg);
        uint64_t now = jack_last_frame_time(p->rec);
        void* in = jack_port_get_buffer(p->notes, n);
        jack_midi_event_t e;
        for (uint32_t k = 0; jack_midi_event_get(&e, in, k) == 0; k++)
            if (!p->noteOn && e.size == 3 && (e.buffer[0] & 0xf0) == 0x90 && e.buffer[2] > 0) p->noteOn = now + e.time;
        if (!p->recording) return 0;
        const float* s = static_cast<const float*>(jack_port_get_buffer(p->left, n));
        size_t f = p->filled;
        if (f == 0) p->takeStart = now;
        for (jack_nframes_t k = 0; k < n && f < kTake; k++) p->take[f++] = s[k];
        p->filled = f;
        return 0;
    }
    static int sendOne(jack_nframes_t n, void* arg) {
        Peer* p = static_cast<Peer*>(arg);
        void* buffer = jack_port_get_buffer(p->out, n);
        jack_midi_clear_buffer(buffer);
        if (p->sending.exchange(false)) {
            jack_midi_event_write(buffer, 0, p->message, 3);
            p->sentAt = jack_last_frame_time(p->send);
        }
        return 0;
    }
};

class JackProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        jackd = hosts::which("jackd");
        if (jackd.empty()) return;
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        // libjack's lines while the server starts and stops are no finding.
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        startServer();
    }
    static void TearDownTestSuite() { server.stop(); }
    void SetUp() override {
        if (jackd.empty()) GTEST_SKIP() << "jackd is not installed (tools/setup.sh test installs it)";
    }

    static void startServer() {
        server.start({jackd, "--no-realtime", "-n", name, "-d", "dummy", "-r", "48000", "-p", "256"}, {},
                     std::string(QUORVANEL_BINARY_DIR) + "/jack-program-jackd.log");
        waitFor([] {
            jack_client_t* c = jack_client_open("qv-probe", JackNoStartServer, nullptr);
            if (c) jack_client_close(c);
            return c != nullptr;
        }, 10000);
    }

    // The latency the program said it reports: "... N frames of latency".
    static long saidLatency(const LiveProgram& p) {
        std::string err = p.err();
        size_t at = err.find(" frames of latency");
        if (at == std::string::npos) return -1;
        size_t from = err.rfind(' ', at - 1);
        return std::atol(err.c_str() + from + 1);
    }

    static bool started(LiveProgram& p) {
        return waitFor([&] { return saidLatency(p) > 0 || !p.running(); }, 10000) && saidLatency(p) > 0;
    }

    static std::string name;
    static std::string jackd;
    static hosts::Child server;
};

std::string JackProgram::name = "quorvanel-jack-" + std::to_string(getpid());
std::string JackProgram::jackd;
hosts::Child JackProgram::server;

// The four ports with their types and directions, the outputs on the first
// two playback ports unless --no-connect, and the latency said on standard
// error is the outputs' capture latency.
TEST_F(JackProgram, ShowsItsPortsConnectedAsAsked) {
    struct Row {
        std::vector<std::string> args;
        bool connected;
    };
    for (const Row& r : {Row{{"--jack"}, true}, Row{{"--jack", "--no-connect"}, false}}) {
        SCOPED_TRACE(r.args.back());
        LiveProgram prog("");
        prog.start("", r.args);
        ASSERT_TRUE(started(prog)) << prog.err();
        jack_client_t* c = jack_client_open("qv-look", JackNoStartServer, nullptr);
        ASSERT_NE(c, nullptr);
        const char** ports = jack_get_ports(c, "^quorvanel:", nullptr, 0);
        std::vector<std::string> seen;
        for (int k = 0; ports && ports[k]; k++) {
            jack_port_t* p = jack_port_by_name(c, ports[k]);
            seen.push_back(std::string(ports[k]) + " " + jack_port_type(p) +
                           (jack_port_flags(p) & JackPortIsOutput ? " out" : " in"));
        }
        if (ports) jack_free(ports);
        EXPECT_EQ(seen, (std::vector<std::string>{"quorvanel:left 32 bit float mono audio out",
                                                  "quorvanel:right 32 bit float mono audio out",
                                                  "quorvanel:midi in 8 bit raw midi in",
                                                  "quorvanel:tuned out 8 bit raw midi out"}));
        for (const char* out : {"quorvanel:left", "quorvanel:right"}) {
            jack_port_t* p = jack_port_by_name(c, out);
            EXPECT_EQ(jack_port_connected_to(p, out[10] == 'l' ? "system:playback_1" : "system:playback_2") != 0,
                      r.connected) << out;
            jack_latency_range_t range;
            jack_port_get_latency_range(p, JackCaptureLatency, &range);
            EXPECT_EQ(range.max, static_cast<jack_nframes_t>(saidLatency(prog))) << out;
        }
        jack_client_close(c);
        prog.stop();
    }
}

// A script pushes voice 0, 1/1, and holds it: a second of the left output,
// from half a second after it sounds, peaks at the pitch of 1/1.
TEST_F(JackProgram, SoundsOneOneAtThePitchAsked) {
    struct Row {
        const char* pitch;
        double hz;
    };
    for (const Row& r : {Row{"689.0625", 689.0625}, Row{"440", 440}, Row{"261.63", 261.63}}) {
        SCOPED_TRACE(r.pitch);
        std::string why;
        for (int attempt = 0; attempt < 3; attempt++) {
            LiveProgram prog("");
            std::ofstream(prog.home + "/hold.txt") << "0 report 100 0 0 0 0 0 0 0\n";
            Peer peer;
            ASSERT_TRUE(peer.open());
            prog.start("", {"--jack", "--no-connect", "--pitch", r.pitch, "--play", prog.home + "/hold.txt"});
            ASSERT_TRUE(started(prog) && peer.connect()) << prog.err();
            hosttest::sleepMs(500);
            peer.recording = true;
            ASSERT_TRUE(waitFor([&] { return peer.filled == Peer::kTake; }, 10000));
            std::string err = prog.err();
            prog.stop();
            if (err.find("underrun") != std::string::npos) {  // a loaded machine: the take has a gap
                why = err;
                continue;
            }
            size_t from = peer.firstAbove(0.05);
            ASSERT_LT(from, Peer::kTake / 3) << "no sound";
            std::vector<float> second(peer.take.begin() + from + 24000, peer.take.begin() + from + 72000);
            double hz = hosts::peakHz(second, kRate, r.hz * 0.97, r.hz * 1.03);
            EXPECT_NEAR(1200 * std::log2(hz / r.hz), 0, 0.1) << hz << " Hz";
            why.clear();
            break;
        }
        EXPECT_EQ(why, "");
    }
}

// A mod wheel from another client sounds voice 0 one latency after it was
// sent (less at most a unit, its unit's start), the note on of "tuned out"
// leaves with the sound, and the take records the message. At --pitch 1500
// the engine runs at the server's rate and nothing is converted: the take
// renders to exactly the samples played from the first that sounds.
TEST_F(JackProgram, MidiFromAClientSoundsWithItsNoteAndTheTakeRendersToIt) {
    struct Row {
        const char* pitch;
        long unit;  // host frames
    };
    for (const Row& r : {Row{"689.0625", 557}, Row{"1500", 256}}) {
        SCOPED_TRACE(r.pitch);
        LiveProgram prog("");
        Peer peer;
        ASSERT_TRUE(peer.open());
        std::string take = prog.home + "/take.txt", wav = prog.home + "/take.wav";
        prog.start("", {"--jack", "--no-connect", "--pitch", r.pitch, "--record", take});
        ASSERT_TRUE(started(prog) && peer.connect()) << prog.err();
        peer.recording = true;
        ASSERT_TRUE(waitFor([&] { return peer.filled > 4800; }, 5000));
        peer.sendMidi(0xb0, 0x01, 100);
        ASSERT_TRUE(waitFor([&] { return peer.filled == Peer::kTake; }, 10000));
        kill(prog.pid, SIGTERM);
        ASSERT_TRUE(prog.waitExit(5000));
        EXPECT_EQ(prog.exitCode(), 0);
        ASSERT_EQ(prog.err().find("underrun"), std::string::npos) << prog.err();
        size_t onset = peer.firstAbove(1e-3);
        ASSERT_NE(onset, SIZE_MAX) << "no sound";
        ASSERT_NE(peer.noteOn, 0u) << "no note on on tuned out";
        // The note leaves at its unit's start, and the sound with it (its
        // first samples, rising from 0, a little later).
        long long note = static_cast<long long>(peer.noteOn), sent = static_cast<long long>(peer.sentAt);
        EXPECT_LE(note - sent, saidLatency(prog));
        EXPECT_GE(note - sent, saidLatency(prog) - r.unit);
        EXPECT_NEAR(static_cast<double>(peer.takeStart + onset), static_cast<double>(note), 64);
        EXPECT_NE(hosttest::slurp(take).find(" midi b0 01 64\n"), std::string::npos);
        if (r.unit != 256) continue;
        std::string cmd = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-render --pitch 1500 -n 12 " + take + " " + wav;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        std::string bytes = hosttest::slurp(wav);
        size_t rendered = 44, played = peer.firstAbove(0), same = 0;
        auto left = [&](size_t at) { return static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | bytes[at + 1] << 8); };
        while (rendered + 4 <= bytes.size() && left(rendered) == 0) rendered += 4;
        while (played + same < peer.filled && rendered + 4 * same + 4 <= bytes.size() &&
               std::lrint(peer.take[played + same] * 32768) == left(rendered + 4 * same))
            same++;
        EXPECT_EQ(played + same, static_cast<size_t>(peer.filled)) << "the samples part after " << same;
    }
}

// No server: one line and status 1. A server that stops under it: one line
// and status 1 too, at once.
TEST_F(JackProgram, AServerAbsentOrStoppingEndsWithOneLine) {
    {
        LiveProgram prog("");
        setenv("JACK_DEFAULT_SERVER", "quorvanel-no-such-server", 1);
        prog.start("", {"--jack"});
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ASSERT_TRUE(prog.waitExit(5000));
        EXPECT_EQ(prog.exitCode(), 1);
        EXPECT_EQ(prog.err(), "quorvanel: cannot connect to a JACK server (is one running?)\n");
    }
    LiveProgram prog("");
    prog.start("", {"--jack"});
    ASSERT_TRUE(started(prog)) << prog.err();
    server.stop();
    EXPECT_TRUE(prog.waitExit(3000));
    EXPECT_EQ(prog.exitCode(), 1);
    std::string err = prog.err();
    EXPECT_EQ(err.substr(err.find('\n') + 1).rfind("quorvanel: the JACK server stopped: ", 0), 0u) << err;
    startServer();
}

#if QUORVANEL_NSM

// The session manager's side: every message the program sends, as one line
// "PATH ARG ARG ...", and the address its answers come from.
class SessionServer {
public:
    SessionServer() {
        server = lo_server_new(nullptr, nullptr);
        lo_server_add_method(server, nullptr, nullptr, take, this);
    }
    ~SessionServer() {
        if (program) lo_address_free(program);
        lo_server_free(server);
    }
    std::string url() const {
        char* u = lo_server_get_url(server);
        std::string s = u;
        std::free(u);
        return s;
    }
    // The next message within `ms`, or "".
    std::string next(int ms) {
        waitFor([&] { return lo_server_recv_noblock(server, 0) > 0 || !heard.empty(); }, ms);
        if (heard.empty()) return "";
        std::string m = heard.front();
        heard.erase(heard.begin());
        return m;
    }
    void send(const std::string& path, const std::vector<std::string>& args) {
        lo_message m = lo_message_new();
        for (const std::string& a : args) lo_message_add_string(m, a.c_str());
        lo_send_message_from(program, server, path.c_str(), m);
        lo_message_free(m);
    }

private:
    static int take(const char* path, const char* types, lo_arg** argv, int argc, lo_message m, void* self) {
        SessionServer* s = static_cast<SessionServer*>(self);
        std::string line = path;
        for (int k = 0; k < argc; k++) {  // liblo's arguments need not be aligned as its union is
            int32_t i = 0;
            if (types[k] == 'i') std::memcpy(&i, argv[k], sizeof i);
            line += " " + (types[k] == 's' ? std::string(reinterpret_cast<const char*>(argv[k])) : std::to_string(i));
        }
        s->heard.push_back(line);
        if (!s->program) s->program = lo_address_new_from_url(lo_address_get_url(lo_message_get_source(m)));
        return 0;
    }
    lo_server server = nullptr;
    lo_address program = nullptr;
    std::vector<std::string> heard;
};

// The exchange with a session manager, message by message: the announce,
// the open of a session that keeps a patch (loaded; the JACK client named
// by the client id), a key that makes the instrument dirty, a save that
// leaves a patch the renderer's check accepts and the whole instrument (a
// second bank played too), a switch to another session and back, which
// restores every bank as saved, and SIGTERM, which ends the program with
// status 0. Keys are on: a note played from another client edits nothing.
TEST_F(JackProgram, TakesPartInASession) {
    LiveProgram prog("");
    SessionServer nsm;
    const std::string a = prog.home + "/quorvanel.nA", b = prog.home + "/quorvanel.nB";
    std::ofstream(a + ".texte") << hosttest::slurp(std::string(QUORVANEL_SOURCE_DIR) + "/patches/justchord.texte");
    setenv("NSM_URL", nsm.url().c_str(), 1);
    prog.start("", {"--keys"});
    unsetenv("NSM_URL");
    Peer peer;
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    auto hasPorts = [](const char* client) {
        jack_client_t* c = jack_client_open("qv-look", JackNoStartServer, nullptr);
        const char** ports = jack_get_ports(c, (std::string("^") + client + ":").c_str(), nullptr, 0);
        int n = 0;
        while (ports && ports[n]) n++;
        if (ports) jack_free(ports);
        jack_client_close(c);
        return n == 4;
    };
    std::string kept;  // the whole instrument as the first save wrote it
    struct Step {
        std::string send;  // a message to send, "key" for a key to the window, "" for nothing
        std::vector<std::string> args;
        KeySym key;        // the key a "key" step presses
        std::string answer;  // the beginning of the program's next message, "" for none
        std::function<void()> then;
    };
    const Step steps[] = {
        {"", {}, 0, "/nsm/server/announce quorvanel :switch:dirty: " + std::string(QUORVANEL_BINARY_DIR) + "/quorvanel 1 1 ",
         nullptr},
        {"/reply", {"/nsm/server/announce", "welcome", "test", ":server-control:"}, 0, "", nullptr},
        {"/nsm/client/open", {a, "A", "nA"}, 0, "/reply /nsm/client/open opened",
         [&] {
             EXPECT_TRUE(hasPorts("nA"));
             EXPECT_NE(prog.out().find("inputfile " + a + ".texte\n"), std::string::npos) << prog.out();
             ASSERT_TRUE(peer.open() && peer.connect("nA"));
         }},
        // A key's note, not the key command its number is without keys: the
        // session stays clean until Return adds a situation.
        {"note", {}, 0, "", nullptr},
        {"key", {}, XK_Return, "/nsm/client/is_dirty", nullptr},
        {"key", {}, XK_2, "", nullptr},
        {"key", {}, XK_Return, "", nullptr},
        {"/nsm/client/save", {}, 0, "/reply /nsm/client/save saved",
         [&] {
             std::string check = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-render --check " + a + ".texte";
             EXPECT_EQ(std::system(check.c_str()), 0);
             kept = hosttest::slurp(a + ".instrument");
             EXPECT_NE(kept.find("\nplay 2 1\n"), std::string::npos) << kept;
         }},
        {"/nsm/client/open", {b, "B", "nB"}, 0, "/reply /nsm/client/open switched",
         [&] { EXPECT_TRUE(hasPorts("nB") && !hasPorts("nA")); }},
        {"key", {}, XK_3, "/nsm/client/is_dirty", nullptr},
        {"key", {}, XK_Return, "", nullptr},
        {"/nsm/client/open", {a, "A", "nA"}, 0, "/reply /nsm/client/open switched", nullptr},
        {"/nsm/client/save", {}, 0, "/reply /nsm/client/save saved",
         [&] { EXPECT_EQ(hosttest::slurp(a + ".instrument"), kept); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.send + " " + step.answer);
        if (step.send == "key") hosttest::sendKey(d, hosttest::findWindow(d, dis ? win : 0, 5000), step.key, 0);
        else if (step.send == "note") peer.sendMidi(0x90, 60, 100);
        else if (!step.send.empty()) nsm.send(step.send, step.args);
        XFlush(d);
        std::string heard = nsm.next(step.answer.empty() ? 300 : 10000);
        EXPECT_EQ(heard.substr(0, step.answer.size()), step.answer) << prog.err();
        if (step.then) step.then();
    }
    kill(prog.pid, SIGTERM);
    EXPECT_TRUE(prog.waitExit(2000));
    EXPECT_EQ(prog.exitCode(), 0) << prog.err();
    XCloseDisplay(d);
}

#endif

}  // namespace

#endif
