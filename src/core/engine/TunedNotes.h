// The voices that sound, as exactly tuned MIDI notes for other synths.
// After each unit a host hands over the engine and the frame the unit
// began at; the voices of the banks in play whose level is above zero
// become notes, which start in the unit their voice starts sounding, end in
// the unit it falls silent and follow its ratio when it moves. The
// messages go into a fixed buffer with their unit's frame, until the host
// takes them (clear); nothing is allocated, so a plugin calls this on its
// audio thread.
//
// Pitch: a voice sounds at pitchOfOne × baseStep / 128 × n/d, twice that
// for a sawtooth, half of it while two banks alternate; in semitones s =
// 69 + 12 log2(f / 440). What is not sent: the frequency modulation and
// the triggers' share of the step size (the bend); a voice whose pitch lies
// outside MIDI's keys, s < 0 (8.18 Hz) or s > 127 (12543.85 Hz), and the
// constant level of the square switch with the sawtooth's, are left out.
//
// Two ways:
//   Mpe: each note on a channel of its own, 2..16 but 10 (MIDI's 1-based
//     numbering; status nibbles 1..15 but 9): a General MIDI synth plays
//     channel 10 as drums, so no note goes there. Each note is on the key
//     nearest its pitch with the rest as pitch bend (±2 semitones, 8192 =
//     none, 4096 a semitone: 0.024 cent a step). At the start: the MPE
//     configuration (RPN 6 on channel 1: a zone of 15 member channels, of
//     which 14 are used) and RPN 0 = 2 semitones on each channel used. A
//     pitch that moves past the bend's reach starts a new note. At most 14
//     notes: a sounding note keeps its channel; a voice that finds every
//     channel taken waits for one to free. New notes take, in the order of
//     the banks (current first), situations and voices, the channel silent
//     the longest, so a release tail is not bent.
//   Mts: every note on channel 1, each on a key of its own whose pitch a
//     real-time single-note tuning change (F0 7F 7F 08 02 0 1 key xx yy zz
//     F7; xx the semitone, yy zz its fraction in 1/16384: 0.006 cent)
//     sets before the note starts and whenever its ratio moves. At the
//     start, and whenever notes start after silence: tuning bank 0 (RPN
//     4), then tuning program 0 (RPN 3), which a synth needs to play the
//     tuned keys. A note takes the free key nearest its pitch, passing
//     over keys released in the last second whose tuning would change.
// Velocity: the level (its size, 1..127; a held king's louder levels are
// 127) when the note starts. Afterwards the level against that start,
// 127 × level / level at the start (at most 127), whenever it changes: as
// channel expression (CC 11, set to 127 before each note) in Mpe, where
// each note has its channel, and as polyphonic key pressure in Mts, where
// they share one. Expression multiplies with the velocity in a General
// MIDI synth, so the loudness follows the level down from where the note
// began and back up to it (the level itself would count the start twice).
#pragma once

#include "engine/LaceyBanks.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

class TunedNotes {
public:
    enum class Way { Mpe, Mts };

    static constexpr double kPitchOfOne = 22050.0 / 32;  // Hz of 1/1 at the step size 128
    static constexpr int kStepOfOne = 128;               // the step size at which 1/1 has that pitch
    static constexpr int kMostBytes = 12;                // a tuning change of one key
    static constexpr int kRoom = 1024;                   // messages held until the host takes them
    static constexpr int kZone = 15;                     // Mpe: the member channels announced, 2..16
    static constexpr int kChannels = 14;                 // Mpe: those used, all but 10 (drums)
    static constexpr int kKeys = 128;
    static constexpr int kBendRange = 2;                 // semitones either way
    static constexpr int kBendCentre = 8192;
    static constexpr int kBendMost = 16383;
    static constexpr int kFractions = 16384;             // Mts: steps of a semitone
    static constexpr long long kReleaseFrames = 22050;   // a released key rings on for about this long

    // One whole MIDI message; `frame` is the engine frame its unit began at.
    struct Message {
        long long frame = 0;
        int length = 0;
        unsigned char bytes[kMostBytes] = {};
    };

