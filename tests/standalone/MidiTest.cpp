// MIDI into the input gate: the map as one table of messages and what the
// engine takes unit by unit (reports, keys, repaints), merged with a game
// controller; every case's recording, replayed, gives the engine the same
// calls. Then the sequencer: events decoded back into the messages the gate
// records, and a second client's message reaching the engine where the
// machine has a sequencer.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "RecordingEngine.h"
#include "engine/InputGate.h"
#include "standalone/grax.h"
#include "standalone/seq.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using hosttest::RecordingEngine;

// A game controller that plays from a given unit on, each step's report
// from its unit on.
struct FakePad final : InputGate::Controllers {
    std::vector<std::pair<int, std::array<signed char, 8>>> steps;
    int unit = 0;
    bool unitReport(signed char out[8]) override {
        const std::array<signed char, 8>* now = nullptr;
        for (const auto& s : steps)
            if (s.first <= unit) now = &s.second;
        unit++;
        if (!now) return false;
        std::copy(now->begin(), now->end(), out);
        return true;
    }
};

// What the engine took, unit by unit: "report B0..B7", "key K" (a
// character, or its code below '!'), "paint"; units end in " |".
std::string took(const RecordingEngine& e) {
    std::string out;
    size_t r = 0, k = 0;
    for (const std::string& c : e.calls) {
        if (c == "chubness") {
            out += " report";
            for (signed char b : e.reports[r].bytes) out += " " + std::to_string(b);
            r++;
        } else if (c.rfind("key", 0) == 0) {
            unsigned char key = e.keys[k++];
            out += " key " + (key > ' ' ? std::string(1, static_cast<char>(key)) : std::to_string(key));
        } else if (c == "graxness") {
            out += " paint";
        } else if (c == "beging") {
            out += " |";
        }
    }
    return out;
}

// Plays `script` for `units` units through a gate (with `pad` when it has
// steps), recording to `recording` when not empty.
std::string play(const std::string& script, int units, FakePad pad, const std::string& recording = "") {
    EventScript s;
    EXPECT_TRUE(s.parse(script)) << s.message();
    RecordingEngine engine;
    InputGate::Unseen window;
    InputGate gate(&engine, &window, pad.steps.empty() ? nullptr : &pad);
    Recorder recorder;
    if (!recording.empty()) {
        EXPECT_TRUE(recorder.open(recording.c_str()));
        gate.listen(&recorder);
    }
    gate.play(&s.events);
    for (int u = 0; u < units; u++) {
        gate.beforeUnit();
        engine.beging();
        gate.afterUnit();
    }
    return took(engine);
}

