#include "standalone/jack.h"

#include <cstdio>

#if QUORVANEL_JACK

#include "engine/InputGate.h"
#include "engine/MidiMap.h"
#include "engine/Samples.h"
#include "hostkit/RateConverter.h"
#include "standalone/FrameMap.h"
#include "standalone/grax.h"
#include "standalone/nsm.h"
#include "standalone/pcm.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr uint64_t kNever = ~0ull;
constexpr size_t kFrameBytes = 2 * sizeof(float);  // one interleaved stereo frame in the ring
constexpr size_t kMidiRoom = 4096;                 // MIDI messages waiting for their unit
constexpr size_t kTunedRoom = 4096;                // tuned messages waiting for their frame
constexpr long kSafetyUs = 500000;                 // the longest wait, should a wake never come
constexpr long long kDrainMostMs = 1000;           // jack_close waits at most this for the ring

// A MIDI message from "midi in", with the host frame it came at.
struct MidiIn {
    uint64_t frame;
    uint8_t length;
    uint8_t bytes[3];
};

// A tuned message for "tuned out", with the host frame its unit's sound
// leaves at.
struct TunedMessage {
    uint64_t frame;
    uint8_t length;
    uint8_t bytes[TunedNotes::kMostBytes];
};

jack_client_t* client = nullptr;
jack_port_t* outs[2] = {};
jack_port_t* midiPort = nullptr;
jack_port_t* tunedPort = nullptr;
jack_ringbuffer_t* audio = nullptr;
jack_ringbuffer_t* midiRing = nullptr;
jack_ringbuffer_t* tunedRing = nullptr;
int wakeFd = -1;
FrameMap frameMap;
RateConverter* converter = nullptr;
std::vector<float> converted;  // one unit's converted frames, interleaved
double pitchHz = 0;
int unitsLate = 0;
int wakeUnits = 1;             // units a wake is asked for: half the units the loop may be late by
long long lastMidiUnit = 0;

// Written by the process callback, read by the main loop.
std::atomic<uint64_t> played{0};    // host frames of the cycles done: T of the next cycle
std::atomic<uint64_t> silence{0};   // D: frames of silence played for want of sound
std::atomic<uint64_t> wakeAt{kNever};
std::atomic<uint32_t> midiLost{0};
std::atomic<bool> gone{false};
std::atomic<bool> tunedJoined{false};
char goneWhy[256] = "";

// Lines already written about what the callback counted.
uint64_t silenceSaid = 0;
uint32_t midiLostSaid = 0;
long long lastLineMs = -1000000;

long long now_ms() { return monotonic_ns() / 1000000; }

void wake() {
    uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {}  // a full counter is awake already
}

// --- The process callback: allocates, locks and prints nothing ---------