    explicit TunedNotes(Way way = Way::Mpe, double pitchOfOne = kPitchOfOne) : how(way) {
        setPitch(pitchOfOne);
        for (int& t : keyTuning) t = -1;
    }

    // The frequency of 1/1 in Hz (at the step size 128). Sounding notes
    // follow it from the next unit.
    void setPitch(double hz) { pitchOfOne = hz > 0 ? hz : kPitchOfOne; }
    double pitch() const { return pitchOfOne; }

    // Another way: the notes sounding end (at `frame`) and the next unit
    // starts with the new way's set-up.
    void setWay(Way way, long long frame) {
        if (way == how) return;
        silence(frame);
        how = way;
        setUp = false;
    }
    Way way() const { return how; }

    // "mpe" or "mts"; false for anything else.
    static bool wayNamed(const char* name, Way& out) {
        if (!name) return false;
        if (!std::strcmp(name, "mpe")) out = Way::Mpe;
        else if (!std::strcmp(name, "mts")) out = Way::Mts;
        else return false;
        return true;
    }

    // Looks at the voices after the unit that began at `frame` was made
    // (after its beging: the levels are the latest report's) and adds the
    // messages that bring the notes to them.
    void afterUnit(LaceyBanks& engine, long long frame) {
        at = frame;
        gather(engine);
        // The notes of the last unit first; a note that moves out of the
        // bend's reach starts again in a slot that must not be met twice.
        bool before[kKeys], silent = true;
        for (int slot = 0; slot < kKeys; slot++) {
            before[slot] = notes[slot].on;
            silent = silent && !before[slot];
        }
        // A synth's reset between phrases (a DAW's stop) drops the tuning
        // selection, so Mts selects again when notes start after silence;
        // it leaves Mpe's bend range at the default RPN 0 sets anyway.
        if (!setUp || (how == Way::Mts && silent && heard > 0)) {
            sendSetUp();
            setUp = true;
        }
        for (int slot = 0; slot < kKeys; slot++) {
            if (!before[slot]) continue;
            Sounding* s = find(notes[slot].who);
            if (!s) end(slot);
            else follow(slot, *s);
        }
        for (int i = 0; i < heard; i++)
            if (!sounding[i].placed) start(sounding[i]);
    }

    // Ends every note at `frame`, as at the end of a file.
    void silence(long long frame) {
        at = frame;
        for (int slot = 0; slot < kKeys; slot++)
            if (notes[slot].on) end(slot);
    }

    // Ends every note and sends the set-up again before the next unit's
    // notes, which start afresh: for a synth that has just been connected.
    void restart(long long frame) {
        silence(frame);
        setUp = false;
    }

    int size() const { return count; }
    const Message& operator[](int k) const { return out[k]; }
    // The host has taken the messages.
    void clear() { count = 0; }
    // Messages that found the buffer full, since the start.
    long long dropped() const { return lost; }

    // The pitch of a voice in semitones (69: 440 Hz), or a negative number
    // when it has none: the step size is 0 or less, or the wave is the
    // constant level. `banks`: 1, or 2 while two alternate.
    double semitones(int nume, int deno, int baseStep, int multiple, int banks) const {
        if (baseStep <= 0 || multiple <= 0 || nume <= 0 || deno <= 0) return -1;
        double hz = pitchOfOne * baseStep / kStepOfOne * nume * multiple / (static_cast<double>(deno) * banks);
        return 69 + 12 * std::log2(hz / 440);
    }

private:
    // A voice: its bank, its situation (a situation stays where it is
    // made) and its index in the situation.
    struct Voice {
        int bank = -1;
        const void* situation = nullptr;
        int voice = 0;
        bool operator==(const Voice& o) const { return bank == o.bank && situation == o.situation && voice == o.voice; }
    };

    struct Sounding {
        Voice who;
        double semitones = 0;
        int level = 0;  // 1..509
        bool placed = false;
    };