TEST(Midi, TheMapUnitByUnit) {
    using R = std::array<signed char, 8>;
    struct Case {
        const char* what;
        std::string script;
        int units;
        std::vector<std::pair<int, R>> pad;
        std::string want;
    };
    const Case cases[] = {
        {"keys before MIDI plays leave reports as they come", "0 midi 90 3c 40\n0 report 5 0 0 0 0 0 0 0\n256 midi c0 03\n",
         2, {}, " key w report 5 0 0 0 0 0 0 0 paint | key 3 |"},
        {"general purpose 1-4: 2 x (v - 64), every channel", "0 midi b0 10 00\n0 midi b1 11 7f\n0 midi bf 12 40\n0 midi b0 13 41\n",
         1, {}, " report -128 126 0 2 0 0 0 0 paint |"},
        {"the mod wheel is axis 0 as it stands; the latest of the two wins",
         "0 midi b0 01 64\n256 midi b0 10 40\n512 midi b0 01 7f\n", 3, {},
         " report 100 0 0 0 0 0 0 0 paint | report 0 0 0 0 0 0 0 0 | report 127 0 0 0 0 0 0 0 |"},
        {"pitch bend: (b - 8192) >> 6", "0 midi e0 00 00\n256 midi e0 7f 7f\n512 midi e5 00 40\n768 midi e0 7f 3f\n",
         4, {},
         " report 0 0 0 0 -128 0 0 0 paint | report 0 0 0 0 127 0 0 0 | report 0 0 0 0 0 0 0 0 |"
         " report 0 0 0 0 -1 0 0 0 |"},
        {"voice notes hold their buttons until their note off, velocity 0 too",
         "0 midi 90 24 64\n256 midi 90 27 01\n512 midi 80 24 00\n768 midi 9a 27 00\n", 4, {},
         " report 0 0 0 0 0 0 0 1 paint | report 0 0 0 0 0 0 0 65 | report 0 0 0 0 0 0 0 64 |"
         " report 0 0 0 0 0 0 0 0 |"},
        {"an on and off inside one unit is one press", "0 midi 90 25 7f\n100 midi 80 25 00\n", 2, {},
         " report 0 0 0 0 0 0 0 4 paint | report 0 0 0 0 0 0 0 0 |"},
        {"all notes off", "0 midi 90 24 7f\n0 midi 90 26 7f\n256 midi b3 7b 00\n", 2, {},
         " report 0 0 0 0 0 0 0 17 paint | report 0 0 0 0 0 0 0 0 |"},
        {"reset all controllers: axes and byte 4 to 0, buttons kept",
         "0 midi b0 10 00\n0 midi e0 00 00\n0 midi 90 24 7f\n256 midi b0 79 00\n", 2, {},
         " report -128 0 0 0 -128 0 0 1 paint | report 0 0 0 0 0 0 0 1 |"},
        {"key notes and program changes; everything else ignored",
         "0 midi 90 30 01\n0 midi 90 31 7f\n0 midi 90 32 7f\n0 midi 90 33 7f\n0 midi 90 34 7f\n"
         "0 midi 90 35 7f\n0 midi 90 36 7f\n0 midi 90 37 7f\n0 midi 90 38 7f\n0 midi 90 3c 7f\n"
         "0 midi 9f 44 7f\n0 midi 90 48 7f\n0 midi 90 50 7f\n0 midi 90 54 7f\n0 midi 90 5b 7f\n"
         "0 midi c0 00\n0 midi c0 09\n0 midi c0 0a\n0 midi 90 2f 7f\n0 midi 90 39 7f\n0 midi 90 5c 7f\n"
         "0 midi 80 3c 7f\n0 midi 90 3c 00\n0 midi b0 07 7f\n0 midi a0 24 7f\n0 midi d0 7f\n0 midi f8\n",
         1, {}, " key 13 key 8 key 32 key / key q key a key [ key ' key z key w key p key s key ; key x key . key 0 key 9 |"},
        {"merged with a game controller: each axis from who moved it last, buttons from either",
         "256 midi b0 11 00\n256 midi 90 24 7f\n", 4,
         {{0, R{40, 0, 0, 0, 0, 0, 0, 4}}, {2, R{40, 30, 0, 0, 0, 0, 0, 0}}},
         " report 40 0 0 0 0 0 0 4 paint | report 40 -128 0 0 0 0 0 5 | report 40 30 0 0 0 0 0 1 |"
         " report 40 30 0 0 0 0 0 1 |"},
    };
    char path[] = "/tmp/quorvanel-midi-XXXXXX";
    close(mkstemp(path));
    for (const Case& c : cases) {
        FakePad pad;
        pad.steps = c.pad;
        EXPECT_EQ(play(c.script, c.units, pad, path), c.want) << c.what;
        // The recording alone (the pad's reports in it as report lines)
        // gives the engine the same calls.
        std::string recording;
        EventScript::readFile(path, recording);
        EXPECT_EQ(play(recording, c.units, FakePad{}), c.want) << c.what << "\n" << recording;
    }
    std::remove(path);
}

// The recording keeps each message as it came and nothing it made: no key
// line for a key note, no merged report; system real-time messages and
// broken messages leave no line.
TEST(Midi, TheRecordingKeepsTheMessagesAsTheyCame) {
    char path[] = "/tmp/quorvanel-midi-XXXXXX";
    close(mkstemp(path));
    {
        RecordingEngine engine;
        InputGate::Unseen window;
        InputGate gate(&engine, &window);
        Recorder recorder;
        ASSERT_TRUE(recorder.open(path));
        gate.listen(&recorder);
        const unsigned char msgs[][3] = {{0x90, 0x3c, 0x40}, {0xb0, 0x10, 0x7f}, {0xf8, 0, 0}, {0x90, 0x80, 0},
                                         {0x3c, 0x40, 0}, {0xc2, 0x05, 0}};
        const int sizes[] = {3, 3, 1, 3, 2, 2};
        for (int i = 0; i < 6; i++) gate.midi(msgs[i], sizes[i]);
        gate.midi(msgs[0], 2);  // not whole
        gate.beforeUnit();
        gate.afterUnit();
        signed char pad[8] = {1, 2, 3, 4, 5, 0, 0, 0};
        gate.report(pad);
        EXPECT_EQ(engine.reports.size(), 1u);  // the merged one: the report waits for the next unit
    }
    std::string text;
    EventScript::readFile(path, text);
    EXPECT_EQ(text.substr(text.find('\n') + 1),
              "0 midi 90 3c 40\n0 midi b0 10 7f\n0 midi c2 05\n256 report 1 2 3 4 5 0 0 0\n");
    std::remove(path);
}