void takeMidi(jack_nframes_t n, uint64_t t) {
    void* in = jack_port_get_buffer(midiPort, n);
    uint32_t count = jack_midi_get_event_count(in);
    for (uint32_t k = 0; k < count; k++) {
        jack_midi_event_t e;
        // Longer messages (system exclusive) are not the map's.
        if (jack_midi_event_get(&e, in, k) != 0 || e.size < 1 || e.size > 3) continue;
        MidiIn m{t + e.time, static_cast<uint8_t>(e.size), {}};
        std::memcpy(m.bytes, e.buffer, e.size);
        if (jack_ringbuffer_write_space(midiRing) < sizeof m) {
            midiLost.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        jack_ringbuffer_write(midiRing, reinterpret_cast<const char*>(&m), sizeof m);
    }
}

void playOut(jack_nframes_t n) {
    float* left = static_cast<float*>(jack_port_get_buffer(outs[0], n));
    float* right = static_cast<float*>(jack_port_get_buffer(outs[1], n));
    size_t have = jack_ringbuffer_read_space(audio) / kFrameBytes;
    size_t take = have < n ? have : n;
    jack_ringbuffer_data_t part[2];
    jack_ringbuffer_get_read_vector(audio, part);
    size_t at = 0;
    // The ring's size is a power of two, so its two parts hold whole frames.
    for (int p = 0; p < 2 && at < take; p++) {
        const float* f = reinterpret_cast<const float*>(part[p].buf);
        size_t frames = part[p].len / kFrameBytes;
        for (size_t k = 0; k < frames && at < take; k++, at++) {
            left[at] = f[2 * k];
            right[at] = f[2 * k + 1];
        }
    }
    jack_ringbuffer_read_advance(audio, take * kFrameBytes);
    if (take < n) {
        std::memset(left + take, 0, (n - take) * sizeof(float));
        std::memset(right + take, 0, (n - take) * sizeof(float));
        silence.fetch_add(n - take, std::memory_order_relaxed);
    }
}

// Every tuned message due before the cycle's end, at its frame within the
// cycle (0 for one kept from an earlier cycle); a full port keeps the rest
// for the next.
void sendTuned(jack_nframes_t n, uint64_t t) {
    void* out = jack_port_get_buffer(tunedPort, n);
    jack_midi_clear_buffer(out);
    jack_nframes_t last = 0;
    TunedMessage m;
    while (jack_ringbuffer_peek(tunedRing, reinterpret_cast<char*>(&m), sizeof m) == sizeof m && m.frame < t + n) {
        jack_nframes_t at = m.frame > t ? static_cast<jack_nframes_t>(m.frame - t) : 0;
        if (at < last) at = last;
        if (jack_midi_event_write(out, at, m.bytes, m.length) != 0) break;
        last = at;
        jack_ringbuffer_read_advance(tunedRing, sizeof m);
    }
}

int process(jack_nframes_t n, void*) {
    uint64_t t = played.load(std::memory_order_relaxed);
    takeMidi(n, t);
    playOut(n);
    sendTuned(n, t);
    played.store(t + n);
    // The loop, about to sleep, stored the frame it waits for and then
    // looked at `played` again: one of the two sees the other's store.
    if (t + n >= wakeAt.load() && wakeAt.exchange(kNever) != kNever) wake();
    return 0;
}

// --- The server's other threads ----------------------------------------

// An input is heard L frames later: the outputs' capture latency is the
// input's plus L, the input's playback latency the outputs' plus L.
void reportLatency(jack_latency_callback_mode_t mode, void*) {
    jack_port_t* outputs[] = {outs[0], outs[1], tunedPort};
    jack_latency_range_t range;
    if (mode == JackCaptureLatency) {
        jack_port_get_latency_range(midiPort, JackCaptureLatency, &range);
        range.min += frameMap.latency();
        range.max += frameMap.latency();
        for (jack_port_t* p : outputs) jack_port_set_latency_range(p, JackCaptureLatency, &range);
        return;
    }
    jack_latency_range_t all = {~0u, 0};
    for (jack_port_t* p : outputs) {
        jack_port_get_latency_range(p, JackPlaybackLatency, &range);
        if (range.min < all.min) all.min = range.min;
        if (range.max > all.max) all.max = range.max;
    }
    all.min += frameMap.latency();
    all.max += frameMap.latency();
    jack_port_set_latency_range(midiPort, JackPlaybackLatency, &all);
}

void serverGone(jack_status_t, const char* reason, void*) {
    std::snprintf(goneWhy, sizeof goneWhy, "%s", reason && *reason ? reason : "no reason given");
    gone.store(true);
    wake();
}

// A synth connected to "tuned out" has heard nothing yet: the loop sends it
// the set-up and the sounding notes again.
void connected(jack_port_id_t a, jack_port_id_t b, int connect, void*) {
    if (!connect || !client || !tunedPort) return;
    if (jack_port_by_id(client, a) == tunedPort || jack_port_by_id(client, b) == tunedPort) tunedJoined.store(true);
}

void quiet(const char*) {}

// --- The main loop's side ----------------------------------------------

class JackTunedOut final : public TunedOut {
private:
    void send(const TunedNotes::Message& m) override {
        if (!tunedRing || m.length < 1 || m.length > TunedNotes::kMostBytes) return;
        TunedMessage out{frameMap.hostFrameOf(m.frame, silence.load()), static_cast<uint8_t>(m.length), {}};
        std::memcpy(out.bytes, m.bytes, static_cast<size_t>(m.length));
        if (jack_ringbuffer_write_space(tunedRing) >= sizeof out)
            jack_ringbuffer_write(tunedRing, reinterpret_cast<const char*>(&out), sizeof out);
        // else dropped: the next unit brings the notes up to date
    }
};

JackTunedOut tuned;

// A unit's converted frames, and some.
size_t unitRoomFrames() { return static_cast<size_t>(std::ceil(FrameMap::kUnit * frameMap.ratio())) + 8; }

void toRing(const float* frames, size_t count) {
    jack_ringbuffer_write(audio, reinterpret_cast<const char*>(frames), count * kFrameBytes);
}

// `count` frames of silence.
void silenceFor(size_t count) {
    while (count > 0) {
        jack_ringbuffer_data_t part[2];
        jack_ringbuffer_get_write_vector(audio, part);
        size_t frames = part[0].len / kFrameBytes < count ? part[0].len / kFrameBytes : count;
        if (frames == 0) return;  // never: the ring is made with room for it
        std::memset(part[0].buf, 0, frames * kFrameBytes);
        jack_ringbuffer_write_advance(audio, frames * kFrameBytes);
        count -= frames;
    }
}

// The sink pcm_fill writes to: a unit goes through the converter into the
// ring. Nothing here fails; the ring always has room for a unit (jack_room).
// A silent unit the converter has nothing left to sound from passes in
// closed form (skipZeros): an idle instrument converts nothing.
long ringWrite(const unsigned char* unit, unsigned long count) {
    float in[2 * FrameMap::kUnit];
    bool silent = true;
    for (unsigned long f = 0; f < 2 * count; f++) {
        in[f] = pcm_sample_float(unit + 2 * f);
        silent = silent && in[f] == 0;
    }
    if (!frameMap.converting()) {
        toRing(in, count);
        return static_cast<long>(count);
    }
    bool skip = silent && converter->settled();
    uint32_t at = 0, left = static_cast<uint32_t>(count), room = static_cast<uint32_t>(converted.size() / 2);
    while (left > 0) {
        uint32_t used = 0, made = 0;
        if (skip) converter->skipZeros(left, converted.data(), room, used, made);
        else if (!converter->process(in + 2 * at, left, converted.data(), room, used, made)) break;
        toRing(converted.data(), made);
        at += used;
        left -= used;
    }
    return static_cast<long>(count);
}

// Engine frames that may be made now: whole units whose inputs are all
// known, while the ring has room for one.
long jack_room() {
    if (jack_ringbuffer_write_space(audio) / kFrameBytes < unitRoomFrames()) return 0;
    long long ahead = frameMap.unitsKnown(played.load(), silence.load()) - host_input.frame() / FrameMap::kUnit;
    return ahead > 0 ? static_cast<long>(ahead * FrameMap::kUnit) : 0;
}

void noRecover() {}

const PcmSink ringSink = {ringWrite, jack_room, noRecover};

// What the callback counted, at most a line a second.
void reportLosses() {
    uint64_t s = silence.load(std::memory_order_relaxed);
    uint32_t m = midiLost.load(std::memory_order_relaxed);
    if (s == silenceSaid && m == midiLostSaid) return;
    long long now = now_ms();
    if (now - lastLineMs < 1000) return;
    if (s != silenceSaid)
        std::fprintf(stderr, "quorvanel: audio underrun, %llu frames of silence played\n",
                     static_cast<unsigned long long>(s - silenceSaid));
    if (m != midiLostSaid) std::fprintf(stderr, "quorvanel: MIDI input overran, %u events lost\n", m - midiLostSaid);
    silenceSaid = s;
    midiLostSaid = m;
    lastLineMs = now;
}

void connectAudio() {
    const char** physical = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (!physical || !physical[0]) {
        std::fprintf(stderr, "quorvanel: no physical playback ports to connect \"left\" and \"right\" to\n");
    } else {
        // A single playback port takes both.
        for (int c = 0; c < 2; c++) {
            const char* to = physical[c == 1 && physical[1] ? 1 : 0];
            if (jack_connect(client, jack_port_name(outs[c]), to) != 0)
                std::fprintf(stderr, "quorvanel: cannot connect %s to %s\n", jack_port_name(outs[c]), to);
        }
    }
    if (physical) jack_free(physical);
}

// A MIDI source named in full, or else the first MIDI output port whose
// name holds `part`.
void connectMidi(const char* part) {
    const char** sources = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    const char* found = nullptr;
    for (int k = 0; sources && sources[k] && !found; k++)
        if (!std::strcmp(sources[k], part)) found = sources[k];
    for (int k = 0; sources && sources[k] && !found; k++)
        if (std::strstr(sources[k], part)) found = sources[k];
    if (!found)
        std::fprintf(stderr, "quorvanel: MIDI source \"%s\" not found; connect one to %s with jack_connect or a patchbay\n",
                     part, jack_port_name(midiPort));
    else if (jack_connect(client, found, jack_port_name(midiPort)) != 0)
        std::fprintf(stderr, "quorvanel: cannot connect MIDI source %s\n", found);
    if (sources) jack_free(sources);
}

void freeAll() {
    for (jack_ringbuffer_t** r : {&audio, &midiRing, &tunedRing}) {
        if (*r) jack_ringbuffer_free(*r);
        *r = nullptr;
    }
    delete converter;
    converter = nullptr;
    if (wakeFd >= 0) close(wakeFd);
    wakeFd = -1;
    delete[] data;
    data = nullptr;
    outs[0] = outs[1] = midiPort = tunedPort = nullptr;
}

}  // namespace