    // A note: Mpe keeps slot k for the channel memberOf(k), Mts slot k for key k.
    struct Note {
        bool on = false;
        Voice who;
        int key = 0;
        int bend = kBendCentre;  // Mpe
        int startLevel = 0;      // the level when it started
        int expression = 127;    // the expression (or pressure) last sent
        long long endedAt = -1;  // frame of its last note off; -1 never played
    };

    static constexpr int kMostSounding = 2 * MultiplexPotentiator::kSlots * 4;

    void gather(LaceyBanks& engine) {
        heard = 0;
        int current = engine.getCurrent(), previous = engine.getPrevious();
        int banks = current == previous ? 1 : 2;
        for (int b = 0; b < banks; b++) {
            int index = b == 0 ? current : previous;
            MultiplexPotentiator* bank = engine.getBank(index);
            int n = bank->chubamt();
            int first = bank->getSolo() ? bank->getSelected() : 0;
            int last = bank->getSolo() ? (n > 0 ? first + 1 : 0) : n;
            for (int k = first; k < last; k++) {
                ChubberySituation* s = bank->getSituation(k);
                if (!s) continue;
                for (int v = 0; v < 4; v++) {
                    int level = std::abs(s->getRFM()->settledLevel(v));
                    if (level == 0) continue;
                    RatChord* r = s->getGinger()->getRat(v);
                    double st = semitones(r->getNume(), r->getDeno(), s->getChink()->baseStep(),
                                          s->getGinger()->pitchMultiple(), banks);
                    if (st < 0 || st > kKeys - 1) continue;
                    Sounding& h = sounding[heard++];
                    h.who = Voice{index, s, v};
                    h.semitones = st;
                    h.level = level;
                    h.placed = false;
                }
            }
        }
    }

    Sounding* find(const Voice& who) {
        for (int i = 0; i < heard; i++)
            if (!sounding[i].placed && sounding[i].who == who) return &sounding[i];
        return nullptr;
    }

    // The tuning of a pitch: semitone × 16384 + fraction, at most the
    // highest value that is not "no change" (7F 7F 7F).
    static int tuningOf(double semitones) {
        long v = std::lround(semitones * kFractions);
        long most = static_cast<long>(kKeys) * kFractions - 2;
        return static_cast<int>(v < 0 ? 0 : v > most ? most : v);
    }

    // 127 × level / start, rounded, at most 127.
    static int expressionOf(int level, int start) {
        int e = (127 * level + start / 2) / start;
        return e < 127 ? e : 127;
    }

    static int bendOf(double semitones, int key) {
        return static_cast<int>(std::lround(kBendCentre + (semitones - key) * kBendCentre / kBendRange));
    }

    void follow(int slot, Sounding& s) {
        s.placed = true;
        Note& n = notes[slot];
        if (how == Way::Mpe) {
            int bend = bendOf(s.semitones, n.key);
            if (bend < 0 || bend > kBendMost) {
                // Past the bend's reach: a new note, on the channel silent longest.
                end(slot);
                s.placed = false;
                start(s);
                return;
            }
            if (bend != n.bend) sendBend(slot, bend);
        } else {
            int tuning = tuningOf(s.semitones);
            if (tuning != keyTuning[slot]) sendTuning(slot, tuning);
        }
        int expression = expressionOf(s.level, n.startLevel);
        if (expression != n.expression) {
            if (how == Way::Mpe) send(0xb0 | memberOf(slot), 11, expression);
            else send(0xa0, slot, expression);
            n.expression = expression;
        }
    }

    void start(Sounding& s) {
        int slot = how == Way::Mpe ? freeChannel() : freeKey(s.semitones);
        if (slot < 0) return;  // every channel taken: it waits
        s.placed = true;
        Note& n = notes[slot];
        n.on = true;
        n.who = s.who;
        n.startLevel = s.level;
        n.expression = 127;
        int velocity = s.level < 127 ? s.level : 127;
        if (how == Way::Mpe) {
            n.key = static_cast<int>(std::lround(s.semitones));
            sendBend(slot, bendOf(s.semitones, n.key));
            send(0xb0 | memberOf(slot), 11, 127);
            send(0x90 | memberOf(slot), n.key, velocity);
        } else {
            n.key = slot;
            sendTuning(slot, tuningOf(s.semitones));
            send(0x90, slot, velocity);
        }
    }

