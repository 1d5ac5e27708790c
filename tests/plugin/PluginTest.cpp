// The LV2 instrument in a small lilv host: at 22050 the renderer's samples
// over 32768, delayed by the reported latency; at other rates and pitches
// the same output for every way of cutting the blocks, with no input late;
// the pitch of a 1/1 voice at the pitch control; the state kept through
// save and restore; two instances side by side; nothing allocated in
// run(); random MIDI; the tuned notes on the MIDI output, in time with the
// delayed sound.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "plugin/Host.h"
#include "plugin/Pitch.h"
#include "plugin/Play.h"

#include <lv2/atom/forge.h>
#include <lv2/patch/patch.h>
#include <lv2/presets/presets.h>

#include "engine/InstrumentState.h"
#include "engine/LaceyBanks.h"
#include "engine/OfflineRenderer.h"
#include "plugin/Instrument.h"
#include "plugin/PictureView.h"
#include "engine/TunedNotes.h"
#include "plugin/WindowMessages.h"
#include "fuzz/BadMessages.h"
#include "plugin/ConverterQuality.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "plugin/Allocations.h"

// The allocation counter (Allocations.h): the C library's allocator,
// counting.
thread_local bool counting = false;
std::atomic<long> allocations{0};
#ifndef __SANITIZE_ADDRESS__
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* malloc(size_t n) {
    if (counting) allocations++;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    if (counting) allocations++;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    if (counting) allocations++;
    return __libc_realloc(p, n);
}
void* memalign(size_t align, size_t n) {
    if (counting) allocations++;
    return __libc_memalign(align, n);
}
void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
    *out = memalign(align, n);
    return *out ? 0 : ENOMEM;
}
}
#endif
namespace {

using lv2host::Input;
using lv2host::Instance;
using namespace plugintest;

const std::string kSource = QUORVANEL_SOURCE_DIR;
const std::string kData = kSource + "/tests/plugin/data/";

// A MIDI message as a script event.
EventScript::Event midiEvent(long long frame, const std::vector<uint8_t>& m) {
    EventScript::Event e;
    e.kind = EventScript::Kind::Midi;
    e.frame = frame;
    e.midiLength = static_cast<int>(m.size());
    for (size_t k = 0; k < m.size(); k++) e.midi[k] = m[k];
    return e;
}

// The renderer's samples for `events` over 32768; `keys`: MIDI's notes
// play the default scale, as `--keys` has them.
Out render(const std::vector<EventScript::Event>& events, uint32_t frames, bool keys = false) {
    LaceyBanks engine;
    FILE* f = std::tmpfile();
    WavWriter wav(f, frames);
    InputGate::Unseen window;
    InputGate gate(&engine, &window);
    KeyScale scale;
    if (keys) gate.playKeys(&scale);
    EXPECT_TRUE(OfflineRenderer::render(gate, engine, events, frames, wav));
    std::fseek(f, 44, SEEK_SET);
    Out o;
    int16_t pair[2];
    while (std::fread(pair, sizeof pair, 1, f) == 1) {
        o.left.push_back(pair[0] / 32768.0f);
        o.right.push_back(pair[1] / 32768.0f);
    }
    std::fclose(f);
    return o;
}

// The inputs a plugin at `rate` played, as the renderer's script: each at
// the first frame of the unit it acted on (the unit of engine frame
// T × 22050 / rate); once a port is off rest, the ports' report before
// every unit, up to engine frame `frames`.
std::vector<EventScript::Event> scriptOf(const std::vector<Input>& play, uint32_t frames, uint64_t rate) {
    std::vector<EventScript::Event> events;
    signed char ports[5] = {};
    bool playing = false;
    size_t next = 0;
    for (long long u = 0; u * 256 < frames; u++) {
        for (; next < play.size() && play[next].frame * 22050ull / rate / 256 <= static_cast<uint64_t>(u); next++) {
            const Input& i = play[next];
            if (i.port >= 0) {
                ports[i.port] = static_cast<signed char>(i.value);
                playing = playing || i.value != 0;
            } else {
                events.push_back(midiEvent(u * 256, i.midi));
            }
        }
        if (!playing) continue;
        EventScript::Event r;
        r.frame = u * 256;
        for (int k = 0; k < 5; k++) r.bytes[k] = ports[k];
        events.push_back(r);
    }
    return events;
}

TEST(Plugin, LatencyIsOneUnitAndTheConverterAtEachRate) {
    // One unit less a frame plus the converter's 18 engine frames of
    // lookahead, at the host's rate (none unconverted): at 48000,
    // ceil((256 + 18) × 48000 / 22050) − 1 = ceil(596.46) − 1 = 596.
    struct Case {
        double rate;
        float latency;
    } cases[] = {{22050, 255}, {44100, 547}, {48000, 596}, {88200, 1095}, {96000, 1192}};
    for (const Case& c : cases) {
        Instance inst(c.rate);
        ASSERT_TRUE(inst.ok());
        Out o;
        inst.block(16, {}, o.left, o.right);
        EXPECT_EQ(inst.latency, c.latency) << c.rate;
    }
}

// Keys on (a new instance) or off: the renderer's samples with `--keys`
// or without.
void renderersSamplesLate(bool keys) {
    const uint32_t frames = 22050 * 3;
    std::mt19937 rng(7);
    // Port changes (at block starts) and MIDI at random frames; blocks of
    // random sizes.
    std::vector<Input> play = randomPlay(11, frames, 300);
    std::vector<uint32_t> cuts;
    for (uint32_t t = 0; t < frames;) {
        uint32_t n = 1 + rng() % 3000;
        cuts.push_back(n);
        if (rng() % 3 == 0) play.push_back(Input{t, {}, static_cast<int>(rng() % 5), static_cast<float>(int(rng() % 256) - 128)});
        t += n;
    }
    std::stable_sort(play.begin(), play.end(), [](const Input& a, const Input& b) { return a.frame < b.frame; });
    Instance inst(22050);
    if (!keys) inst.send(lv2host::patchSet("keys", false));
    size_t c = 0;
    Out got = playIn(inst, play, frames, [&] { return cuts[c++]; });
    std::vector<EventScript::Event> events = scriptOf(play, frames, 22050);
    Out want = render(events, frames, keys);
    ASSERT_EQ(got.left.size(), frames);
    for (uint32_t t = 0; t < frames; t++) {
        float l = t < 255 ? 0 : want.left[t - 255], r = t < 255 ? 0 : want.right[t - 255];
        ASSERT_EQ(got.left[t], l) << t;
        ASSERT_EQ(got.right[t], r) << t;
    }
    EXPECT_EQ(inst.late(), 0u);
}

TEST(Plugin, At22050TheRenderersSamplesLateByTheLatency) {
    for (bool keys : {true, false}) {
        SCOPED_TRACE(keys ? "keys" : "no keys");
        renderersSamplesLate(keys);
    }
}

// Sound and silence in turn, the silences seconds long: while sounding
// the axes move at random, on a grid of 64 frames; a silence puts every
// axis at rest; MIDI keys and bank changes (which move no axis) come in
// both. The plugin passes the silences over in closed form; what it plays,
// in blocks of 1, of 64 and of random sizes (ending where a port moves),
// must be the renderer's samples, which are made frame by frame, through
// the converter fed every frame, late by the latency (at 22050 the
// renderer's samples themselves).
TEST(Plugin, AfterLongSilencesTheRenderersSamplesThroughTheConverter) {
    for (uint32_t rate : {22050u, 44100u, 48000u, 96000u}) {
        SCOPED_TRACE(rate);
        const uint32_t frames = rate * 6, engineFrames = 22050 * 6;
        std::mt19937 rng(rate);
        std::vector<Input> play;
        std::vector<uint32_t> moves;  // the frames where a port moves
        signed char axes[4] = {};
        bool sounding = false;
        for (uint32_t t = 0, change = 0; t < frames; t += 64) {
            if (t >= change) {
                sounding = !sounding;
                change = t + rate * (sounding ? 3 + rng() % 7 : 10 + rng() % 20) / 10;
            }
            for (int a = 0; a < 4; a++) {
                signed char v = sounding ? (rng() % 30 ? axes[a] : static_cast<signed char>(20 + rng() % 100)) : 0;
                if (v == axes[a]) continue;
                play.push_back(Input{t, {}, a, static_cast<float>(axes[a] = v)});
                if (moves.empty() || moves.back() != t) moves.push_back(t);
            }
            if (rng() % 40 == 0) {
                std::vector<uint8_t> m = randomMidi(rng, true);
                if ((m[0] & 0xf0) == 0xc0 || ((m[0] & 0xf0) == 0x90 && m[1] >= 48)) play.push_back(Input{t + static_cast<uint32_t>(rng() % 64), m});
            }
        }
        std::stable_sort(play.begin(), play.end(), [](const Input& a, const Input& b) { return a.frame < b.frame; });
        Out rendered = render(scriptOf(play, engineFrames, rate), engineFrames);
        std::vector<float> want;
        for (uint32_t t = 0; t < engineFrames; t++) want.insert(want.end(), {rendered.left[t], rendered.right[t]});
        if (rate != 22050) {
            std::vector<float> in;
            in.swap(want);
            converterquality::Convert convert = converterquality::ours(static_cast<uint64_t>(rate) << 16, 22050ull << 16);
            for (uint32_t at = 0; at < engineFrames; at += 256) convert(in.data() + 2 * at, 256, want);
        }
        size_t move = 0;
        uint32_t at = 0;
        struct Cut {
            const char* name;
            std::function<uint32_t()> next;
        } cuts[] = {{"1", [] { return 1u; }},
                    {"64", [] { return 64u; }},
                    {"random", [&] {
                         while (move < moves.size() && moves[move] <= at) move++;
                         uint32_t n = 1 + static_cast<uint32_t>(rng() % 3000);
                         if (move < moves.size()) n = std::min(n, moves[move] - at);
                         at += n;
                         return n;
                     }}};
        for (Cut& c : cuts) {
            Instance inst(rate);
            inst.send(lv2host::patchSet("keys", false));  // the notes are key commands here
            Out got = playIn(inst, play, frames, c.next);
            uint32_t latency = static_cast<uint32_t>(inst.latency);
            double silent = 0;
            for (uint32_t t = 0; t < frames; t++) {
                float l = t < latency ? 0 : want[2 * (t - latency)], r = t < latency ? 0 : want[2 * (t - latency) + 1];
                ASSERT_EQ(got.left[t], l) << "blocks " << c.name << ", frame " << t;
                ASSERT_EQ(got.right[t], r) << "blocks " << c.name << ", frame " << t;
                silent += l == 0 && r == 0;
            }
            EXPECT_GT(silent, frames / 3.0) << "blocks " << c.name;
            EXPECT_EQ(inst.late(), 0u) << "blocks " << c.name;
        }
    }
}

TEST(Plugin, OutputDoesNotDependOnTheBlocksAndNoInputIsLate) {
    const uint32_t frames = 48000 * 2;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        uint32_t n = static_cast<uint32_t>(frames * rate / 48000);
        std::vector<Input> play = randomPlay(static_cast<unsigned>(rate), n, 400);
        Instance whole(rate);
        Out want = playFixed(whole, play, n, 8192);
        double energy = 0;
        for (float v : want.left) energy += v * v;
        EXPECT_GT(energy, 1.0) << rate;
        std::mt19937 rng(3);
        struct Cut {
            const char* name;
            std::function<uint32_t()> next;
        } cuts[] = {{"1", [] { return 1u; }},
                    {"64", [] { return 64u; }},
                    {"1000", [] { return 1000u; }},
                    {"random", [&] { return 1 + static_cast<uint32_t>(rng() % 8192); }}};
        for (Cut& c : cuts) {
            Instance inst(rate);
            Out got = playIn(inst, play, n, c.next);
            EXPECT_TRUE(got.left == want.left) << rate << " blocks " << c.name;
            EXPECT_TRUE(got.right == want.right) << rate << " blocks " << c.name;
            EXPECT_EQ(inst.late(), 0u) << rate << " blocks " << c.name;
            EXPECT_EQ(inst.ahead(), 0u) << rate << " blocks " << c.name;
        }
    }
}