bool open_jack(const char* name, bool exact, double pitch, int bufferUnits) {
    // libjack's own lines (a socket not found, ...) would bury ours.
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status;
    int options = JackNoStartServer | (exact ? JackUseExactName : 0);
    client = jack_client_open(name, static_cast<jack_options_t>(options), &status);
    if (!client) {
        if (status & JackNameNotUnique)
            std::fprintf(stderr, "quorvanel: the JACK server has a client \"%s\" already\n", name);
        else
            std::fprintf(stderr, "quorvanel: cannot connect to a JACK server (is one running?)\n");
        return false;
    }
    gone.store(false);
    played.store(0);
    silence.store(0);
    wakeAt.store(kNever);
    midiLost.store(0);
    tunedJoined.store(false);
    silenceSaid = 0;
    midiLostSaid = 0;
    pitchHz = pitch;
    unitsLate = bufferUnits;

    outs[0] = jack_port_register(client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    outs[1] = jack_port_register(client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    midiPort = jack_port_register(client, "midi in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    tunedPort = jack_port_register(client, "tuned out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!outs[0] || !outs[1] || !midiPort || !tunedPort || wakeFd < 0) {
        std::fprintf(stderr, "quorvanel: cannot make the JACK ports\n");
        jack_client_close(client);
        client = nullptr;
        freeAll();
        return false;
    }
    jack_set_process_callback(client, process, nullptr);
    jack_set_latency_callback(client, reportLatency, nullptr);
    jack_set_port_connect_callback(client, connected, nullptr);
    jack_on_info_shutdown(client, serverGone, nullptr);
    return true;
}

bool jack_active() { return client != nullptr; }

void jack_start(bool connect, const char* midiSource) {
    frameMap = FrameMap(jack_get_sample_rate(client), pitchHz, host_input.frame(), jack_get_buffer_size(client),
                        unitsLate);
    converter = new RateConverter();
    converter->restart(frameMap.ratio());
    wakeUnits = (unitsLate + 1) / 2 > 1 ? (unitsLate + 1) / 2 : 1;
    converted.assign(2 * unitRoomFrames(), 0.0f);
    data = new unsigned char[periodsize]();
    lastMidiUnit = host_input.frame() / FrameMap::kUnit;
    // Room for the latency, a unit's frames beyond it and a cycle or two.
    size_t frames = frameMap.latency() + unitRoomFrames() + 4 * jack_get_buffer_size(client) + 64;
    audio = jack_ringbuffer_create(frames * kFrameBytes);
    midiRing = jack_ringbuffer_create(kMidiRoom * sizeof(MidiIn));
    tunedRing = jack_ringbuffer_create(kTunedRoom * sizeof(TunedMessage));
    for (jack_ringbuffer_t* r : {audio, midiRing, tunedRing}) jack_ringbuffer_mlock(r);
    // The latency's silence, and the buffer's time again, counted as silence
    // played for want of sound: the first unit is wanted that much later,
    // which covers the connections, loading a patch and the first repaint,
    // as the ALSA device's buffer of silence does.
    uint64_t start = static_cast<uint64_t>(std::ceil(unitsLate * FrameMap::kUnit * frameMap.ratio()));
    silenceFor(frameMap.latency() + start);
    silence.store(start);
    silenceSaid = start;
    pcm_units_max = static_cast<int>(frameMap.latency() / (FrameMap::kUnit * frameMap.ratio())) + 2;
    if (jack_activate(client) != 0) {
        std::fprintf(stderr, "quorvanel: the JACK server would not start the client\n");
        gone.store(true);
        return;
    }
    if (connect) connectAudio();
    if (midiSource) connectMidi(midiSource);
}

void jack_before_unit() {
    if (!midiRing) return;
    long long unit = host_input.frame() / FrameMap::kUnit;
    MidiIn m;
    while (jack_ringbuffer_peek(midiRing, reinterpret_cast<char*>(&m), sizeof m) == sizeof m) {
        long long at = frameMap.unitsKnown(m.frame, silence.load());
        // Never before one already taken: after silence the same frames map
        // earlier.
        if (at < lastMidiUnit) at = lastMidiUnit;
        if (at > unit) break;
        lastMidiUnit = at;
        jack_ringbuffer_read_advance(midiRing, sizeof m);
        host_input.midi(m.bytes, m.length);
        // A key command edits the instrument, as a typed key does; with
        // keys on, notes play and edit nothing.
        if (MidiMap::whole(m.bytes, m.length) && MidiMap::of(m.bytes, host_input.keys() != nullptr).act == MidiMap::Act::Key)
            nsm_edited();
    }
}

int jack_runnus() {
    if (!client || gone.load()) return 0;
    uint64_t count;
    if (read(wakeFd, &count, sizeof count) < 0) {}  // nothing to read: no wake came
    if (tunedJoined.exchange(false)) {
        tuned.notes.restart(host_input.frame());
        tuned.flush();
    }
    int units = pcm_fill(jack_room(), ringSink);
    reportLosses();
    return units;
}

long jack_wait_us() {
    if (!client || gone.load()) return 0;
    if (jack_room() > 0) return 0;
    // A wake for more than one unit when the loop may be late by more: half
    // the wakes, each making two units, and so on.
    uint64_t at = frameMap.knownAt(host_input.frame() / FrameMap::kUnit + wakeUnits, silence.load());
    wakeAt.store(at);
    if (played.load() >= at && wakeAt.exchange(kNever) != kNever) return 0;
    return kSafetyUs;
}

int jack_pollfds(pollfd* fds, int room) {
    if (!client || room <= 0) return 0;
    fds[0] = {wakeFd, POLLIN, 0};
    return 1;
}

bool jack_lost() {
    if (!gone.load()) return false;
    static bool said = false;
    if (!said && goneWhy[0]) std::fprintf(stderr, "quorvanel: the JACK server stopped: %s\n", goneWhy);
    said = true;
    return true;
}

TunedOut& jack_tuned_out() { return tuned; }

const char* jack_name() { return client ? jack_get_client_name(client) : ""; }
uint32_t jack_latency() { return client ? frameMap.latency() : 0; }
uint32_t jack_rate() { return client ? jack_get_sample_rate(client) : 0; }

void jack_close() {
    if (!client) return;
    if (!gone.load() && audio) {
        // The notes end with the sound: both leave the rings before the end.
        tuned.notes.restart(host_input.frame());
        tuned.flush();
        long long until = now_ms() + kDrainMostMs;
        while (!gone.load() && now_ms() < until &&
               (jack_ringbuffer_read_space(audio) > 0 || jack_ringbuffer_read_space(tunedRing) > 0)) {
            timespec pause = {0, 2000000};
            nanosleep(&pause, nullptr);
        }
        jack_deactivate(client);
    }
    jack_client_close(client);
    client = nullptr;
    freeAll();
}

#else  // built without JACK support

#include "standalone/seq.h"

bool open_jack(const char*, bool, double, int) {
    std::fprintf(stderr, "quorvanel: built without JACK support\n");
    return false;
}
bool jack_active() { return false; }
void jack_start(bool, const char*) {}
int jack_runnus() { return 0; }
void jack_before_unit() {}
long jack_wait_us() { return 0; }
int jack_pollfds(pollfd*, int) { return 0; }
bool jack_lost() { return false; }
// Never used: open_jack fails first.
TunedOut& jack_tuned_out() { return seq_tuned_out(); }
const char* jack_name() { return ""; }
uint32_t jack_latency() { return 0; }
uint32_t jack_rate() { return 0; }
void jack_close() {}

#endif
