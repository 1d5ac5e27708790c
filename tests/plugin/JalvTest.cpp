// The plugin in jalv under a JACK server with the dummy backend (no sound
// card): this test is a JACK client that sends the MIDI and records jalv's
// output into a WAV file, which must sound at the pitch of a 1/1 voice.
#include <gtest/gtest.h>

#include "plugin/Pitch.h"
#include "plugin/Spawn.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string kBuild = QUORVANEL_BINARY_DIR;
constexpr double kRate = 48000;
constexpr size_t kTake = 3 * 48000;  // frames recorded after the MIDI went out

struct Recorder {
    jack_port_t* midi = nullptr;
    jack_port_t* in[2] = {};
    std::atomic<bool> go{false};
    bool sent = false;
    std::vector<float> take[2];
    std::atomic<size_t> filled{0};

    static int process(jack_nframes_t n, void* arg) {
        Recorder* r = static_cast<Recorder*>(arg);
        void* out = jack_port_get_buffer(r->midi, n);
        jack_midi_clear_buffer(out);
        if (!r->go) return 0;
        if (!r->sent) {
            // The mod wheel: axis 0 = 100, which sounds voice 0 (1/1).
            const jack_midi_data_t wheel[3] = {0xb0, 0x01, 100};
            jack_midi_event_write(out, 0, wheel, 3);
            r->sent = true;
            return 0;
        }
        size_t f = r->filled;
        for (int c = 0; c < 2; c++) {
            const float* s = static_cast<const float*>(jack_port_get_buffer(r->in[c], n));
            for (jack_nframes_t k = 0; k < n && f + k < kTake; k++) r->take[c][f + k] = s[k];
        }
        r->filled = f + n < kTake ? f + n : kTake;
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

TEST(Jalv, PlaysMidiFromAJackClientAtThePitchOfItsRatios) {
    std::string jackd = hosts::which("jackd"), jalv = hosts::which("jalv");
    if (jackd.empty() || jalv.empty()) GTEST_SKIP() << "jackd or jalv is not installed (tools/setup.sh installs them)";
    const std::string server = "quorvanel-test-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    hosts::Child jack, host;
    ASSERT_TRUE(jack.start({jackd, "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"}, {}, kBuild + "/jalv-jackd.log"));

    jack_client_t* client = nullptr;
    for (int k = 0; k < 250 && !client; k++) {
        jack_status_t status;
        client = jack_client_open("quorvanel-test", JackNoStartServer, &status);
        if (!client) usleep(40000);
    }
    ASSERT_NE(client, nullptr) << jack.output();
    ASSERT_EQ(jack_get_sample_rate(client), kRate);

    ASSERT_TRUE(host.start({jalv, "-x", "-n", "qv", "urn:quorvanel:instrument"}, {"LV2_PATH=" + kBuild + "/lv2"},
                           kBuild + "/jalv.log"));
    Recorder r;
    for (int c = 0; c < 2; c++) r.take[c].assign(kTake, 0.0f);
    r.midi = jack_port_register(client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    r.in[0] = jack_port_register(client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    r.in[1] = jack_port_register(client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client, Recorder::process, &r);
    ASSERT_EQ(jack_activate(client), 0);
    bool up = false;
    for (int k = 0; k < 500 && !up; k++) {
        up = jack_port_by_name(client, "qv:midi_in") && jack_port_by_name(client, "qv:out_r");
        if (!up) usleep(20000);
    }
    ASSERT_TRUE(up) << host.output();
    // jalv's ports appear before it activates; connecting waits for that.
    const char* links[3][2] = {{"quorvanel-test:midi", "qv:midi_in"},
                               {"qv:out_l", "quorvanel-test:left"},
                               {"qv:out_r", "quorvanel-test:right"}};
    for (auto& link : links) {
        int rc = -1;
        for (int k = 0; k < 500 && rc != 0 && rc != EEXIST; k++) {
            rc = jack_connect(client, link[0], link[1]);
            if (rc != 0 && rc != EEXIST) usleep(20000);
        }
        ASSERT_TRUE(rc == 0 || rc == EEXIST) << link[0] << " -> " << link[1] << "\n" << host.output();
    }
    r.go = true;
    for (int k = 0; k < 1000 && r.filled < kTake; k++) usleep(10000);
    jack_deactivate(client);
    jack_client_close(client);
    host.stop();
    jack.stop();
    ASSERT_EQ(r.filled.load(), kTake) << host.output();
    ASSERT_TRUE(writeWav(kBuild + "/jalv-take.wav", r.take, static_cast<uint32_t>(kRate)));

    // The last two seconds: a 1/1 voice is 22050/32 Hz.
    std::vector<float> tail(r.take[0].begin() + 48000, r.take[0].end());
    double peak = 0;
    for (float v : tail) peak = std::max(peak, std::fabs(static_cast<double>(v)));
    EXPECT_GT(peak, 0.05);
    EXPECT_NEAR(hosts::crossingHz(tail, kRate), 22050.0 / 32, 0.05);
}

}  // namespace