TEST(Plugin, AOneToOneVoiceAt48kHzSoundsAtThePitchControl) {
    // A fresh situation's voice 0 is 1/1; axis 0 alone mixes it in. A new
    // instance plays keys: note 64 at 5/4 (the default scale), and through
    // a scale and a mapping that puts 1/1 on key 62, key 65 at 4/3: the
    // mapping's 293.66 Hz does not move the pitch control. 1/1 within 0.01
    // Hz (less than 0.1 cent at each of these pitches), a key within 0.1
    // cent.
    const struct {
        float pitch;
        int key;  // -1: axis 0
        double ratio;
        const char* scale = nullptr;
        const char* map = nullptr;
    } cases[] = {{689.0625f, -1, 1}, {440, -1, 1}, {261.63f, -1, 1}, {689.0625f, 64, 1.25}, {440, 64, 1.25},
                 {689.0625f, 65, 4 / 3.0, "just-major.scl", "d-linear.kbm"}};
    for (const auto& c : cases) {
        Instance inst(48000);
        inst.pitch = c.pitch;
        if (c.scale) inst.send(lv2host::patchSet("scale", kData + c.scale));
        if (c.map) inst.send(lv2host::patchSet("map", kData + c.map));
        Input play = c.key < 0 ? Input{0, {}, 0, 100} : Input{4800, {0x90, static_cast<uint8_t>(c.key), 100}};
        Out o = playFixed(inst, {play}, 48000 * 3, 512);
        std::vector<float> tail(o.left.begin() + 48000, o.left.end());
        double hz = hosts::crossingHz(tail, 48000);
        if (c.key < 0) EXPECT_NEAR(hz, c.pitch, 0.01) << c.pitch;
        else EXPECT_NEAR(1200 * std::log2(hz / (c.pitch * c.ratio)), 0, 0.1) << c.pitch << " key " << c.key << ": " << hz;
        EXPECT_EQ(inst.latency, Instrument::latencyFor(48000 / (32.0 * c.pitch), true)) << c.pitch;
    }
}