// A sequencer event is decoded back into its messages (a 14-bit controller
// into two); events that carry none hand nothing on. Needs no sequencer.
TEST(Midi, SequencerEventsBecomeTheirMessages) {
    struct Case {
        snd_seq_event_type_t type;
        int channel, param, value;  // note: param = note, value = velocity
        bool handed;
        const char* recorded;
    };
    const Case cases[] = {
        {SND_SEQ_EVENT_NOTEON, 0, 60, 64, true, "0 midi 90 3c 40\n"},
        {SND_SEQ_EVENT_NOTEON, 3, 36, 0, true, "0 midi 93 24 00\n"},
        {SND_SEQ_EVENT_NOTEOFF, 15, 37, 5, true, "0 midi 8f 25 05\n"},
        {SND_SEQ_EVENT_CONTROLLER, 1, 16, 127, true, "0 midi b1 10 7f\n"},
        {SND_SEQ_EVENT_PGMCHANGE, 0, 0, 7, true, "0 midi c0 07\n"},
        {SND_SEQ_EVENT_PITCHBEND, 0, 0, -8192, true, "0 midi e0 00 00\n"},
        {SND_SEQ_EVENT_PITCHBEND, 2, 0, 8191, true, "0 midi e2 7f 7f\n"},
        {SND_SEQ_EVENT_CONTROL14, 0, 1, 0x3fff, true, "0 midi b0 01 7f\n0 midi b0 21 7f\n"},
        {SND_SEQ_EVENT_PORT_SUBSCRIBED, 0, 0, 0, false, ""},
    };
    char path[] = "/tmp/quorvanel-midi-XXXXXX";
    close(mkstemp(path));
    RecordingEngine engine;
    InputGate::Unseen window;
    InputGate gate(&engine, &window);
    for (const Case& c : cases) {
        snd_seq_event_t ev = {};
        ev.type = c.type;
        if (c.type == SND_SEQ_EVENT_NOTEON || c.type == SND_SEQ_EVENT_NOTEOFF) {
            ev.data.note.channel = static_cast<unsigned char>(c.channel);
            ev.data.note.note = static_cast<unsigned char>(c.param);
            ev.data.note.velocity = static_cast<unsigned char>(c.value);
        } else {
            ev.data.control.channel = static_cast<unsigned char>(c.channel);
            ev.data.control.param = static_cast<unsigned int>(c.param);
            ev.data.control.value = c.value;
        }
        Recorder recorder;
        ASSERT_TRUE(recorder.open(path));
        gate.listen(&recorder);
        EXPECT_EQ(seq_hand_on(&ev, gate), c.handed) << c.recorded;
        gate.listen(nullptr);
        recorder.close();
        std::string text;
        EventScript::readFile(path, text);
        EXPECT_EQ(text.substr(text.find('\n') + 1), c.recorded);
    }
    const std::vector<unsigned char> keys = {'w', '7'};  // note 60 and program 7
    EXPECT_EQ(engine.keys, keys);
    std::remove(path);
}

// A second client sends to "quorvanel:midi in" and the engine takes it.
TEST(Midi, AMessageFromAnotherClientReachesTheEngine) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing: the snd-seq kernel module is not loaded"
                        " or the machine has no sound core)";
    RecordingEngine engine;
    AbstractChubEngine* saved = abstr;
    host_engine(&engine);
    ASSERT_TRUE(open_seq(nullptr));
    snd_seq_t* sender;
    ASSERT_GE(snd_seq_open(&sender, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    snd_seq_set_client_name(sender, "quorvanel test keys");
    int out = snd_seq_create_simple_port(sender, "test keys", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(out, 0);
    // Connected from our side, by a piece of the port's name, as --midi does.
    seq_close();
    ASSERT_TRUE(open_seq("test keys"));
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, out);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_noteon(&ev, 4, 64, 100);  // E4: 'y'
    ASSERT_GE(snd_seq_event_output_direct(sender, &ev), 0);
    int got = 0;
    for (int tries = 0; tries < 200 && engine.keys.empty(); tries++) {
        pollfd fds[kSeqMostFds];
        int n = seq_pollfds(fds, kSeqMostFds);
        ASSERT_GT(n, 0);
        poll(fds, static_cast<nfds_t>(n), 10);
        got += seq_run();
    }
    EXPECT_EQ(got, 1);
    EXPECT_EQ(engine.keys, std::vector<unsigned char>{'y'});
    snd_seq_close(sender);
    seq_close();
    host_engine(saved);
}

}  // namespace
