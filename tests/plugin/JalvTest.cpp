// The plugin in jalv under a JACK server with the dummy backend (no sound
// card): this test is a JACK client that sends the MIDI and records jalv's
// output into a WAV file, which must sound at the pitch of a 1/1 voice for
// the mod wheel, and for a note, as a new instance plays keys, at its
// key's ratio.
// On a loaded machine each step waits for what it needs (up to kPatience):
// the MIDI goes out again each cycle until the plugin sounds (jalv drops
// what comes before it runs the plugin), and the take is a stretch of
// cycles without an xrun (a cycle jalv did not finish in time leaves
// silence or an old block in the recording, which would move the pitch).
#include <gtest/gtest.h>

#include "plugin/Pitch.h"
#include "plugin/Spawn.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kBuild = QUORVANEL_BINARY_DIR;
constexpr double kRate = 48000;
constexpr size_t kSettle = 48000;    // frames from the first sound to the take
constexpr size_t kTake = 2 * 48000;  // frames recorded, no xrun among them
constexpr double kPatience = 60;     // seconds

// Tries `done` every 20 ms for up to kPatience; whether it held.
template <class Done>
bool patiently(Done done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct Recorder {
    jack_midi_data_t message[3] = {};  // sent until the plugin sounds
    jack_port_t* midi = nullptr;
    jack_port_t* in[2] = {};
    std::atomic<bool> go{false}, done{false};
    std::atomic<int> xruns{0}, restarts{0};
    bool heard = false;
    size_t settled = 0, filled = 0;
    int since = 0;     // the xruns counted when the take began
    int quiet = 0;     // cycles since the take was whole, for a late xrun report
    std::vector<float> take[2];

    static int xrun(void* arg) {
        static_cast<Recorder*>(arg)->xruns++;
        return 0;
    }

    static int process(jack_nframes_t n, void* arg) {
        Recorder* r = static_cast<Recorder*>(arg);
        void* out = jack_port_get_buffer(r->midi, n);
        jack_midi_clear_buffer(out);
        if (!r->go || r->done) return 0;
        const float* s[2];
        for (int c = 0; c < 2; c++) s[c] = static_cast<const float*>(jack_port_get_buffer(r->in[c], n));
        if (!r->heard) {
            jack_midi_event_write(out, 0, r->message, 3);
            for (jack_nframes_t k = 0; k < n; k++) r->heard = r->heard || s[0][k] != 0;
            return 0;
        }
        if (r->settled < kSettle) {
            r->settled += n;
            r->since = r->xruns;
            return 0;
        }
        if (r->xruns != r->since) {  // a glitch in the take: it begins again
            r->since = r->xruns;
            r->filled = 0;
            r->quiet = 0;
            r->restarts++;
        }
        if (r->filled < kTake) {
            for (int c = 0; c < 2; c++)
                for (jack_nframes_t k = 0; k < n && r->filled + k < kTake; k++) r->take[c][r->filled + k] = s[c][k];
            r->filled = r->filled + n < kTake ? r->filled + n : kTake;
        } else if (++r->quiet == 64) {
            r->done = true;
        }
        return 0;
    }
};

bool writeWav(const std::string& path, const std::vector<float>* take, uint32_t rate) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    uint32_t bytes = static_cast<uint32_t>(take[0].size() * 4);
    auto put32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto put16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    put32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(16);
    put16(1);
    put16(2);
    put32(rate);
    put32(rate * 4);
    put16(4);
    put16(16);
    std::fwrite("data", 1, 4, f);
    put32(bytes);
    for (size_t t = 0; t < take[0].size(); t++)
        for (int c = 0; c < 2; c++) put16(static_cast<uint16_t>(static_cast<int16_t>(std::lrint(take[c][t] * 32767))));
    return std::fclose(f) == 0;
}