// The latency a converter needs at `ratio` (host frames per engine frame),
// found by running it over 64 silent units from its start: the most any
// host frame T lies past the frames it gave from the units every input
// before T may act on.
long simulatedLatency(double ratio) {
    RateConverter probe;
    probe.restart(ratio);
    std::vector<float> silence(2 * 256, 0.0f), out(2 * 65536);
    long long made = 0, most = 0;
    for (long long k = 0; k < 64; k++) {
        most = std::max(most, static_cast<long long>(std::ceil(256 * (k + 1) * ratio)) - 1 - made);
        uint32_t used = 0, gave = 0;
        for (uint32_t at = 0; at < 256 && probe.process(silence.data() + 2 * at, 256 - at, out.data(), 65536, used, gave) && used > 0; at += used)
            made += gave;
    }
    return static_cast<long>(most);
}

TEST(Plugin, TheLatencyIsWhatTheConverterNeedsAtEveryRatio) {
    for (double rate : {22050.0, 48000.0, 96000.0})
        for (double pitch : {31.25, 261.63, 440.0, 689.0625, 1000.0, 12000.0}) {
            double ratio = rate / (32 * pitch);
            if (ratio == 1) continue;  // not converted
            long need = simulatedLatency(ratio), l = Instrument::latencyFor(ratio, true);
            EXPECT_TRUE(l >= need && l <= need + 1) << rate << " Hz, 1/1 at " << pitch << ": " << l << " for " << need;
        }
}

