// MIDI into the input gate: the map as one table of messages and what the
// engine takes unit by unit, merged with a game controller, each case's
// recording replaying to the same calls. Then the sequencer: events decoded
// back into messages, a second client's message reaching the engine, and
// a synth connected to "tuned out" hearing the tuned notes.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "RecordingEngine.h"
#include "engine/InputGate.h"
#include "engine/LaceyBanks.h"
#include "standalone/grax.h"
#include "standalone/seq.h"

#include <unistd.h>

#include <array>
#include <string>
#include <vector>

namespace {

using hosttest::RecordingEngine;
using Report = std::array<signed char, 8>;

// A game controller: each report from its unit on.
struct FakePad final : InputGate::Controllers {
    std::vector<std::pair<int, Report>> steps;
    int unit = 0;
    bool unitReport(signed char out[8]) override {
        const Report* now = nullptr;
        for (const auto& s : steps) now = s.first <= unit ? &s.second : now;
        unit++;
        if (now) std::copy(now->begin(), now->end(), out);
        return now;
    }
};

// Plays `script` for `units` units, recording to `path`; what the engine
// took: " report B0..B7", " key K" (a character, or its code up to ' '),
// " paint", and " |" after each unit.
std::string play(const std::string& script, int units, FakePad pad, const char* path) {
    EventScript s;
    EXPECT_TRUE(s.parse(script)) << s.message();
    RecordingEngine engine;
    InputGate::Unseen window;
    InputGate gate(&engine, &window, pad.steps.empty() ? nullptr : &pad);
    Recorder recorder;
    EXPECT_TRUE(recorder.open(path));
    gate.listen(&recorder);
    gate.play(&s.events);
    for (int u = 0; u < units; u++) {
        gate.beforeUnit();
        engine.beging();
        gate.afterUnit();
    }
    std::string out;
    size_t r = 0, k = 0;
    for (const std::string& c : engine.calls) {
        if (c == "chubness") {
            out += " report";
            for (signed char b : engine.reports[r++].bytes) out += " " + std::to_string(b);
        }
        if (c.rfind("key", 0) == 0) {
            unsigned char key = engine.keys[k++];
            out += " key " + (key > ' ' ? std::string(1, static_cast<char>(key)) : std::to_string(key));
        }
        if (c == "graxness") out += " paint";
        if (c == "beging") out += " |";
    }
    return out;
}

TEST(Midi, TheMapUnitByUnit) {
    struct Case {
        std::string script;
        int units;
        std::vector<std::pair<int, Report>> pad;
        std::string want;
    };
    const Case cases[] = {
        // keys only: reports as they come
        {"0 midi 90 3c 40\n0 report 5 0 0 0 0 0 0 0\n256 midi c0 03\n", 2, {}, " key w report 5 0 0 0 0 0 0 0 paint | key 3 |"},
        // general purpose 1-4 on any channel: 2 x (v - 64)
        {"0 midi b0 10 00\n0 midi b1 11 7f\n0 midi bf 12 40\n0 midi b0 13 41\n", 1, {}, " report -128 126 0 2 0 0 0 0 paint |"},
        // the mod wheel as it stands; the latest of it and CC 16 wins
        {"0 midi b0 01 64\n256 midi b0 10 40\n512 midi b0 01 7f\n", 3, {},
         " report 100 0 0 0 0 0 0 0 paint | report 0 0 0 0 0 0 0 0 | report 127 0 0 0 0 0 0 0 |"},
        // pitch bend: (b - 8192) >> 6
        {"0 midi e0 00 00\n256 midi e0 7f 7f\n512 midi e5 00 40\n768 midi e0 7f 3f\n", 4, {},
         " report 0 0 0 0 -128 0 0 0 paint | report 0 0 0 0 127 0 0 0 | report 0 0 0 0 0 0 0 0 | report 0 0 0 0 -1 0 0 0 |"},
        // voice notes held until their note off, velocity 0 one too
        {"0 midi 90 24 64\n256 midi 90 27 01\n512 midi 80 24 00\n768 midi 9a 27 00\n", 4, {},
         " report 0 0 0 0 0 0 0 1 paint | report 0 0 0 0 0 0 0 65 | report 0 0 0 0 0 0 0 64 | report 0 0 0 0 0 0 0 0 |"},
        // an on and off inside one unit is one press
        {"0 midi 90 25 7f\n100 midi 80 25 00\n", 2, {}, " report 0 0 0 0 0 0 0 4 paint | report 0 0 0 0 0 0 0 0 |"},
        // all notes off; reset all controllers (buttons kept)
        {"0 midi 90 24 7f\n0 midi 90 26 7f\n256 midi b3 7b 00\n", 2, {}, " report 0 0 0 0 0 0 0 17 paint | report 0 0 0 0 0 0 0 0 |"},
        {"0 midi b0 10 00\n0 midi e0 00 00\n0 midi 90 24 7f\n256 midi b0 79 00\n", 2, {},
         " report -128 0 0 0 -128 0 0 1 paint | report 0 0 0 0 0 0 0 1 |"},
        // key notes and programs (then the quiet gate repaints twice); the rest ignored, f8 not recorded
        {"0 midi 90 30 01\n0 midi 90 31 7f\n0 midi 90 32 7f\n0 midi 90 33 7f\n0 midi 90 34 7f\n0 midi 90 35 7f\n"
         "0 midi 90 36 7f\n0 midi 90 37 7f\n0 midi 90 38 7f\n0 midi 90 3c 7f\n0 midi 9f 44 7f\n0 midi 90 48 7f\n"
         "0 midi 90 50 7f\n0 midi 90 54 7f\n0 midi 90 5b 7f\n0 midi c0 00\n0 midi c0 09\n0 midi c0 0a\n0 midi 90 2f 7f\n"
         "0 midi 90 39 7f\n0 midi 90 5c 7f\n0 midi 80 3c 7f\n0 midi 90 3c 00\n0 midi b0 07 7f\n0 midi d0 7f\n0 midi f8\n"
         "0 midi b0 14 7f\n0 midi 90 28 7f\n",
         1, {}, " key 13 key 8 key 32 key / key q key a key [ key ' key z key w key p key s key ; key x key . key 0 key 9 paint paint |"},
        // a key 8 units after the last report is no quiet one, 9 units after it is
        {"0 report 0 0 0 0 0 0 0 0\n2048 midi 90 3c 40\n2304 midi 90 3c 40\n", 10, {},
         " report 0 0 0 0 0 0 0 0 paint | | | | | | | | key w | key w paint paint |"},
        // a press the reports delivered before MIDI plays is not pressed again in the first merged report
        {"0 report 0 0 0 0 0 0 0 1\n0 report 0 0 0 0 0 0 0 0\n256 midi b0 10 40\n", 2, {},
         " report 0 0 0 0 0 0 0 1 paint report 0 0 0 0 0 0 0 0 | report 0 0 0 0 0 0 0 0 |"},
        // merged reports keep the picture fresh: a key note among them adds no repaint
        {"0 midi b0 10 40\n256 midi 90 3c 40\n", 2, {}, " report 0 0 0 0 0 0 0 0 paint | key w report 0 0 0 0 0 0 0 0 |"},
        // with a game controller: each axis from who moved it last, buttons from either
        {"256 midi b0 11 00\n256 midi 90 24 7f\n", 4, {{0, Report{40, 0, 0, 0, 0, 0, 0, 4}}, {2, Report{40, 30}}},
         " report 40 0 0 0 0 0 0 4 paint | report 40 -128 0 0 0 0 0 5 | report 40 30 0 0 0 0 0 1 | report 40 30 0 0 0 0 0 1 |"},
    };
    char path[] = "/tmp/quorvanel-midi-XXXXXX";
    close(mkstemp(path));
    for (const Case& c : cases) {
        FakePad pad;
        pad.steps = c.pad;
        EXPECT_EQ(play(c.script, c.units, pad, path), c.want) << c.script;
        // The recording alone (a midi line for each message, the pad's
        // reports as report lines, nothing the map made) plays the same.
        std::string recording;
        EventScript::readFile(path, recording);
        EXPECT_EQ(recording.find(" f8"), std::string::npos);
        EXPECT_EQ(play(recording, c.units, FakePad{}, "/dev/null"), c.want) << recording;
    }
    std::remove(path);
}

// Sequencer events become their messages (a 14-bit controller two); an
// announcement none. Needs no sequencer.
TEST(Midi, SequencerEventsBecomeTheirMessages) {
    struct Case {
        snd_seq_event_type_t type;
        int channel, param, value;  // a note's number and velocity, or a controller's
        const char* recorded;
    };
    const Case cases[] = {
        {SND_SEQ_EVENT_NOTEON, 3, 60, 0, "0 midi 93 3c 00\n"},
        {SND_SEQ_EVENT_NOTEOFF, 15, 37, 5, "0 midi 8f 25 05\n"},
        {SND_SEQ_EVENT_CONTROLLER, 1, 16, 127, "0 midi b1 10 7f\n"},
        {SND_SEQ_EVENT_PGMCHANGE, 0, 0, 7, "0 midi c0 07\n"},
        {SND_SEQ_EVENT_PITCHBEND, 2, 0, -8192, "0 midi e2 00 00\n"},
        {SND_SEQ_EVENT_CONTROL14, 0, 1, 0x3fff, "0 midi b0 01 7f\n0 midi b0 21 7f\n"},
        {SND_SEQ_EVENT_PORT_SUBSCRIBED, 0, 0, 0, ""},
    };
    char path[] = "/tmp/quorvanel-midi-XXXXXX";
    close(mkstemp(path));
    RecordingEngine engine;
    InputGate::Unseen window;
    InputGate gate(&engine, &window);
    for (const Case& c : cases) {
        snd_seq_event_t ev = {};
        ev.type = c.type;
        bool note = c.type == SND_SEQ_EVENT_NOTEON || c.type == SND_SEQ_EVENT_NOTEOFF;
        if (note) snd_seq_ev_set_noteon(&ev, c.channel, c.param, c.value);
        else snd_seq_ev_set_controller(&ev, c.channel, c.param, c.value);
        ev.type = c.type;
        Recorder recorder;
        ASSERT_TRUE(recorder.open(path));
        gate.listen(&recorder);
        EXPECT_EQ(seq_hand_on(&ev, gate), *c.recorded != '\0') << c.recorded;
        recorder.close();
        std::string text;
        EventScript::readFile(path, text);
        EXPECT_EQ(text.substr(text.find('\n') + 1), c.recorded);
    }
    std::remove(path);
}

// A second client sends to "quorvanel:midi in", connected by a piece of its
// port's name as --midi does, and the engine takes the key.
TEST(Midi, AMessageFromAnotherClientReachesTheEngine) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here: /dev/snd/seq is missing (the snd-seq kernel module is not loaded)";
    RecordingEngine engine;
    AbstractChubEngine* saved = abstr;
    host_engine(&engine);
    snd_seq_t* sender;
    ASSERT_GE(snd_seq_open(&sender, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    int out = snd_seq_create_simple_port(sender, "test keys", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    ASSERT_GE(out, 0);
    ASSERT_TRUE(open_seq("test keys"));
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, out);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_noteon(&ev, 4, 64, 100);  // E4: 'y'
    ASSERT_GE(snd_seq_event_output_direct(sender, &ev), 0);
    for (int tries = 0; tries < 200 && engine.keys.empty(); tries++) {
        pollfd fds[kSeqMostFds];
        poll(fds, static_cast<nfds_t>(seq_pollfds(fds, kSeqMostFds)), 10);
        seq_run();
    }
    EXPECT_EQ(engine.keys, std::vector<unsigned char>{'y'});
    snd_seq_close(sender);
    seq_close();
    host_engine(saved);
}

// A synth connected to "quorvanel:tuned out" hears the notes' own
// messages: the set-up and the note of the voice that sounds, and its end
// when the client closes.
TEST(Midi, ASynthConnectedToTunedOutHearsTheNotes) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here: /dev/snd/seq is missing (the snd-seq kernel module is not loaded)";
    ASSERT_TRUE(open_seq(nullptr));
    snd_seq_t* synth;
    snd_seq_addr_t from;
    ASSERT_GE(snd_seq_open(&synth, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK), 0);
    int in = snd_seq_create_simple_port(synth, "synth", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, 0);
    ASSERT_GE(snd_seq_parse_address(synth, &from, seq_tuned_address()), 0);
    ASSERT_GE(snd_seq_connect_from(synth, in, from.client, from.port), 0);
    LaceyBanks engine, twin;
    signed char report[8] = {100, 0, 0, 0, 0, 0, 0, 0};
    for (LaceyBanks* e : {&engine, &twin}) e->chubness(reinterpret_cast<ChubDevice*>(report), _CHUBREPORT{report, 8});
    seq_tuned_out().watch(&engine);
    seq_tuned_out().notes.setWay(TunedNotes::Way::Mts, 0);
    for (int tries = 0; tries < 20; tries++) {  // the connection's announcement
        pollfd fds[kSeqMostFds];
        poll(fds, static_cast<nfds_t>(seq_pollfds(fds, kSeqMostFds)), 10);
        seq_run();
    }
    seq_tuned_out().unitMade(0);
    seq_close();
    seq_tuned_out().watch(nullptr);
    TunedNotes want(TunedNotes::Way::Mts);
    want.afterUnit(twin, 0);
    want.silence(0);
    snd_midi_event_t* decoder;
    ASSERT_GE(snd_midi_event_new(32, &decoder), 0);
    snd_midi_event_no_status(decoder, 1);
    snd_seq_event_t* ev;
    int k = 0;
    for (int tries = 0; k < want.size() && tries < 200; tries++) {
        unsigned char bytes[32];
        long n = snd_seq_event_input(synth, &ev) < 0 ? (usleep(5000), 0) : snd_midi_event_decode(decoder, bytes, 32, ev);
        if (n <= 0) continue;
        EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + n),
                  std::vector<unsigned char>(want[k].bytes, want[k].bytes + want[k].length)) << k;
        k++;
    }
    EXPECT_EQ(k, want.size());
    snd_midi_event_free(decoder);
    snd_seq_close(synth);
}

}  // namespace