// Plays `message` into jalv until it sounds, and takes what sounds then.
void playsAtItsPitch(const jack_midi_data_t (&message)[3], double hz, const std::string& jackd, const std::string& jalv) {
    const std::string server = "quorvanel-test-" + std::to_string(getpid()) + "-" + std::to_string(message[1]);
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    hosts::Child jack, host;
    ASSERT_TRUE(jack.start({jackd, "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"}, {}, kBuild + "/jalv-jackd.log"));

    jack_client_t* client = nullptr;
    patiently([&] {
        jack_status_t status;
        return (client = jack_client_open("quorvanel-test", JackNoStartServer, &status)) != nullptr;
    });
    ASSERT_NE(client, nullptr) << jack.output();
    ASSERT_EQ(jack_get_sample_rate(client), kRate);

    ASSERT_TRUE(host.start({jalv, "-x", "-n", "qv", "urn:quorvanel:instrument"}, {"LV2_PATH=" + kBuild + "/lv2"},
                           kBuild + "/jalv.log"));
    Recorder r;
    std::copy(message, message + 3, r.message);
    for (int c = 0; c < 2; c++) r.take[c].assign(kTake, 0.0f);
    r.midi = jack_port_register(client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    r.in[0] = jack_port_register(client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    r.in[1] = jack_port_register(client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client, Recorder::process, &r);
    jack_set_xrun_callback(client, Recorder::xrun, &r);
    ASSERT_EQ(jack_activate(client), 0);
    ASSERT_TRUE(patiently([&] { return jack_port_by_name(client, "qv:midi_in") && jack_port_by_name(client, "qv:out_r"); }))
        << host.output();
    // jalv's ports appear before it activates; connecting waits for that.
    const char* links[3][2] = {{"quorvanel-test:midi", "qv:midi_in"},
                               {"qv:out_l", "quorvanel-test:left"},
                               {"qv:out_r", "quorvanel-test:right"}};
    for (auto& link : links) {
        int rc = -1;
        patiently([&] { return (rc = jack_connect(client, link[0], link[1])) == 0 || rc == EEXIST; });
        ASSERT_TRUE(rc == 0 || rc == EEXIST) << link[0] << " -> " << link[1] << "\n" << host.output();
    }
    r.go = true;
    bool whole = patiently([&] { return r.done.load(); });
    jack_deactivate(client);
    jack_client_close(client);
    host.stop();
    jack.stop();
    ASSERT_TRUE(whole) << (r.heard ? "no take without an xrun" : "the plugin never sounded") << ", "
                       << r.restarts << " restarts\n" << host.output();
    ASSERT_TRUE(writeWav(kBuild + "/jalv-take-" + std::to_string(message[1]) + ".wav", r.take, static_cast<uint32_t>(kRate)));
    std::fprintf(stderr, "the take began again %d times after an xrun\n", r.restarts.load());

    // Two seconds from one after the first sound.
    double peak = 0;
    for (float v : r.take[0]) peak = std::max(peak, std::fabs(static_cast<double>(v)));
    EXPECT_GT(peak, 0.05);
    EXPECT_NEAR(hosts::crossingHz(r.take[0], kRate), hz, 0.05);
}

TEST(Jalv, PlaysMidiFromAJackClientAtThePitchOfItsRatios) {
    std::string jackd = hosts::which("jackd"), jalv = hosts::which("jalv");
    if (jackd.empty() || jalv.empty()) GTEST_SKIP() << "jackd or jalv is not installed (tools/setup.sh installs them)";
    // The mod wheel: axis 0 = 100, which sounds voice 0 (1/1), 22050/32 Hz;
    // note 64, 5/4 of it.
    const struct {
        jack_midi_data_t message[3];
        double hz;
    } cases[] = {{{0xb0, 0x01, 100}, 22050.0 / 32}, {{0x90, 64, 100}, 22050.0 / 32 * 5 / 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "MIDI " << std::hex << int(c.message[0]) << " " << int(c.message[1]));
        playsAtItsPitch(c.message, c.hz, jackd, jalv);
    }
}

}  // namespace