// The converter's figures from a real run, tones through it in pieces of
// 256 frames: up to 0.408 of the lower rate (9 kHz of 22050) the gain
// within 0.1 dB of 1 and what is not the tone (its images, aliases) 90 dB
// down or more; a tone above what the output holds 90 dB down or more. At
// the rates a host meets at the default pitch, at pitches that make the
// ratio no short fraction, and at one that lowers the rate eightfold.
TEST(Plugin, TheConverterKeepsTheBandFlatAndImagesAndAliasesDown) {
    const struct {
        uint32_t rate;
        double pitch;  // of 1/1: the engine runs at 32 × pitch
        double tone;   // Hz of a tone the output cannot hold; 0: the band's
    } cases[] = {{44100, 689.0625, 0}, {48000, 689.0625, 0}, {96000, 689.0625, 0},   {48000, 440, 0},
                 {44100, 31.25, 0},    {48000, 12000, 0},    {48000, 12000, 30000}, {22050, 12000, 150000}};
    for (const auto& c : cases) {
        double engine = 32 * c.pitch, lower = std::min<double>(engine, c.rate);
        converterquality::Convert convert =
            converterquality::ours(static_cast<uint64_t>(c.rate) << 16, static_cast<uint64_t>(std::llround(engine * 65536)));
        if (c.tone > 0) {
            EXPECT_LE(converterquality::tone(convert, engine, c.rate, c.tone).restDb, -90) << c.rate << " at " << c.pitch;
            continue;
        }
        converterquality::Figures f = converterquality::passband(convert, engine, c.rate, 0.408 * lower);
        EXPECT_LE(f.flatnessDb, 0.1) << c.rate << " at " << c.pitch;
        EXPECT_LE(f.restDb, -90) << c.rate << " at " << c.pitch;
    }
}

// The converter alone, at the ratios of the usual rates, at ratios that
// are no short fraction, below 1 and with more positions than it keeps
// rows for: sound with silences in it, fed in pieces of 256 with room to
// spare, and again in random pieces into random room, the silent pieces
// passed over (skipZeros) once settled. Both must give the same frames.
TEST(Plugin, TheConverterGivesTheSameFramesHoweverFedAndOverSilence) {
    const struct {
        uint64_t host, engine;
    } ratios[] = {{48000, 22050}, {44100, 22050}, {96000, 22050}, {192000, 22050},
                  {48000ull << 16, 922746880}, {48000, 384000}, {22050, 384000}};
    std::mt19937 rng(17);
    std::vector<float> in(2 * 256 * 240);
    for (size_t k = 0; k < in.size() / 2; k++)
        in[2 * k] = in[2 * k + 1] = (k / 7000) % 3 == 1 ? 0.0f : static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 1000;
    for (const auto& r : ratios) {
        std::vector<float> want, got;
        converterquality::Convert whole = converterquality::ours(r.host, r.engine);
        for (size_t at = 0; at < in.size() / 2; at += 256) whole(in.data() + 2 * at, 256, want);
        RateConverter c;
        c.restart(r.host, r.engine);
        std::vector<float> room(2 * 3000);
        long skipped = 0;
        for (uint32_t at = 0, frames = static_cast<uint32_t>(in.size() / 2); at < frames;) {
            uint32_t n = std::min<uint32_t>(1 + rng() % 700, frames - at), space = 1 + rng() % 3000, used = 0, made = 0;
            bool silent = std::all_of(in.begin() + 2 * at, in.begin() + 2 * (at + n), [](float v) { return v == 0; });
            if (silent && c.settled()) {
                c.skipZeros(n, room.data(), space, used, made);
                skipped += used;
            } else {
                c.process(in.data() + 2 * at, n, room.data(), space, used, made);
            }
            got.insert(got.end(), room.begin(), room.begin() + 2 * made);
            at += used;
        }
        got.resize(std::min(got.size(), want.size()));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin())) << r.host << " / " << r.engine;
        EXPECT_GT(got.size(), want.size() * 9 / 10) << r.host << " / " << r.engine;
        EXPECT_GT(skipped, 10000) << r.host << " / " << r.engine;
    }
}

TEST(Plugin, PitchChangesLeaveNoInputLateWhateverTheBlocks) {
    // The pitch moves every 16384 frames, a block boundary of every cutting.
    const uint32_t frames = 48000 * 2;
    const float pitches[] = {440, 1000, 261.63f, 689.0625f, 12000, 31.25f};
    auto pitchAt = [&](uint32_t t) { return pitches[t / 16384 % 6]; };
    std::vector<Input> play = randomPlay(5, frames, 300);
    Instance whole(48000);
    Out want = playIn(whole, play, frames, [] { return 8192u; }, pitchAt);
    std::mt19937 rng(9);
    uint32_t at = 0;
    std::function<uint32_t()> cuts[] = {[] { return 64u; }, [&] {
        uint32_t n = std::min(1 + static_cast<uint32_t>(rng() % 3000), 16384 - at % 16384);
        at += n;
        return n;
    }};
    for (auto& cut : cuts) {
        Instance inst(48000);
        Out got = playIn(inst, play, frames, cut, pitchAt);
        EXPECT_TRUE(got.left == want.left && got.right == want.right);
        EXPECT_EQ(inst.late(), 0u);
        EXPECT_EQ(inst.ahead(), 0u);
        EXPECT_EQ(inst.latency, Instrument::latencyFor(48000 / (32.0 * 31.25), true));
    }
}

// Whether keys are on, as the plugin saves it.
bool keysOf(Instance& inst) {
    std::string v = inst.save()[std::string(lv2host::kUri) + "#keys"].second;
    return v.size() == 4 && v[0] != 0;
}

std::string slurp(const std::string& path) {
    std::string text;
    EXPECT_TRUE(EventScript::readFile(path.c_str(), text)) << path;
    return text;
}