    void end(int slot) {
        Note& n = notes[slot];
        send(0x80 | (how == Way::Mpe ? memberOf(slot) : 0), n.key, 0x40);
        n.on = false;
        n.endedAt = at;
    }

    // Mpe: the status nibble of slot k's channel, 1..15 passing over 9
    // (channel 10).
    static int memberOf(int slot) { return slot < 8 ? slot + 1 : slot + 2; }

    int freeChannel() const {
        int best = -1;
        for (int c = 0; c < kChannels; c++)
            if (!notes[c].on && (best < 0 || notes[c].endedAt < notes[best].endedAt)) best = c;
        return best;
    }

    // The free key nearest the pitch (the lower of two as near); keys still
    // ringing after their release are passed over while another is free,
    // unless they are tuned to the pitch already.
    int freeKey(double semitones) const {
        int want = tuningOf(semitones);
        int best = -1, ringing = -1;
        for (int k = 0; k < kKeys; k++) {
            if (notes[k].on) continue;
            bool rings = notes[k].endedAt >= 0 && at - notes[k].endedAt < kReleaseFrames && keyTuning[k] != want;
            int& pick = rings ? ringing : best;
            if (pick < 0 || std::fabs(k - semitones) < std::fabs(pick - semitones)) pick = k;
        }
        return best >= 0 ? best : ringing;
    }

    void sendSetUp() {
        if (how == Way::Mpe) {
            rpn(0, 6, kZone);  // the MPE configuration: channel 1 manages channels 2..16
            for (int slot = 0; slot < kChannels; slot++) rpn(memberOf(slot), 0, kBendRange);
        } else {
            rpn(0, 4, 0);  // tuning bank 0 first: the program's selection activates it
            rpn(0, 3, 0);
        }
        for (Note& n : notes) n.bend = kBendCentre;
        for (int& t : keyTuning) t = -1;
    }

    // A registered parameter, its value as data entry (for RPN 0 the fine
    // part too), then the null parameter so later data entries touch nothing.
    void rpn(int channel, int parameter, int value) {
        int status = 0xb0 | channel;
        send(status, 101, 0);
        send(status, 100, parameter);
        send(status, 6, value);
        if (parameter == 0) send(status, 38, 0);
        send(status, 101, 127);
        send(status, 100, 127);
    }

    void sendBend(int slot, int bend) {
        notes[slot].bend = bend;
        send(0xe0 | memberOf(slot), bend & 0x7f, bend >> 7);
    }

    void sendTuning(int key, int tuning) {
        keyTuning[key] = tuning;
        const unsigned char change[kMostBytes] = {
            0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 1, static_cast<unsigned char>(key),
            static_cast<unsigned char>(tuning / kFractions), static_cast<unsigned char>((tuning >> 7) & 0x7f),
            static_cast<unsigned char>(tuning & 0x7f), 0xf7};
        put(change, kMostBytes);
    }

    void send(int status, int a, int b) {
        const unsigned char m[3] = {static_cast<unsigned char>(status), static_cast<unsigned char>(a),
                                    static_cast<unsigned char>(b)};
        put(m, 3);
    }

    void put(const unsigned char* bytes, int length) {
        if (count == kRoom) {
            lost++;
            return;
        }
        Message& m = out[count++];
        m.frame = at;
        m.length = length;
        std::memcpy(m.bytes, bytes, length);
    }

    Way how;
    double pitchOfOne = kPitchOfOne;
    bool setUp = false;
    long long at = 0;  // the frame of the messages being made
    Sounding sounding[kMostSounding];
    int heard = 0;
    Note notes[kKeys];
    int keyTuning[kKeys];  // Mts: the tuning last sent for each key, -1 none
    Message out[kRoom];
    int count = 0;
    long long lost = 0;
};