std::string instrumentText(Instance& inst) {
    Instance::State s = inst.save();
    auto it = s.find(std::string(lv2host::kUri) + "#instrument");
    return it == s.end() ? "" : std::string(it->second.second.c_str());
}

// Activated again after it played, the plugin forgets its history (time,
// phases, controllers) and keeps its banks and its keys' scale: it plays on
// as a fresh instance given its state. Activated again before it played,
// it is a fresh one.
TEST(Plugin, ActivatedAgainItPlaysAsAFreshInstanceGivenItsState) {
    Instance a(48000), fresh(48000), twice(48000), once(48000);
    a.send(lv2host::patchSet("scale", kData + "just-major.scl"));
    Out ignore = playFixed(a, randomPlay(8, 48000, 300), 48000, 256);
    Instance::State state = a.save();
    a.reactivate();
    ASSERT_EQ(fresh.restore(state), LV2_STATE_SUCCESS);
    twice.reactivate();
    std::vector<Input> more = randomPlay(9, 48000, 200);
    Out oa = playFixed(a, more, 48000, 512), of = playFixed(fresh, more, 48000, 512);
    EXPECT_TRUE(oa.left == of.left && oa.right == of.right);
    Out o2 = playFixed(twice, more, 48000, 512), o1 = playFixed(once, more, 48000, 512);
    EXPECT_TRUE(o2.left == o1.left && o2.right == o1.right);
    EXPECT_FALSE(oa.left == o1.left);  // the banks it had played into stayed
}

TEST(Plugin, StateKeepsTheInstrumentAndItsContinuation) {
    const double rate = 48000;
    Instance a(rate);
    a.send(lv2host::patchSet("bank", kSource + "/patches/fmbells.texte"));
    Out first = playFixed(a, {}, 1024, 512);  // the worker answers after the first block
    EXPECT_EQ(a.told(), "path:" + kSource + "/patches/fmbells.texte") << "the host is told the file";
    // The bank file took over the current bank (1, at start).
    std::string bells;
    ASSERT_TRUE(EventScript::readFile((kSource + "/patches/fmbells.texte").c_str(), bells));
    std::string loaded = instrumentText(a);
    size_t at = loaded.find("\nbank 1 0 0\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(loaded.substr(at + 12, bells.size()), bells);
    Out ignore = playFixed(a, randomPlay(5, 48000, 200), 48000, 333);
    std::string saved = instrumentText(a);

    Instance b(rate), c(rate);
    Instance::State state = a.save();
    EXPECT_EQ(state[std::string(lv2host::kUri) + "#bank"].second, std::string("patches/fmbells.texte", 22));
    ASSERT_EQ(b.restore(state), LV2_STATE_SUCCESS);
    ASSERT_EQ(c.restore(state), LV2_STATE_SUCCESS);
    b.block(16, {}, ignore.left, ignore.right);
    c.block(16, {}, ignore.left, ignore.right);
    EXPECT_EQ(b.told(), "path:" + kSource + "/patches/fmbells.texte keys:1") << "the restored values are told back";
    EXPECT_TRUE(instrumentText(b) == saved);
    std::vector<Input> more = randomPlay(6, 48000, 200, false);
    Out ob = playFixed(b, more, 48000, 100), oc = playIn(c, more, 48000, [] { return 4096u; });
    EXPECT_TRUE(ob.left == oc.left);
    EXPECT_TRUE(instrumentText(b) == instrumentText(c));
    EXPECT_FALSE(instrumentText(b) == saved);  // the continuation moved it on

    Instance::State bad;
    bad[std::string(lv2host::kUri) + "#instrument"] = {LV2_ATOM__String, std::string("chubby 0\n", 10)};
    EXPECT_NE(c.restore(bad), LV2_STATE_SUCCESS);
    // A fresh instrument's text edited: the solo mode comes back; a bank
    // outside 0..9 in play is refused, current or previous.
    const struct {
        const char *from, *to;
        bool restores;
    } edits[] = {{"\nbank 1 0 0\n", "\nbank 1 0 1\n", true},
                 {"\nplay 1 1\n", "\nplay 10 1\n", false},
                 {"\nplay 1 1\n", "\nplay 1 10\n", false}};
    for (const auto& e : edits) {
        Instance d(rate);
        std::string text = instrumentText(d);
        ASSERT_NE(text.find(e.from), std::string::npos) << text.substr(0, 80);
        text.replace(text.find(e.from), std::strlen(e.from), e.to);
        bad[std::string(lv2host::kUri) + "#instrument"].second = text + '\0';
        EXPECT_EQ(d.restore(bad) == LV2_STATE_SUCCESS, e.restores) << e.to;
        EXPECT_EQ(instrumentText(d).find(e.to) != std::string::npos, e.restores) << e.to;
    }
}

TEST(Plugin, PortValuesRoundAndClampToAReportByte) {
    // Each pair plays alike from the first unit on.
    const float pairs[][2] = {{200, 127}, {127.6f, 127}, {-300, -128}, {-128.4f, -128}, {99.5f, 100}, {-0.4f, 0}};
    for (const auto& p : pairs) {
        Instance a(22050), b(22050);
        Out oa = playFixed(a, {Input{0, {}, 0, p[0]}}, 2048, 256);
        Out ob = playFixed(b, {Input{0, {}, 0, p[1]}}, 2048, 256);
        EXPECT_TRUE(oa.left == ob.left && oa.right == ob.right) << p[0] << " plays as " << p[1];
    }
}

// Each message a host or another window may send malformed, through the
// plugin's run() and the window's picture reader: the well-formed one acts
// (the window opens and gets a picture, the bank or scale file is loaded
// and told, keys go off and are told, the picture is shown), the malformed
// one nowhere, and nothing reads past
// it (the sanitizer build has the last word on that).
TEST(Plugin, MalformedMessagesAreIgnoredWithoutAReadPastTheirEnd) {
    lv2host::World& w = lv2host::World::get();
    windowio::Uris uris{};
    uris.map(&w.mapFeature);
    const std::string bank = kSource + "/patches/fmbells.texte", scale = kData + "just-major.scl";
    const std::string acts[] = {"Picture", "path:" + bank, "shown", "keys:0", "path:" + scale};  // by Message::Kind
    for (const badmessages::Message& m : badmessages::all(&w.mapFeature, bank, scale)) {
        for (bool good : {true, false}) {
            const std::vector<uint8_t>& bytes = good ? m.good : m.bad;
            Instance inst(22050);
            inst.blockWith(bytes, 256);
            std::string seen = inst.told();
            Out ignore;
            inst.block(256, {}, ignore.left, ignore.right);  // the worker's answer is told
            seen += inst.told();
            windowio::PicturePart part;
            PictureView view;
            if (windowio::readPicture(bytes.data(), static_cast<uint32_t>(bytes.size()), uris, part) && view.receive(part))
                seen += "shown";
            EXPECT_EQ(seen, good ? acts[m.kind] : "") << m.name << (good ? ", well-formed" : "");
        }
    }
}

TEST(Plugin, TwoInstancesInterleavedEqualEachAlone) {
    const uint32_t frames = 256 * 172;
    std::vector<Input> pa = randomPlay(21, frames, 300), pb = randomPlay(22, frames, 300);
    Instance soloA(44100), soloB(48000);
    Out wantA = playFixed(soloA, pa, frames, 256), wantB = playFixed(soloB, pb, frames, 256);
    Instance a(44100), b(48000);
    Out gotA, gotB;
    size_t na = 0, nb = 0;
    for (uint32_t t = 0; t < frames; t += 256) {
        a.block(256, blockOf(pa, na, t, 256), gotA.left, gotA.right);
        b.block(256, blockOf(pb, nb, t, 256), gotB.left, gotB.right);
    }
    EXPECT_TRUE(gotA.left == wantA.left);
    EXPECT_TRUE(gotB.right == wantB.right);
}

TEST(Plugin, RunAllocatesNothing) {
    // Every mapped message and pitch changes: at 22050 keys off, Return and
    // BackSpace (notes 48, 49: a situation added and deleted) among them;
    // at 48000 the notes played as keys, a scale and a mapping taking over
    // meanwhile.
    if (kCounts) {
        // The counter sees the C library's allocations and new alike.
        allocations = 0;
        counting = true;
        void* p = std::malloc(16);
        void* q = ::operator new(sizeof(int));
        counting = false;
        std::free(p);
        ::operator delete(q);
        ASSERT_EQ(allocations, 2);
    }
    windowio::Uris window{};
    window.map(&lv2host::World::get().mapFeature);
    for (double rate : {22050.0, 48000.0}) {
        Instance inst(rate);
        bool keys = rate == 48000;
        if (!keys) inst.send(lv2host::patchSet("keys", false));
        // Tuned notes both ways, through a port too small for a unit's.
        inst.tuning = rate == 48000 ? 1 : 0;
        inst.midiOutRoom = 256;
        // With the window open every repaint is also a picture to send,
        // in parts through a small buffer.
        alignas(8) uint8_t opened[128];
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &lv2host::World::get().mapFeature);
        lv2_atom_forge_set_buffer(&forge, opened, sizeof opened);
        windowio::forgeEvent(&forge, window, windowio::Event::Opened, 500, 500);
        inst.sendAtom(reinterpret_cast<const LV2_Atom*>(opened));
        inst.notifyRoom = 2048;
        // A save on another thread meanwhile: run() takes its snapshot.
        std::string saved;
        std::thread saver([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            saved = instrumentText(inst);
        });
        std::vector<Input> play = randomPlay(31, 48000, 2000);
        int files = 0;  // the scale after a third of a second, the mapping after two thirds
        long made = countedPlay(inst, play, [&](uint32_t t) {
            const char* const file[2][2] = {{"scale", "just-major.scl"}, {"map", "d-linear.kbm"}};
            if (keys && files < 2 && t > 16000u * (files + 1)) inst.send(lv2host::patchSet(file[files][0], kData + file[files][1])), files++;
            inst.runWorker();
        }, true);
        saver.join();
        made += countedPlay(inst, play, [&](uint32_t) { inst.runWorker(); }, true);  // once more after the save
        EXPECT_EQ(made, 0) << rate;
        EXPECT_EQ(saved.rfind("quorvanel instrument 1\n", 0), 0u);
        EXPECT_EQ(inst.save().count(std::string(lv2host::kUri) + "#mapText"), keys ? 1u : 0u) << "the mapping took over";
        if (!kCounts) GTEST_SKIP() << "AddressSanitizer's allocator is not counted";
    }
}

// The tuned notes leave the MIDI output at the host frame where their
// unit's sound comes out, L + ceil(256 u × R / 22050): axis 0 moves in the
// first block (unit 0: 255 at 22050, 596 at 48000) and rests again from
// host frame R (engine frame 22050, unit 86: 255 + 22016 = 22271, and
// 596 + ceil(22016 × 48000 / 22050) = 48522 at 48000). The messages are
// the notes' own for those two units; a port too small for them all
// passes the rest on in the next blocks, in order, losing none. A block
// that ends at 48522 at 48000 (522 frames after 48000) has made unit 86
// already, for the converter's lookahead: its messages go out at the next
// block's first frame, not past the end of this one.
TEST(Plugin, TunedNotesComeOutWithTheDelayedSound) {
    struct Case {
        double rate;
        float way;
        uint32_t room;
        uint64_t on, off;
        uint32_t cut = 0;  // a block of these frames after the one that ends at R (0: none)
    };
    const Case cases[] = {
        {22050, 0, Instance::kAtomRoom - 8, 255, 22271},
        {22050, 1, Instance::kAtomRoom - 8, 255, 22271},
        {48000, 0, 200, 596, 48522},
        {48000, 1, Instance::kAtomRoom - 8, 596, 48522},
        {48000, 1, Instance::kAtomRoom - 8, 596, 48522, 522},
    };
    for (const Case& c : cases) {
        Instance inst(c.rate);
        inst.tuning = c.way;
        inst.midiOutRoom = c.room;
        uint32_t r = static_cast<uint32_t>(c.rate);
        uint32_t t = 0;  // where the next block starts: blocks of a fiftieth of a second, and the cut
        playIn(inst, {Input{0, {}, 0, 100}, Input{r, {}, 0, 0}}, 2 * r, [&] {
            uint32_t n = c.cut && t == r ? c.cut : r / 50;
            t += n;
            return n;
        });
        LaceyBanks engine;
        TunedNotes notes(c.way ? TunedNotes::Way::Mts : TunedNotes::Way::Mpe);
        for (int axis : {100, 0}) {
            signed char bytes[8] = {static_cast<signed char>(axis), 0, 0, 0, 0, 0, 0, 0};
            static char device;
            engine.chubness(reinterpret_cast<ChubDevice*>(&device), _CHUBREPORT{bytes, 8});
            notes.afterUnit(engine, axis ? 0 : 86 * 256);
        }
        ASSERT_EQ(inst.tuned.size(), static_cast<size_t>(notes.size())) << c.rate << " " << c.way;
        for (int k = 0; k < notes.size(); k++) {
            const TunedNotes::Message& m = notes[k];
            EXPECT_EQ(inst.tuned[k].bytes, std::vector<uint8_t>(m.bytes, m.bytes + m.length)) << k;
            if (k == 0 || k == notes.size() - 1 || c.room > 200) EXPECT_EQ(inst.tuned[k].frame, m.frame ? c.off : c.on) << k;
            else EXPECT_GE(inst.tuned[k].frame, inst.tuned[k - 1].frame) << k;
        }
    }
}

TEST(Plugin, RandomAtomMidiThroughRun) {
    // Any bytes as MIDI events (lengths 0..8, running status, system
    // messages) at any frame: no crash, no sanitizer finding, finite output
    // within what the converter can make of full-scale samples (its
    // weights sum, in magnitude, to at most 2.39 at any phase; notes and
    // axes together clip).
    std::mt19937 rng(99);
    Instance inst(96000);
    for (int b = 0; b < 400; b++) {
        uint32_t n = 1 + rng() % 4096;
        std::vector<Input> in;
        int count = static_cast<int>(rng() % 40);
        std::vector<uint32_t> at;
        for (int k = 0; k < count; k++) at.push_back(rng() % n);
        std::sort(at.begin(), at.end());
        for (uint32_t f : at) {
            std::vector<uint8_t> m(rng() % 9);
            for (uint8_t& x : m) x = static_cast<uint8_t>(rng());
            in.push_back(Input{f, m, -1, 0});
        }
        if (rng() % 8 == 0) in.push_back(Input{0, {}, static_cast<int>(rng() % 5), static_cast<float>(int(rng() % 400) - 200)});
        std::vector<float> l, r;
        inst.block(n, in, l, r);
        for (float v : l) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 2.39f) << v << " block " << b;
    }
}

TEST(Plugin, PresetsAreTheExamplePatchesAtStart) {
    lv2host::World& w = lv2host::World::get();
    LilvNode* presetClass = lilv_new_uri(w.world, LV2_PRESETS__Preset);
    LilvNodes* presets = lilv_plugin_get_related(w.plugin, presetClass);
    std::vector<std::string> names;
    LILV_FOREACH(nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(w.world, preset);
        std::string uri = lilv_node_as_uri(preset);
        std::string name = uri.substr(uri.rfind(':') + 1);
        names.push_back(name);
        LilvState* state = lilv_state_new_from_world(w.world, &w.mapFeature, preset);
        ASSERT_NE(state, nullptr) << name;
        Instance inst(44100);
        lilv_state_restore(state, inst.instance, nullptr, nullptr, 0, nullptr);
        EXPECT_TRUE(keysOf(inst)) << name << ": a preset leaves a new instance's keys on";
        LaceyBanks engine;
        std::string path = kSource + "/patches/" + name + ".texte";
        std::vector<char> file(path.begin(), path.end());
        file.push_back('\0');
        engine.textorium_script(file.data());
        char* text = nullptr;
        size_t size = 0;
        FILE* f = open_memstream(&text, &size);
        InstrumentState::write(engine, f);
        std::fclose(f);
        EXPECT_TRUE(instrumentText(inst) == std::string(text, size)) << name;
        std::free(text);
        lilv_state_free(state);
    }
    lilv_nodes_free(presets);
    lilv_node_free(presetClass);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"demo", "fmbells", "justchord", "wander"}));
}

// A session's continuation: random MIDI of every mapped kind for two
// seconds at 48 kHz, the control ports as the session left them; a hash
// (FNV-1a) of the samples and the tuned notes with their frames.
uint64_t playOn(Instance& inst) {
    std::vector<Input> play = randomPlay(78, 96000, 300);
    play.erase(std::remove_if(play.begin(), play.end(), [](const Input& i) { return i.port >= 0; }), play.end());
    Out o = playFixed(inst, play, 96000, 512);
    uint64_t h = 14695981039346656037ull;
    auto add = [&h](const void* p, size_t n) {
        for (size_t k = 0; k < n; k++) h = (h ^ static_cast<const uint8_t*>(p)[k]) * 1099511628211ull;
    };
    add(o.left.data(), o.left.size() * sizeof(float));
    add(o.right.data(), o.right.size() * sizeof(float));
    for (const Instance::Tuned& t : inst.tuned) {
        add(&t.frame, sizeof t.frame);
        add(t.bytes.data(), t.bytes.size());
    }
    return h;
}

// Keys on or off, and what they play, as a host restores them: a new
// instance plays keys; a session saved before they played notes (by the
// plugin of then, through lilv, the control ports with it) restores with
// keys off and plays on exactly as it did then (the hash of what that
// plugin played on from it, taken when it was saved); a session saved
// since keeps keys on or off and the texts of the scale and the mapping,
// whose files may be gone; a preset and a host's empty default state leave
// the keys as they are.
TEST(Plugin, KeysAreOnInANewInstanceOffInAnOldSessionAndAsASessionKeepsThem) {
    const uint64_t kAsThen = 5186785966995670692ull;
    char dir[] = "/tmp/quorvanel-keys-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string files[2] = {std::string(dir) + "/just-major.scl", std::string(dir) + "/d-linear.kbm"};
    const std::string texts[2] = {slurp(kData + "just-major.scl"), slurp(kData + "d-linear.kbm")};
    auto savedWith = [&](bool keys) {
        Instance a(48000);
        a.send(lv2host::patchSet("keys", keys));
        for (int t = 0; t < 2 && keys; t++) {
            std::FILE* f = std::fopen(files[t].c_str(), "w");
            std::fputs(texts[t].c_str(), f);
            std::fclose(f);
            a.send(lv2host::patchSet(t ? "map" : "scale", files[t]));
        }
        Out ignore = playFixed(a, {}, 1024, 512);
        for (const std::string& f : files) std::remove(f.c_str());
        return a.saveSession();
    };
    enum class From { Nothing, Session, Preset, EmptyState };
    const struct {
        const char* name;
        From from;
        std::string session;
        bool keysBefore, keys, files;
    } cases[] = {
        {"a new instance", From::Nothing, "", true, true, false},
        {"a session saved before keys played notes", From::Session, slurp(kData + "session-before-keys.ttl"), true, false, false},
        {"a session saved with keys off", From::Session, savedWith(false), true, false, false},
        {"a session saved with keys on, a scale and a mapping", From::Session, savedWith(true), false, true, true},
        {"a preset", From::Preset, "", false, false, false},
        {"a host's empty default state", From::EmptyState, "", true, true, false},
    };
    rmdir(dir);
    lv2host::World& w = lv2host::World::get();
    for (const auto& c : cases) {
        Instance inst(48000);
        Out ignore;
        if (!c.keysBefore) {
            inst.send(lv2host::patchSet("keys", false));
            inst.block(512, {}, ignore.left, ignore.right);
        }
        if (c.from == From::Session) {
            ASSERT_TRUE(inst.restoreSession(c.session)) << c.name;
        }
        if (c.from == From::EmptyState) {
            EXPECT_EQ(inst.restore({}), LV2_STATE_ERR_NO_PROPERTY) << c.name;
        }
        if (c.from == From::Preset) {
            LilvNode* fmbells = lilv_new_uri(w.world, (std::string(lv2host::kUri) + ":preset:fmbells").c_str());
            lilv_world_load_resource(w.world, fmbells);
            LilvState* preset = lilv_state_new_from_world(w.world, &w.mapFeature, fmbells);
            lilv_state_restore(preset, inst.instance, nullptr, nullptr, 0, nullptr);
            lilv_state_free(preset);
            lilv_node_free(fmbells);
        }
        EXPECT_EQ(keysOf(inst), c.keys) << c.name;
        if (c.session == cases[1].session) {
            EXPECT_EQ(playOn(inst), kAsThen) << c.name;
        }
        Instance::State kept = inst.save();
        for (int t = 0; t < 2; t++) {
            auto text = kept.find(std::string(lv2host::kUri) + (t ? "#mapText" : "#scaleText"));
            EXPECT_EQ(text == kept.end() ? "" : std::string(text->second.second.c_str()), c.files ? texts[t] : "") << c.name;
        }
        if (c.files) {
            inst.block(512, {}, ignore.left, ignore.right);
            EXPECT_EQ(inst.told(), "keys:1 path:" + files[0] + " path:" + files[1]) << c.name;
        }
    }
}

}  // namespace
